#pragma once

#include "extract/TRARArchiveInformation.h"
#include "extract/TRARFileItem.h"
#include "libunrar/UnrarInterface.h"

#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

// Lists one RAR archive through the RAR listing library, answers the library's callbacks
// through events and gathers ArchiveInformation. Never extracts.
class TRAR : public QObject {
public:
    using TOnRARErrorNotifyEvent =
        std::function<void(TRAR* Sender, qint32 ErrorCode, TRAROperation Operation)>;
    using TOnRARListFile = std::function<void(TRAR* Sender, const TRARFileItem& FileInformation)>;
    using TOnRARPasswordRequired =
        std::function<void(TRAR* Sender, bool HeaderPassword, const QString& FileName,
                           QString& NewPassword, bool& Cancel)>;
    using TOnRARNextVolumeRequired = std::function<void(
        TRAR* Sender, const QString& requiredFileName, QString& newFileName, bool& Cancel)>;
    using TOnRARProcess = std::function<void(TRAR* Sender, const QString& FileName,
                                             quint64 ArchiveBytesTotal, quint64 ArchiveBytesDone,
                                             quint64 FileBytesTotal, quint64 FileBytesDone)>;
    using TOnRARReplace = std::function<void(TRAR* Sender, const TRARReplaceData& ExistingData,
                                             const TRARReplaceData& NewData, TRARReplace& Action)>;

    explicit TRAR(QObject* owner = nullptr);
    // Also unloads the RAR library for the whole process.
    ~TRAR() override;

    QString GetVersion() const;
    QString Version() const { return GetVersion(); }

    bool ReadMultiVolumeToEnd() const { return ReadMultiVolumeToEnd_; }
    void SetReadMultiVolumeToEnd(bool value) { ReadMultiVolumeToEnd_ = value; }

    void SetOnError(TOnRARErrorNotifyEvent handler) { OnError = std::move(handler); }
    void SetOnListFile(TOnRARListFile handler) { OnListFile = std::move(handler); }
    void SetOnPasswordRequired(TOnRARPasswordRequired handler) {
        OnPasswordRequired = std::move(handler);
    }
    void SetOnNextVolumeRequired(TOnRARNextVolumeRequired handler) {
        OnNextVolumeRequired = std::move(handler);
    }
    void SetOnProgress(TOnRARProcess handler) { OnProgress = std::move(handler); }
    void SetOnReplace(TOnRARReplace handler) { OnReplace = std::move(handler); }

    const TRARArchiveInformation& ArchiveInformation() const { return *ArchiveInformation_; }

    // Lists the archive, firing the events; true when the listing ran to its end. An error
    // raised by an event handler ends the listing and is raised again here once the archive
    // is closed.
    bool OpenFile(const QString& FileName);

private:
    bool List();
    bool OpenArchive(bool forExtraction);
    void ProcessHeader();
    void CloseArchive();
    void ReportError(qint32 code, TRAROperation operation);
    int HandleCallback(unsigned int msg, RAR_LPARAM p1, RAR_LPARAM p2);
    static int RARCallback(unsigned int msg, RAR_LPARAM userData, RAR_LPARAM p1, RAR_LPARAM p2);

    bool ReadMultiVolumeToEnd_ = false;
    TOnRARErrorNotifyEvent OnError;
    TOnRARListFile OnListFile;
    TOnRARPasswordRequired OnPasswordRequired;
    TOnRARNextVolumeRequired OnNextVolumeRequired;
    TOnRARProcess OnProgress;
    TOnRARReplace OnReplace;
    std::unique_ptr<TRARArchiveInformation> ArchiveInformation_;

    std::unique_ptr<RAROpenArchiveDataEx> archiveData_;
    std::unique_ptr<RARHeaderDataEx> headerData_;
    std::vector<wchar_t> archiveNameW_;
    void* handle_ = nullptr;
    bool abort_ = false;
    QString processedFileName_;
    quint64 processedFileSize_ = 0;
    quint64 fileBytesDone_ = 0;
    quint64 archiveBytesDone_ = 0;
    quint64 splitPackedSize_ = 0;
    QString password_;
    std::vector<char> commentBuffer_;
    TRAR* self_;
    std::exception_ptr handlerError_;
};
