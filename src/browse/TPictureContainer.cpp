#include "browse/TPictureContainer.h"

#include <QImageReader>

void TPictureContainer::Add(const QString& name, const QImage& picture) {
    pictures_.insert(name.toLower(), picture);
}

const QImage* TPictureContainer::Find(const QString& name) const {
    const auto found = pictures_.constFind(name.toLower());
    return found == pictures_.constEnd() ? nullptr : &found.value();
}

QImage TPictureContainer::LoadPicture(const QString& path, const QSize& size) {
    // A cover file is named ".jpg" whatever it holds, so the content decides the format.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (size.isValid() && !size.isEmpty())
        reader.setScaledSize(size);
    return reader.read();
}
