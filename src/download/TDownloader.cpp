#include "download/TDownloader.h"

#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "core/Utils.h"
#include "download/TMultipartHttpDownloader.h"
#include "download/TSharedFileStream.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

// How often the ready video is looked for while no statistics arrive (between and after
// volumes), and, until it was first found, whatever else happens: playback starts as soon as
// the extractor has written enough, not at the next statistics tick.
constexpr int ReadyCheckIntervalMs = 1000;
constexpr int FirstReadyCheckIntervalMs = 100;
// The document name of the file host's download page, which relocates to the file.
const QString DownloadPageName = QStringLiteral("mgr_dl.php");

// Which volume downloader the shared multipart downloader's events belong to: the one that
// hooked them last, while it lives.
QHash<const TMultipartHttpDownloader*, TDownloader*>& Hooks() {
    static QHash<const TMultipartHttpDownloader*, TDownloader*> hooks;
    return hooks;
}

// A document name from the network is used as a file name only when it is a plain name.
bool IsPlainDocumentName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")) ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    return true;
}

QString JoinPath(const QString& directory, const QString& name) {
    if (directory.isEmpty() || directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

int Percent64(int64_t count, int64_t length) {
    return length <= 0 ? 0 : static_cast<int>(count * 100 / length);
}

// Days as "hh:nn:ss"; hours beyond a day keep counting.
QString FormatElapsed(double days) {
    const auto seconds = static_cast<int64_t>(std::floor(std::max(0.0, days) * 86400.0 + 1e-6));
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds / 60 % 60),
                             static_cast<long long>(seconds % 60));
}

} // namespace

bool IsVideoFile(const QString& fileName) {
    static const QStringList extensions = {QStringLiteral(".avi"), QStringLiteral(".mkv"),
                                           QStringLiteral(".divx"), QStringLiteral(".rmvb"),
                                           QStringLiteral(".mpg")};
    const QString extension = GetFileExtension(fileName).toLower();
    return !extension.isEmpty() && extensions.contains(extension);
}

TDownloader::TDownloader(QObject* owner) : QObject(owner) {
    readyTimer_ = new QTimer(this);
    readyTimer_->setInterval(ReadyCheckIntervalMs);
    connect(readyTimer_, &QTimer::timeout, this, [this] {
        if (!readyRaised_ || !transferRunning_)
            CheckVideoFileReady();
    });
    Reset();
}

TDownloader::~TDownloader() {
    destroying_ = true;
    Links.clear();
    if (multipart_ && Hooks().value(multipart_) == this) {
        if (!finished_ && transferRunning_ && multipart_->InTransfer())
            multipart_->Abort(); // its end finds this downloader gone and starts nothing
        multipart_->ReleaseFileStream();
        Unhook();
    }
    // Also when the multipart downloader died first: its entry must not outlive this one.
    if (hookedKey_ && Hooks().value(hookedKey_) == this)
        Hooks().remove(hookedKey_);
}

bool TDownloader::Hooked() const {
    return !destroying_ && multipart_ && Hooks().value(multipart_) == this;
}

void TDownloader::SetMultipartDownloader(TMultipartHttpDownloader* downloader) {
    if (hookedKey_ && Hooks().value(hookedKey_) == this)
        Hooks().remove(hookedKey_);
    multipart_ = downloader;
    hookedKey_ = downloader;
    if (!downloader)
        return;
    Hooks().insert(downloader, this);
    const QPointer<TDownloader> self(this);
    downloader->SetOnShowStats([self](TMultipartHttpDownloader*) {
        if (self && self->Hooked())
            self->MultipartShowStats();
    });
    downloader->SetOnAsyncHeaderEnd([self](THttpCli* sender) {
        if (self && self->Hooked())
            self->MultipartAsyncHeaderEnd(sender);
    });
    downloader->SetOnRequestPartDone(
        [self](TMultipartHttpDownloader*, int, const QString&, int index) {
            if (self && self->Hooked())
                self->MultipartRequestPartDone(index);
        });
    downloader->SetOnRequestDone(
        [self](TMultipartHttpDownloader*, int errorCode, const QString& reason) {
            if (self && self->Hooked())
                self->MultipartRequestDone(errorCode, reason);
        });
}

// Only called from the destructor, which its owner never runs inside one of these events.
void TDownloader::Unhook() {
    multipart_->SetOnShowStats(nullptr);
    multipart_->SetOnAsyncHeaderEnd(nullptr);
    multipart_->SetOnRequestPartDone(nullptr);
    multipart_->SetOnRequestDone(nullptr);
}

void TDownloader::Reset() {
    finished_ = false;
    error_.clear();
    available_ = 0;
    overallPercent_ = 0;
    headReady_ = false;
    fileName_.clear();
    volumeIndex_ = 0;
    attempts_ = 0;
    volumeComplete_ = false;
    skippedVolumes_.clear();
    notice_.clear();
}

void TDownloader::Start() {
    if (Links.isEmpty())
        throw Exception(QStringLiteral("The video has no links to download."));
    if (!multipart_)
        throw Exception(QStringLiteral("No multipart downloader to download with."));
    ++volumeToken_;
    Reset();
    readyRaised_ = false;
    readyTimer_->start(FirstReadyCheckIntervalMs);
    StartVolume(false);
}

