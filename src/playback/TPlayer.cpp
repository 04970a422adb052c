#include "playback/TPlayer.h"

#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "extract/TDecompressor.h"
#include "filehost/Megaupload.h"
#include "filehost/TFileHostAccount.h"
#include "playback/EarlierVolumes.h"

#include <QPointer>

const QString TPlayer::RetryQuestion =
    QStringLiteral("Some of the links are not available, you cannot reproduce the complete "
                   "video. Do you want to retry?");

TPlayer::TActiveCall::~TActiveCall() {
    if (--player_->activeCalls_ == 0 && player_->releaseRequested_)
        player_->deleteLater();
}

TPlayer::TPlayer(const TFileHostAccount& account, TWorkingFolders folders,
                 TMultipartHttpDownloader* multipart, QObject* owner)
    : QObject(owner), account_(account), folders_(std::move(folders)), multipart_(multipart) {}

TPlayer::~TPlayer() {
    DestroyParts();
}

void TPlayer::DestroyParts() {
    delete downloader_;
    downloader_ = nullptr;
    if (decompressor_) {
        lastExtractorProcessId_ = decompressor_->ExtractorProcessId();
        decompressor_->Release();
        decompressor_ = nullptr;
    }
}

void TPlayer::Release() {
    if (releaseRequested_)
        return;
    releaseRequested_ = true;
    if (activeCalls_ == 0)
        delete this;
}

void TPlayer::Start() {
    const TActiveCall active(this);
    DestroyParts();
    downloader_ = new TDownloader(this);
    decompressor_ = new TDecompressor();
    decompressor_->SetArchivePassword(ArchivePassword);

    downloader_->SetCompressedDirectory(folders_.CompressedDir);
    decompressor_->SetOutputDirectory(folders_.UncompressedDir);
    downloader_->SetUncompressedDirectory(decompressor_->OutputDirectory());
    decompressor_->SetUnrarDirectory(folders_.UnrarDir);
    downloader_->SetDecompressor(decompressor_);
    // The handlers run inside the controller's bookkeeping, so that a Release from within one
    // of them waits for it to return.
    downloader_->SetOnProgress([this](const QString& sizeText, const QString& receivedText,
                                      const QString& speedText, const QString& percentText,
                                      const QString& elapsedText, int position, int max) {
        const TActiveCall call(this);
        if (onProgress_ && !releaseRequested_)
            onProgress_(sizeText, receivedText, speedText, percentText, elapsedText, position, max);
    });
    downloader_->SetOnVideoFileReady([this](TDownloader* sender, const QString& fileName) {
        const TActiveCall call(this);
        if (onVideoFileReady_ && !releaseRequested_)
            onVideoFileReady_(sender, fileName);
    });
    downloader_->SetOnDataAvailable(
        [this](TDownloader* sender) { DownloaderDataAvailable(sender); });
    downloader_->SetMultipartDownloader(multipart_);

    QStringList urls;
    for (const QString& link : Links)
        urls << account_.DownloadUrlFromLink(link);
    downloader_->Links = urls;

    // The check and the question serve events; the controller may be released meanwhile.
    while (!CheckLinks(urls)) {
        if (releaseRequested_ || !UserInteraction().AskYesNo(RetryQuestion))
            Abort();
    }
    if (releaseRequested_)
        Abort();
    MoveEarlierVolumesAside(folders_.CompressedDir);
    downloader_->Start();
}

void TPlayer::DownloaderDataAvailable(TDownloader* sender) {
    const TActiveCall call(this);
    if (!decompressor_ || !sender || releaseRequested_)
        return;
    // A failure of the decompressor's file work is shown, but it does not unwind the download
    // chain that raised the notification.
    try {
        decompressor_->DataAvailable(sender->FileName(), sender->Available());
    } catch (const EAbort&) {
    } catch (const Exception& error) {
        UserInteraction().ShowError(error.Message());
    }
}
