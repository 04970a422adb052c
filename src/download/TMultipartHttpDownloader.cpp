#include "download/TMultipartHttpDownloader.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

namespace {

// Interval of the statistics tick.
constexpr int StatsIntervalMs = 1000;
// The split starts this many parts itself; users start the rest.
constexpr int PartsStartedBySplit = 10;
constexpr double MsPerDay = 86400000.0;

// Raises an event from a copy of its handler, so the handler may replace the component's
// handlers (a new volume downloader hooking them) while it runs.
template <typename Handler, typename... Args> void Raise(const Handler& handler, Args&&... args) {
    if (handler) {
        const Handler running = handler;
        running(std::forward<Args>(args)...);
    }
}

// The first byte of "bytes a-b/len" in the answer's Content-Range, or -1 when there is none.
int64_t ContentRangeStart(const QStringList& header) {
    static const QRegularExpression pattern(
        QStringLiteral("^content-range:\\s*bytes\\s+(\\d+)-(\\d+)"),
        QRegularExpression::CaseInsensitiveOption);
    for (const QString& line : header) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch())
            return match.captured(1).toLongLong();
    }
    return -1;
}

} // namespace

TMultipartHttpDownloader::TMultipartHttpDownloader(QObject* owner) : QObject(owner) {
    statsTimer_ = new QTimer(this);
    statsTimer_->setInterval(StatsIntervalMs);
    connect(statsTimer_, &QTimer::timeout, this, [this] { StatsTick(); });
    stallTimer_ = new QTimer(this);
    connect(stallTimer_, &QTimer::timeout, this, [this] { CheckStalls(); });
}

TMultipartHttpDownloader::~TMultipartHttpDownloader() {
    ++transfer_;
    DropParts();
}

TMyHttpCli* TMultipartHttpDownloader::NewPart(int index) {
    auto* part = new TMyHttpCli(this);
    part->Index = index;
    part->URL = URL;
    CopyConnectionSettings(part);
    return part;
}

// A part connects the way the component is set to: credentials, proxy and authentication.
void TMultipartHttpDownloader::CopyConnectionSettings(TMyHttpCli* part) const {
    part->Username = Username;
    part->Password = Password;
    part->Proxy = Proxy;
    part->ProxyPort = ProxyPort;
    part->SocksServer = SocksServer;
    part->SocksPort = SocksPort;
    part->SocksLevel = SocksLevel;
    part->ServerAuth = ServerAuth;
}

// The parts of a replaced transfer go quiet at once and are deleted from the event loop, since
// one of them may be the sender of the event being handled.
void TMultipartHttpDownloader::DropParts() {
    for (TMyHttpCli* part : parts_) {
        part->SetOnHeaderEnd(nullptr);
        part->SetOnLocationChange(nullptr);
        part->SetOnDocData(nullptr);
        part->SetOnRequestDone(nullptr);
        if (part->restartTimer_)
            part->restartTimer_->stop();
        if (part->Busy())
            part->Abort();
        part->deleteLater();
    }
    parts_.clear();
}

void TMultipartHttpDownloader::Start() {
    if (PartCount < MinPartCount)
        throw Exception(QStringLiteral("PartCount must be at least %1").arg(MinPartCount));
    ++transfer_;
    const uint64_t transfer = transfer_;
    DropParts();
    statsTimer_->stop();
    stallTimer_->start(std::clamp(StallTimeoutMs / 2, 1, StatsIntervalMs));
    splitPending_ = false;
    inTransfer_ = true;
    abortFlag_ = false;
    endCode_ = 503;
    endReason_ = QStringLiteral("Transfert aborted");
    contentLength_ = 0;
    totalCount_ = 0;
    previousTickCount_ = 0;
    sinceStart_.start();
    previousTickMs_ = 0;
    curSpeed_ = 0;
    percent_ = 0;
    contiguousPercent_ = 0;
    elapsedTime_ = 0;

    ShowStats();
    if (transfer != transfer_)
        return;

    TMyHttpCli* first = NewPart(0);
    parts_.push_back(first);
    first->SetOnHeaderEnd(
        [this](THttpCli* sender) { FirstHeaderEnd(static_cast<TMyHttpCli*>(sender)); });
    first->SetOnRequestDone([this](THttpCli* sender, int errorCode) {
        FirstRequestDone(static_cast<TMyHttpCli*>(sender), errorCode);
    });
    first->GetASync();
}