void TDownloader::StartVolume(bool retry) {
    const uint64_t token = ++volumeToken_;
    transferRunning_ = false;
    volumeComplete_ = false;
    if (!retry) {
        attempts_ = 0;
        available_ = 0;
        fileName_ = compressedDirectory_ + QStringLiteral("file.part") +
                    QString::number(volumeIndex_ + 1) + QStringLiteral(".rar");
    }
    ++attempts_;
    const QString url = TrimText(Links.at(volumeIndex_));
    if (url.isEmpty()) {
        // A line without a file-host id: nothing to ask for, and nothing to try again.
        attempts_ = MaxVolumeAttempts;
        QTimer::singleShot(0, this, [this, token] { AfterVolume(-1, token); });
        return;
    }
    std::unique_ptr<TSharedFileStream> stream;
    try {
        // A new volume starts empty; a retry keeps what the earlier attempt wrote, since the
        // extractor may already have read it (and may hold the file open).
        if (!retry)
            QFile::remove(fileName_);
        stream = retry ? TSharedFileStream::Open(fileName_) : TSharedFileStream::Create(fileName_);
    } catch (const Exception& error) {
        EndWithError(error.Message());
        return;
    }
    multipart_->URL = url;
    multipart_->PartCount = MinPartCount;
    multipart_->SetFileStream(std::move(stream));
    multipart_->Username.clear();
    multipart_->Password.clear();
    multipart_->ServerAuth = THttpAuth::None;
    transferRunning_ = true;
    try {
        multipart_->Start();
    } catch (const Exception& error) {
        // The download ends here, as a failed start cannot be told apart from a setting that
        // will fail again.
        if (multipart_)
            multipart_->ReleaseFileStream();
        EndWithError(error.Message());
    }
}

void TDownloader::MultipartAsyncHeaderEnd(THttpCli* sender) {
    if (!sender)
        return;
    const QString documentName = sender->DocName();
    if (documentName == DownloadPageName)
        return;
    // The answer comes from where the file lives: its length sets the range count...
    const int64_t length = sender->ContentLength();
    multipart_->PartCount = static_cast<int>(std::clamp<int64_t>(
        length / BytesPerPart, MinPartCount, TMultipartHttpDownloader::MaxPartCount));
    // ...and its name the file's, unless the name is not a plain file name.
    if (!IsPlainDocumentName(documentName))
        return;
    const QString target = IsVideoFile(documentName)
                               ? JoinPath(uncompressedDirectory_, documentName)
                               : compressedDirectory_ + documentName;
    if (target == fileName_)
        return; // a retry of the volume: same file, same data
    multipart_->ReleaseFileStream();
    QFile::remove(fileName_);
    fileName_ = target;
    try {
        multipart_->SetFileStream(TSharedFileStream::Create(fileName_));
    } catch (const Exception& error) {
        // Without a file the ranges cannot be written and the volume fails.
        notice_ = error.Message();
    }
}

void TDownloader::MultipartRequestPartDone(int index) {
    const QPointer<TDownloader> self(this);
    const std::vector<TMyHttpCli*> parts = multipart_->Parts();
    const int count = static_cast<int>(parts.size());
    if (count < HeadParts || index < 0 || index >= count)
        return;
    const auto done = [&parts](int from, int to) {
        for (int i = from; i <= to; ++i)
            if (!parts[static_cast<size_t>(i)]->Done)
                return false;
        return true;
    };
    if (done(0, HeadParts - 1))
        headReady_ = true;
    if (headReady_) {
        int firstOpen = -1;
        for (int i = 0; i < count && firstOpen < 0; ++i)
            if (!parts[static_cast<size_t>(i)]->Done)
                firstOpen = i;
        if (firstOpen < 0) {
            // Every range is in: the whole volume is available, its tail included.
            volumeComplete_ = true;
            available_ = multipart_->ContentLength();
        } else if (firstOpen > 0) {
            available_ =
                std::max(available_, parts[static_cast<size_t>(firstOpen - 1)]->StartOffset);
        }
    }

    // The finished range's place goes to the first range not started yet; then up to
    // RunningParts ranges run, always the earliest ones of the file.
    const auto startNext = [&parts] {
        for (TMyHttpCli* part : parts)
            if (!part->Started()) {
                part->GetASync();
                return true;
            }
        return false;
    };
    startNext();
    int running = 0;
    for (const TMyHttpCli* part : parts)
        if (part->Started() && !part->Done)
            ++running;
    while (running < RunningParts && startNext())
        ++running;

    if (headReady_ && done(0, index) && onDataAvailable_) {
        RaiseDataAvailable();
        if (!self || destroying_)
            return;
        if (IsVideoFile(fileName_) && decompressor_)
            decompressor_->SetExtractedFileName(QFileInfo(fileName_).fileName());
    }
}

