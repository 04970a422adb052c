#pragma once

#include "download/TDownloader.h"
#include "platform/WorkingFolders.h"

#include <QObject>
#include <QString>
#include <QStringList>

class TDecompressor;
class TFileHostAccount;
class TMultipartHttpDownloader;

// The playback controller behind one player window: turns the video's links into download
// URLs of the file-host account, has the file host check them (offering a retry), builds and
// wires a volume downloader and a decompressor, and starts the download. It relays the
// downloader's data notifications to the decompressor; progress and video-ready go to the
// handlers set here.
//
// Lifetime: end a controller with Release(), never by deleting it directly and never as a
// QObject child of a window (whose destruction would delete it): Start waits for the file host
// while events are served, and the downloader's and decompressor's handlers run it too. Release
// deletes it at once when none of these is running, otherwise as soon as the outermost of them
// has returned; a Start that was running then ends with a silent abort.
class TPlayer : public QObject {
    Q_OBJECT

public:
    // The question of the link check, as the user sees it.
    static const QString RetryQuestion;

    // The account makes the download URLs, the folders say where volumes and the video go, and
    // the multipart downloader (not owned) is lent to the volume downloader.
    TPlayer(const TFileHostAccount& account, TWorkingFolders folders,
            TMultipartHttpDownloader* multipart, QObject* owner = nullptr);
    // Destroys the downloader (aborting a transfer still running), then the decompressor (which
    // writes the final value of its progress file).
    ~TPlayer() override;
    TPlayer(const TPlayer&) = delete;
    TPlayer& operator=(const TPlayer&) = delete;

    // The video's lines other than the password line, in order: one file-host link per volume.
    QStringList Links;
    // The archive password of the video's "password:" line; empty when there is none.
    QString ArchivePassword;

    void SetOnProgress(TDownloader::TProgressEvent handler) { onProgress_ = std::move(handler); }
    void SetOnVideoFileReady(TDownloader::TVideoFileReadyEvent handler) {
        onVideoFileReady_ = std::move(handler);
    }

    // Prepares and starts the download of the video. The link check's retry question answered
    // No ends it with the silent abort before the download starts; an HTTP failure of the check
    // is raised.
    void Start();
    // The downloader's OnDataAvailable: passes its FileName and Available to the decompressor.
    void DownloaderDataAvailable(TDownloader* sender);

    TMultipartHttpDownloader* Multipart() const { return multipart_; }
    TDownloader* Downloader() const { return downloader_; }
    TDecompressor* Decompressor() const { return decompressor_; }

    // Ends the controller now, or once its running Start or handler returns.
    void Release();
    // The process id of the extractor of the controller that ended last (0 when it started
    // none): a playback that follows waits until that process has ended.
    static qint64 LastExtractorProcessId() { return lastExtractorProcessId_; }

    // Release was called; the controller is about to go.
    bool Released() const { return releaseRequested_; }

private:
    // Counts the controller's running calls; the last one out carries out a pending Release.
    class TActiveCall {
    public:
        explicit TActiveCall(TPlayer* player) : player_(player) { ++player_->activeCalls_; }
        ~TActiveCall();
        TActiveCall(const TActiveCall&) = delete;
        TActiveCall& operator=(const TActiveCall&) = delete;

    private:
        TPlayer* player_;
    };

    void DestroyParts();

    const TFileHostAccount& account_;
    const TWorkingFolders folders_;
    TMultipartHttpDownloader* multipart_ = nullptr;
    TDownloader* downloader_ = nullptr;
    TDecompressor* decompressor_ = nullptr;
    TDownloader::TProgressEvent onProgress_;
    TDownloader::TVideoFileReadyEvent onVideoFileReady_;
    static inline qint64 lastExtractorProcessId_ = 0;
    int activeCalls_ = 0;
    bool releaseRequested_ = false;
};