void TMultipartHttpDownloader::FirstHeaderEnd(TMyHttpCli* part) {
    const uint64_t transfer = transfer_;
    Raise(onAsyncHeaderEnd_, part);
    if (transfer != transfer_ || abortFlag_)
        return;
    if (part->StatusCode() != 200)
        return;
    contentLength_ = std::max<int64_t>(0, part->ContentLength());
    ShowStats();
    if (transfer != transfer_ || abortFlag_)
        return;
    // The body is fetched by the parts.
    part->Abort();
}

void TMultipartHttpDownloader::FirstRequestDone(TMyHttpCli* part, int errorCode) {
    if (abortFlag_) {
        part->Done = true;
        CompletionTest(endCode_, endReason_);
        return;
    }
    if (contentLength_ > 0) {
        // The split runs once this handler has returned, and only for this very transfer.
        splitPending_ = true;
        const uint64_t transfer = transfer_;
        QTimer::singleShot(0, this, [this, transfer] {
            if (transfer == transfer_ && splitPending_ && !abortFlag_) {
                splitPending_ = false;
                Split();
            }
        });
        return;
    }
    // A 200 answer was aborted by us once its header was in, whatever its length said.
    if (part->StatusCode() == 200)
        Report(ErrorNoContentLength, QStringLiteral("Download failed: no content length"));
    else if (errorCode != 0)
        Report(errorCode, QStringLiteral("Download failed"));
    else
        Report(part->StatusCode(), part->ReasonPhrase());
}

// Ranges of SegSize + 1 bytes, the last one shorter, where they fit the resource; otherwise (a
// resource shorter than about PartCount * PartCount bytes) an even split, whose first
// ContentLength mod PartCount ranges hold one byte more and whose trailing ranges may be empty.
void TMultipartHttpDownloader::Split() {
    PartCount = std::clamp(PartCount, MinPartCount, MaxPartCount);
    const int count = PartCount;
    const int64_t length = contentLength_;
    const int64_t segSize = length / count;
    const bool formulaFits = static_cast<int64_t>(count - 1) * (segSize + 1) <= length - 1;

    TMyHttpCli* first = parts_.front();
    first->SetOnHeaderEnd(nullptr);
    first->SetOnRequestDone(nullptr);
    first->URL = URL;
    for (int i = 1; i < count; ++i)
        parts_.push_back(NewPart(i));

    const int64_t evenSize = length / count, evenExtra = length % count;
    for (int i = 0; i < count; ++i) {
        TMyHttpCli* part = parts_[static_cast<size_t>(i)];
        if (formulaFits) {
            part->StartOffset = i * (segSize + 1);
            part->EndOffset = i == count - 1 ? length - 1 : part->StartOffset + segSize;
        } else {
            part->StartOffset = i * evenSize + std::min<int64_t>(i, evenExtra);
            part->EndOffset = part->StartOffset + evenSize + (i < evenExtra ? 1 : 0) - 1;
        }
        part->ContentRangeBegin = QString::number(part->StartOffset);
        part->ContentRangeEnd = QString::number(part->EndOffset);
        part->DataCount = 0;
        part->emptyRange_ = part->RangeLength() == 0;
        part->Done = part->emptyRange_;
        part->SetOnHeaderEnd(
            [this](THttpCli* sender) { PartHeaderEnd(static_cast<TMyHttpCli*>(sender)); });
        part->SetOnLocationChange(
            [this](THttpCli* sender) { PartLocationChange(static_cast<TMyHttpCli*>(sender)); });
        part->SetOnDocData([this](THttpCli* sender, const char* buffer, int64_t len) {
            PartData(static_cast<TMyHttpCli*>(sender), buffer, len);
        });
        part->SetOnRequestDone([this](THttpCli* sender, int errorCode) {
            PartRequestDone(static_cast<TMyHttpCli*>(sender), errorCode);
        });
    }
    previousTickMs_ = sinceStart_.elapsed();
    previousTickCount_ = totalCount_;
    statsTimer_->start();
    const uint64_t transfer = transfer_;
    for (int i = 0; i < std::min(PartsStartedBySplit, count); ++i) {
        parts_[static_cast<size_t>(i)]->GetASync();
        if (transfer != transfer_)
            return;
    }
}

