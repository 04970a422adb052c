#pragma once

#include <QString>
#include <QtGlobal>

class TRAR;

// What a listing learnt about the archive. Read-only for users of TRAR, which fills it.
class TRARArchiveInformation {
public:
    const QString& FileName() const { return FileName_; }
    quint32 ArchiverMajorVersion() const { return ArchiverMajorVersion_; }
    quint32 ArchiverMinorVersion() const { return ArchiverMinorVersion_; }
    qint64 DictionarySize() const { return DictionarySize_; }
    bool Encryption() const { return Encryption_; }
    bool Solid() const { return Solid_; }
    const QString& HostOS() const { return HostOS_; }
    qint32 TotalFiles() const { return TotalFiles_; }
    qint64 CompressedSize() const { return CompressedSize_; }
    qint64 UnCompressedSize() const { return UnCompressedSize_; }
    bool HeaderEncrypted() const { return HeaderEncrypted_; }
    bool MultiVolume() const { return MultiVolume_; }
    bool ArchiveComment() const { return ArchiveComment_; }
    bool FileComment() const { return FileComment_; }
    const QString& Comment() const { return Comment_; }
    bool Signed() const { return Signed_; }
    bool Locked() const { return Locked_; }
    bool Recovery() const { return Recovery_; }
    bool SFX() const { return SFX_; }

private:
    friend class TRAR;
    void Reset() { *this = TRARArchiveInformation(); }

    bool Opened_ = false;
    QString FileName_;
    quint32 ArchiverMajorVersion_ = 0;
    quint32 ArchiverMinorVersion_ = 0;
    qint64 DictionarySize_ = 0;
    bool Encryption_ = false;
    bool Solid_ = false;
    QString HostOS_;
    qint32 TotalFiles_ = 0;
    qint64 CompressedSize_ = 0;
    qint64 UnCompressedSize_ = 0;
    bool HeaderEncrypted_ = false;
    bool MultiVolume_ = false;
    bool ArchiveComment_ = false;
    bool FileComment_ = false;
    QString Comment_;
    bool Signed_ = false;
    bool Locked_ = false;
    bool Recovery_ = false;
    bool SFX_ = false;
};