void TDownloader::EndWithError(const QString& message) {
    // Nothing queued for the volume may run any more.
    const uint64_t token = ++volumeToken_;
    transferRunning_ = false;
    notice_ = message;
    // From the event loop, never from inside the call that failed: the final notification lets
    // the decompressor finish, and the message box runs a nested loop of its own.
    QTimer::singleShot(0, this, [this, token, message] {
        if (destroying_ || token != volumeToken_)
            return;
        error_ = message;
        finished_ = true;
        available_ = 0;
        const QPointer<TDownloader> self(this);
        RaiseDataAvailable();
        if (self)
            UserInteraction().ShowError(message);
    });
}

void TDownloader::RaiseDataAvailable() {
    if (onDataAvailable_)
        onDataAvailable_(this);
}

void TDownloader::MultipartRequestDone(int errorCode, const QString&) {
    if (!transferRunning_)
        return;
    transferRunning_ = false;
    multipart_->ReleaseFileStream();
    // Not from inside the multipart downloader's completion event: from the event loop.
    const uint64_t token = volumeToken_;
    QTimer::singleShot(0, this, [this, errorCode, token] { AfterVolume(errorCode, token); });
}

void TDownloader::AfterVolume(int errorCode, uint64_t token) {
    if (destroying_ || token != volumeToken_ || Links.isEmpty())
        return;
    // The next step waits for the decompressor to be idle. It looks again from a timer, so
    // that a notification running further down the stack (a password prompt) can return.
    if (decompressor_ && decompressor_->Busy()) {
        QTimer::singleShot(BusyPollMs, this,
                           [this, errorCode, token] { AfterVolume(errorCode, token); });
        return;
    }
    if (errorCode != 200) {
        if (attempts_ < MaxVolumeAttempts) {
            const int delay = VolumeRetryDelayMs << std::min(attempts_ - 1, 10);
            notice_ = QStringLiteral("retrying volume %1").arg(volumeIndex_ + 1);
            QTimer::singleShot(delay, this, [this, token] {
                if (!destroying_ && token == volumeToken_ && !Links.isEmpty())
                    StartVolume(true);
            });
            return;
        }
        skippedVolumes_.append(volumeIndex_ + 1);
    }
    notice_.clear();
    NextVolume();
}

void TDownloader::NextVolume() {
    if (volumeIndex_ + 1 < Links.size()) {
        ++volumeIndex_;
        StartVolume(false);
        return;
    }
    finished_ = true;
    available_ = 0;
    overallPercent_ = 100;
    RaiseDataAvailable();
}

void TDownloader::UpdateOverallPercent() {
    if (Links.isEmpty() || !multipart_)
        return;
    if (finished_) {
        overallPercent_ = 100;
        return;
    }
    overallPercent_ = (100.0 * volumeIndex_ + multipart_->ContiguousPercent()) / Links.size();
}

void TDownloader::MultipartShowStats() {
    const QPointer<TDownloader> self(this);
    const QString sizeText = FormatSize(multipart_->ContentLength());
    const QString speedText =
        QString::asprintf("%6.2f", multipart_->CurSpeed() / 8) + QStringLiteral(" Kb/s");
    const QString receivedText = QString::number(multipart_->TotalCount());
    const QString percentText =
        QString::asprintf("%3.0f", multipart_->Percent()) + QStringLiteral("%");
    QString elapsedText = QStringLiteral("Buffering ") + FormatElapsed(multipart_->ElapsedTime());
    QStringList notices;
    if (!notice_.isEmpty())
        notices << notice_;
    for (const int volume : skippedVolumes_)
        notices << QStringLiteral("volume %1 skipped").arg(volume);
    if (!notices.isEmpty())
        elapsedText += QStringLiteral(", ") + notices.join(QStringLiteral(", "));
    UpdateOverallPercent();

    int position = 0;
    const std::vector<TMyHttpCli*>& parts = multipart_->Parts();
    if (parts.size() > 1 && static_cast<int>(parts.size()) == multipart_->PartCount)
        for (int i = 0; i < HeadParts && i < static_cast<int>(parts.size()); ++i)
            position += Percent64(parts[static_cast<size_t>(i)]->DataCount,
                                  parts[static_cast<size_t>(i)]->RangeLength());

    CheckVideoFileReady();
    if (!self || destroying_)
        return;
    if (onProgress_)
        onProgress_(sizeText, receivedText, speedText, percentText, elapsedText, position,
                    ProgressMax);
}

void TDownloader::CheckVideoFileReady() {
    if (!decompressor_ || decompressor_->ExtractedFileName().isEmpty() || !onVideoFileReady_)
        return;
    const QString path = decompressor_->ExtractedFilePath();
    if (path.isEmpty())
        return;
    int64_t size;
    if (QFileInfo(path) == QFileInfo(fileName_) && !finished_ && !volumeComplete_) {
        // The volume in transfer is the video itself: its ranges arrive out of order, so
        // only its complete leading part counts, not the size of the file.
        size = available_;
    } else {
        const QFileInfo info(path);
        size = info.exists() ? info.size() : -1;
    }
    if (size <= VideoReadySize)
        return;
    if (!readyRaised_) {
        readyRaised_ = true;
        readyTimer_->setInterval(ReadyCheckIntervalMs);
    }
    onVideoFileReady_(this, path);
}
