#pragma once

#include "download/IVideoExtraction.h"
#include "download/TMultipartHttpDownloader.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class QTimer;

// The name's extension is that of a playable video (such a volume needs no extraction).
bool IsVideoFile(const QString& fileName);

// Fetches the volumes of one video strictly one after another through the shared multipart
// downloader, so that extraction and playback can begin long before the last volume is in.
//
// Each volume starts under a placeholder name (CompressedDirectory + "file.part<n>.rar"); the
// first answer that comes from where the file lives gives its real name (a playable video goes
// to UncompressedDirectory) and its size, which sets the range count (one per whole MiB, at
// least 100). Up to eleven ranges run, always the earliest ones, so the file fills from its
// start; every time a further leading part is complete OnDataAvailable tells the decompressor.
//
// The next volume starts from the event loop once the multipart downloader has reported the
// end of a volume and the decompressor is idle (re-checked from a timer, never by spinning a
// nested loop under a running notification). A volume that fails is tried again a few times
// with a growing pause before it is skipped; skips and retries show in the progress texts.
//
// The multipart downloader's events are hooked by SetMultipartDownloader and unhooked when the
// downloader dies; a downloader that dies during a transfer aborts it.
class TDownloader : public QObject {
    Q_OBJECT

public:
    using TProgressEvent = std::function<void(const QString& sizeText, const QString& receivedText,
                                              const QString& speedText, const QString& percentText,
                                              const QString& elapsedText, int position, int max)>;
    using TNotifyEvent = std::function<void(TDownloader* sender)>;
    using TVideoFileReadyEvent = std::function<void(TDownloader* sender, const QString& fileName)>;

    // The size the extracted (or directly downloaded) file must pass before it is played.
    static constexpr int64_t VideoReadySize = 1024000;
    // Ranges of a volume at least, and one per this many bytes when that is more.
    static constexpr int MinPartCount = 100;
    static constexpr int64_t BytesPerPart = 1048576;
    // Ranges that run at once.
    static constexpr int RunningParts = 11;
    // The ranges that make the head of a volume.
    static constexpr int HeadParts = 5;
    // The range of Position in OnProgress (HeadParts x 100 %).
    static constexpr int ProgressMax = 500;

    explicit TDownloader(QObject* owner = nullptr);
    ~TDownloader() override;

    // Prefix of volume files, used unchanged (so it ends with "/").
    void SetCompressedDirectory(const QString& directory) { compressedDirectory_ = directory; }
    // Folder of volumes that are themselves playable videos.
    void SetUncompressedDirectory(const QString& directory) { uncompressedDirectory_ = directory; }
    // Not owned; may be none.
    void SetDecompressor(IVideoExtraction* decompressor) { decompressor_ = decompressor; }
    void SetOnProgress(TProgressEvent handler) { onProgress_ = std::move(handler); }
    void SetOnVideoFileReady(TVideoFileReadyEvent handler) {
        onVideoFileReady_ = std::move(handler);
    }
    void SetOnDataAvailable(TNotifyEvent handler) { onDataAvailable_ = std::move(handler); }
    // Stores the component (not owned) and hooks its four events.
    void SetMultipartDownloader(TMultipartHttpDownloader* downloader);

    // Download URLs, one per volume, in volume order.
    QStringList Links;

    // Resets and starts the first volume. Raises when Links is empty.
    void Start();
    // (100 x VolumeIndex + the current volume's ContiguousPercent) / number of links.
    void UpdateOverallPercent();

    TMultipartHttpDownloader* Multipart() const { return multipart_; }
    IVideoExtraction* Decompressor() const { return decompressor_; }
    const QString& CompressedDirectory() const { return compressedDirectory_; }
    const QString& UncompressedDirectory() const { return uncompressedDirectory_; }
    int VolumeIndex() const { return volumeIndex_; }
    // Full path of the current volume file.
    const QString& FileName() const { return fileName_; }
    // Byte offset up to which the current volume file is known to be complete.
    int64_t Available() const { return available_; }
    bool HeadReady() const { return headReady_; }
    double OverallPercent() const { return overallPercent_; }
    // Every volume has been handled, or the download ended on an error.
    bool Finished() const { return finished_; }
    // Why the download ended early (a volume file that could not be made); empty otherwise.
    const QString& Error() const { return error_; }
    // 1-based numbers of the volumes skipped after their last attempt failed.
    const QList<int>& SkippedVolumes() const { return skippedVolumes_; }

    // Failure handling of a volume; the defaults suit real use, tests shorten them.
    int MaxVolumeAttempts = 4;
    int VolumeRetryDelayMs = 1000;
    // How often the wait for an idle decompressor looks again.
    int BusyPollMs = 20;

private:
    void Reset();
    void StartVolume(bool retry);
    void MultipartAsyncHeaderEnd(THttpCli* sender);
    void MultipartRequestPartDone(int index);
    void MultipartRequestDone(int errorCode, const QString& reason);
    void MultipartShowStats();
    void AfterVolume(int errorCode, uint64_t volumeToken);
    void NextVolume();
    void CheckVideoFileReady();
    void RaiseDataAvailable();
    // Ends the whole download: the final data notification, then `message` to the user.
    void EndWithError(const QString& message);
    bool Hooked() const;
    void Unhook();

    QPointer<TMultipartHttpDownloader> multipart_;
    // The key of this downloader's entry in the table of hooked multipart downloaders.
    const TMultipartHttpDownloader* hookedKey_ = nullptr;
    QPointer<IVideoExtraction> decompressor_;
    QString compressedDirectory_;
    QString uncompressedDirectory_;
    QString fileName_;
    int volumeIndex_ = 0;
    int64_t available_ = 0;
    bool headReady_ = false;
    double overallPercent_ = 0;
    bool finished_ = false;
    bool destroying_ = false;
    // Attempts made at the current volume, and whether its transfer is ours and running.
    int attempts_ = 0;
    bool transferRunning_ = false;
    // Every range of the current volume is done.
    bool volumeComplete_ = false;
    // Changes with every volume attempt, so queued work of an earlier one stops.
    uint64_t volumeToken_ = 0;
    QList<int> skippedVolumes_;
    QString notice_;
    QString error_;
    // Looks for the ready video while no statistics arrive (between and after volumes).
    QTimer* readyTimer_ = nullptr;
    // OnVideoFileReady was raised since Start.
    bool readyRaised_ = false;

    TProgressEvent onProgress_;
    TVideoFileReadyEvent onVideoFileReady_;
    TNotifyEvent onDataAvailable_;
};
