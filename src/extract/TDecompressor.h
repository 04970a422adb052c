#pragma once

// TDecompressor: turns the archive volumes that the volume downloader is still writing into
// the video file the player plays. It unpacks nothing itself:
//
//  1. at the first notification for the set's first volume it copies the head of that volume
//     to "temp.rar" beside it (CopyGrowingFile), lists the copy with TRAR and so learns the
//     largest entry (ExtractedFileName, LargestSize) and whether a password is needed (asked
//     through the engine's questions interface, UserInteraction().AskText); it deletes a
//     leftover output file of that name inside OutputDirectory;
//  2. it starts the extractor UnrarDirectory + "unrar" once, directly (no shell), with
//        x -y -dh -kb [-p<password>] -idp -ss<Available> "<first volume>" "<OutputDirectory>"
//     split into arguments as a shell would (see CommandLine.h);
//  3. at every notification it rewrites the progress file UnrarDirectory + "unrar.txt" with
//     the downloader's count, and on destruction with -1 ("OK" when the file exists); the
//     extractor reads it as rar/ExtractorProtocol.h describes.
//
// It never waits for the extractor and never reads what the extractor writes.
//
// Used by the volume downloader (TDownloader) and the playback controller (TPlayer), all on
// the GUI thread:
//  - DataAvailable(volume path, complete byte count) is the one notification. It is dropped
//    while Busy() is true (the password prompt dispatches events while it is open).
//  - Busy(): true while a notification is being handled. A caller that must wait for it (the
//    volume downloader before its next volume) must not spin in a nested event loop below a
//    running notification: that loop would never see Busy() clear. Re-check from a timer or a
//    queued call instead.
//  - ExtractedFileName(): the entry's path inside the archive ("/" between folders), relative
//    to OutputDirectory(); empty until a listing found it. The volume downloader sets it to
//    the file name of a volume that is itself a playable video. A name that would lead outside
//    OutputDirectory() is refused (it stays empty).
//  - Release(): how the owner ends a decompressor. When no notification, prompt or library
//    callback of it is running it is deleted at once; otherwise it is deleted as soon as the
//    outermost of them returns. Never `delete` a decompressor that may be inside a
//    notification; do not make it a QObject child of something that may die meanwhile.

#include "download/IVideoExtraction.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class TRAR;
struct TRARFileItem;

class TDecompressor : public IVideoExtraction {
    Q_OBJECT

public:
    explicit TDecompressor(QObject* owner = nullptr);
    // Writes the progress file with -1 ("OK" when it exists), then destroys RAR (which unloads
    // the listing library). The extractor is not stopped and no file is deleted.
    ~TDecompressor() override;
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    // The directory for extracted files (the uncompressed directory); a "/" is put between it
    // and a file name.
    void SetOutputDirectory(const QString& directory) { outputDirectory_ = directory; }
    const QString& OutputDirectory() const override { return outputDirectory_; }
    // The folder of the extractor and its progress file, ending with "/"; names are appended
    // to it directly.
    void SetUnrarDirectory(const QString& directory) { unrarDirectory_ = directory; }
    const QString& UnrarDirectory() const { return unrarDirectory_; }

    // Set by the playback controller before the first notification (the video's "password:"
    // line), and by the password prompts. Stored as given; the command line carries it trimmed.
    void SetArchivePassword(const QString& password) { archivePassword_ = password; }
    const QString& ArchivePassword() const { return archivePassword_; }

    // See above. SetExtractedFileName refuses (keeps the old value) a name that is absolute,
    // holds "..", a drive letter or a device name.
    const QString& ExtractedFileName() const override { return extractedFileName_; }
    void SetExtractedFileName(const QString& name) override;
    // The full unpacked size of that entry; 0 at first.
    std::int64_t LargestSize() const { return largestSize_; }

    bool Busy() const override { return busy_; }
    bool ExtractorStarted() const { return extractorStarted_; }
    // The process id of the extractor this decompressor started; 0 before (or when it failed).
    qint64 ExtractorProcessId() const { return extractorProcessId_; }

    // The one notification: `fileName` is the full path of the volume being downloaded,
    // `available` the downloader's count of leading bytes of it known complete (0 in the last
    // notification, after all volumes). Errors of the file operations reach the caller; Busy
    // is cleared all the same.
    void DataAvailable(const QString& fileName, std::int64_t available);

    // Writes the progress file: created holding the decimal text and CR LF when missing;
    // otherwise overwritten from its first byte, not shortened, with the decimal text ("OK" for
    // -1) and 15 zero bytes. Raises Exception when the file cannot be written.
    void WriteProgressFile(std::int64_t value);

    // The snapshot copy of a volume that is still growing: appends the source's bytes to the
    // target, 8,192 at a time, while the source is larger than the target. Raises Exception.
    static void CopyGrowingFile(const QString& source, const QString& target);

    // The extractor's parameter text for a start from `firstVolume` with `available` bytes.
    QString ExtractorParameters(const QString& firstVolume, std::int64_t available) const;

    // Starts `program` directly with `arguments`, detached, with no window; its working
    // directory is the program's folder. False when it could not be started; else its process
    // id goes to `processId` when given.
    static bool RunProgram(const QString& program, const QStringList& arguments,
                           qint64* processId = nullptr);

    // Ends the decompressor now, or as soon as its running notification returns (see above).
    void Release();

private:
    void HandleDataAvailable(const QString& fileName, std::int64_t available);
    void ListSnapshot(const QString& fileName);
    void RARListFile(const TRARFileItem& fileInformation);
    void RARPasswordRequired(bool headerPassword, const QString& fileName, QString& newPassword,
                             bool& cancel);
    bool AskPassword(QString& password);
    void LeaveCall();

    QString outputDirectory_;
    QString unrarDirectory_;
    QString archivePassword_;
    QString extractedFileName_;
    std::int64_t largestSize_ = 0;
    bool busy_ = false;
    bool extractorStarted_ = false;
    qint64 extractorProcessId_ = 0;
    // The set's first volume could not be used; reported once.
    bool firstVolumeMissingReported_ = false;
    // Notifications, prompts and library callbacks running now, and whether Release was called.
    int activeCalls_ = 0;
    bool releaseRequested_ = false;
    std::unique_ptr<TRAR> RAR;
};
