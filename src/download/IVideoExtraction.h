#pragma once

#include <QObject>
#include <QString>

// What the volume downloader needs of the extraction that consumes its volumes: whether a
// notification is being handled, where the video is written, and the video's name, which the
// downloader sets itself when a volume is already the playable video. The decompressor
// implements it; the downloader never sees more of it.
class IVideoExtraction : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool Busy() const = 0;
    virtual const QString& OutputDirectory() const = 0;
    // Relative to OutputDirectory(); empty while unknown.
    virtual const QString& ExtractedFileName() const = 0;
    // A name that would lead outside OutputDirectory() is refused (the old value stays).
    virtual void SetExtractedFileName(const QString& name) = 0;

    // The full path of the extracted file, or empty while the name is unknown.
    QString ExtractedFilePath() const {
        if (ExtractedFileName().isEmpty())
            return QString();
        const QString& dir = OutputDirectory();
        return dir.endsWith(QLatin1Char('/')) ? dir + ExtractedFileName()
                                              : dir + QLatin1Char('/') + ExtractedFileName();
    }
};
