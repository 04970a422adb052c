#include "playback/EarlierVolumes.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

QStringList MoveEarlierVolumesAside(const QString& compressedDir) {
    static const QRegularExpression volumeName(QStringLiteral("\\.(rar|r\\d\\d)$"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QDir dir(compressedDir);
    QStringList moved;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        if (!volumeName.match(name).hasMatch())
            continue;
        const QString from = dir.filePath(name);
        const QString to = from + EarlierSuffix;
        QFile::remove(to);
        if (QFile::rename(from, to))
            moved << name;
    }
    return moved;
}
