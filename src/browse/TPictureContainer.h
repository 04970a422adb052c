#pragma once

#include <QHash>
#include <QImage>
#include <QString>

// The main window's named pictures, which the cover panels' picture captions name. Names are
// compared without regard to letter case. A name holds one picture: adding it again replaces
// the picture, so the container holds one entry per cover shown, not one per page view.
class TPictureContainer {
public:
    // The placeholder cover's name.
    static inline const QString NoImageName = QStringLiteral("noimage.png");

    void Add(const QString& name, const QImage& picture);
    // The picture of that name, or nullptr.
    const QImage* Find(const QString& name) const;
    int Count() const { return static_cast<int>(pictures_.size()); }
    void Clear() { pictures_.clear(); }

    // Loads a picture from a file: a missing, empty or unreadable file gives an empty picture.
    // With a valid `size` the picture is decoded at that size (as it is drawn), which for JPEG
    // costs a fraction of decoding it whole.
    static QImage LoadPicture(const QString& path, const QSize& size = QSize());

private:
    QHash<QString, QImage> pictures_;
};