void TMultipartHttpDownloader::PartHeaderEnd(TMyHttpCli* part) {
    part->activity_.start();
    part->accepting_ = false;
    const int status = part->StatusCode();
    if (part->FollowRelocation &&
        (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
        !part->Location().isEmpty())
        return; // the next hop asks again
    const int64_t asked = part->StartOffset + part->DataCount;
    const int64_t served = ContentRangeStart(part->RcvdHeader());
    if (status == 206 && (served < 0 || served == asked)) {
        part->accepting_ = true;
        return;
    }
    // Not the range asked for (a 200 with the whole resource, an error page, another range):
    // nothing of it reaches the file, and the range is asked for again.
    part->Abort();
}

void TMultipartHttpDownloader::PartLocationChange(TMyHttpCli* part) {
    part->ContentRangeBegin = QString::number(part->StartOffset + part->DataCount);
    part->ContentRangeEnd = QString::number(part->EndOffset);
}

void TMultipartHttpDownloader::PartData(TMyHttpCli* part, const char* buffer, int64_t len) {
    part->activity_.start();
    if (len <= 0 || !part->accepting_ || abortFlag_ || !inTransfer_)
        return;
    // A server that sends more than the range asked for does not write past it.
    const int64_t room = part->RangeLength() - part->DataCount;
    const int64_t count = std::min(len, room);
    if (count <= 0)
        return;
    if (!fileStream_ || !fileStream_->WriteAt(part->StartOffset + part->DataCount, buffer, count)) {
        EndWithError(ErrorWriteFailed, QStringLiteral("Unable to write the file"));
        return;
    }
    part->DataCount += count;
    totalCount_ += count;
}

void TMultipartHttpDownloader::PartRequestDone(TMyHttpCli* part, int errorCode) {
    part->Done = true;
    if (abortFlag_) {
        CompletionTest(endCode_, endReason_);
        return;
    }
    if (!inTransfer_)
        return;
    const bool complete = errorCode == 0 && part->StatusCode() == 206 && part->accepting_ &&
                          part->DataCount == part->RangeLength();
    if (!complete) {
        ScheduleRestart(part);
        return;
    }
    part->fruitlessRestarts_ = 0;
    const uint64_t transfer = transfer_;
    Raise(onRequestPartDone_, this, 200, QStringLiteral("OK"), part->Index);
    if (transfer != transfer_)
        return;
    CompletionTest(200, QStringLiteral("OK"));
}

// A failed attempt is asked again after a back-off that doubles with every failure in a row
// that brought nothing; too many of those end the transfer.
void TMultipartHttpDownloader::ScheduleRestart(TMyHttpCli* part) {
    const bool broughtData = part->accepting_ && part->DataCount > 0;
    part->fruitlessRestarts_ = broughtData ? 0 : part->fruitlessRestarts_ + 1;
    if (part->fruitlessRestarts_ >= MaxFruitlessRestarts) {
        const int status = part->StatusCode();
        EndWithError(status >= 400 ? status : ErrorRangeFailed,
                     QStringLiteral("Download failed: range %1 not served").arg(part->Index));
        return;
    }
    part->Done = false;
    int64_t delay = RestartDelayMs;
    for (int i = 1; i < part->fruitlessRestarts_ && delay < MaxRestartDelayMs; ++i)
        delay *= 2;
    delay = std::min<int64_t>(delay, MaxRestartDelayMs);
    if (!part->restartTimer_) {
        part->restartTimer_ = new QTimer(part);
        part->restartTimer_->setSingleShot(true);
        const QPointer<TMyHttpCli> guard(part);
        connect(part->restartTimer_, &QTimer::timeout, this, [this, guard] {
            if (guard)
                RestartPart(guard);
        });
    }
    part->restartTimer_->start(static_cast<int>(delay));
}

void TMultipartHttpDownloader::RestartPart(TMyHttpCli* part) {
    if (abortFlag_ || !inTransfer_ || part->Done || part->Busy())
        return;
    part->ContentRangeBegin = QString::number(part->StartOffset);
    part->ContentRangeEnd = QString::number(part->EndOffset);
    CopyConnectionSettings(part);
    part->DataCount = 0;
    part->accepting_ = false;
    part->GetASync();
}

// Ends the whole transfer with an error: every part is ended like by Abort, but the end
// reports the error.
void TMultipartHttpDownloader::EndWithError(int errorCode, const QString& reason) {
    if (abortFlag_ || !inTransfer_)
        return;
    endCode_ = errorCode;
    endReason_ = reason;
    Abort();
}

void TMultipartHttpDownloader::Abort() {
    if (!inTransfer_ || abortFlag_)
        return;
    abortFlag_ = true;
    splitPending_ = false;
    const uint64_t transfer = transfer_;
    std::vector<QPointer<TMyHttpCli>> parts(parts_.begin(), parts_.end());
    for (const QPointer<TMyHttpCli>& part : parts)
        if (part && part->restartTimer_)
            part->restartTimer_->stop();
    for (const QPointer<TMyHttpCli>& part : parts) {
        if (transfer != transfer_)
            return;
        if (part && !part->Done)
            part->Abort();
    }
    // Every part was done already (only possible while the split was pending).
    if (transfer == transfer_)
        CompletionTest(endCode_, endReason_);
}

void TMultipartHttpDownloader::CompletionTest(int errorCode, const QString& reason) {
    if (!inTransfer_)
        return;
    for (const TMyHttpCli* part : parts_)
        if (!part->Done)
            return;
    statsTimer_->stop();
    const uint64_t transfer = transfer_;
    StatsTick();
    if (transfer != transfer_)
        return;
    Report(errorCode, reason);
}

void TMultipartHttpDownloader::Report(int errorCode, const QString& reason) {
    inTransfer_ = false;
    splitPending_ = false;
    statsTimer_->stop();
    stallTimer_->stop();
    Raise(onRequestDone_, this, errorCode, reason);
}

void TMultipartHttpDownloader::CheckStalls() {
    const uint64_t transfer = transfer_;
    std::vector<QPointer<TMyHttpCli>> parts(parts_.begin(), parts_.end());
    for (const QPointer<TMyHttpCli>& part : parts) {
        if (transfer != transfer_ || abortFlag_ || !inTransfer_)
            return;
        if (part && part->Busy() && part->activity_.isValid() &&
            part->activity_.elapsed() >= StallTimeoutMs)
            part->Abort(); // ends as a failure, and the range is restarted
    }
}

void TMultipartHttpDownloader::StatsTick() {
    int lastRun = static_cast<int>(parts_.size());
    for (size_t i = 0; i < parts_.size(); ++i) {
        if (!parts_[i]->Done) {
            lastRun = static_cast<int>(i) - 1;
            break;
        }
    }
    const int64_t nowMs = sinceStart_.elapsed();
    const int64_t sinceTick = nowMs - previousTickMs_;
    if (sinceTick > 0)
        curSpeed_ = 8.0 * static_cast<double>(totalCount_ - previousTickCount_) /
                    static_cast<double>(sinceTick);
    elapsedTime_ = static_cast<double>(nowMs) / MsPerDay;
    if (contentLength_ == 0) {
        percent_ = 0;
        contiguousPercent_ = 0;
    } else {
        percent_ = static_cast<double>(totalCount_) * 100.0 / static_cast<double>(contentLength_);
        contiguousPercent_ =
            parts_.empty() ? 0 : lastRun * 100.0 / static_cast<double>(parts_.size());
    }
    const uint64_t transfer = transfer_;
    ShowStats();
    if (transfer != transfer_)
        return;
    previousTickMs_ = nowMs;
    previousTickCount_ = totalCount_;
    const bool allDone = std::all_of(parts_.begin(), parts_.end(),
                                     [](const TMyHttpCli* part) { return part->Done; });
    if (allDone) {
        statsTimer_->stop();
        curSpeed_ =
            nowMs > 0 ? 8.0 * static_cast<double>(totalCount_) / static_cast<double>(nowMs) : 0.0;
        ShowStats();
        if (transfer != transfer_)
            return;
        ReleaseFileStream();
    }
}

void TMultipartHttpDownloader::ShowStats() {
    Raise(onShowStats_, this);
}
