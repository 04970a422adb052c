#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The operation an error of the RAR binding belongs to.
enum TRAROperation { roInitArchive, roListFiles, roExtract, roTest };

// What an extraction would do with a file that exists already (no event of the listing uses
// it).
enum TRARReplace { rrCancel, rrOverwrite, rrSkip };

struct TRARReplaceData {
    QString FileName;
    quint64 Size = 0;
    QDateTime Time;
};

// One entry of an archive as OnListFile reports it. Sizes are 64-bit, high words included.
struct TRARFileItem {
    QString FileName;
    // Packed size; for the last piece of a split entry read with ReadMultiVolumeToEnd, the
    // sum of all its pieces.
    quint64 CompressedSize = 0;
    quint64 UnCompressedSize = 0;
    QString HostOS;
    QString CRC32;
    quint32 Attributes = 0;
    QString Comment;
    QDateTime Time;
    quint32 CompressionMethod = 0;
    quint32 UnpackVersion = 0;
    bool Encrypted = false;
};
