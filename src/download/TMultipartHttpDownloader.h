#pragma once

#include "download/TMyHttpCli.h"
#include "download/TSharedFileStream.h"
#include "net/THttpCli.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

// Downloads one URL into one open file over PartCount byte ranges fetched in parallel.
//
// Start sends a first request without a range; OnAsyncHeaderEnd is raised for each of its
// headers (relocations included), where a handler may change PartCount and replace the file.
// Its 200 answer gives ContentLength and is aborted; the split then runs from the event loop
// (never inside the first request's events, and never for a transfer that Abort or a new Start
// has replaced): PartCount parts, of which the component starts parts 0 to 9; users start the
// others (GetASync on a part whose Started is false). Each block of a part's 206 answer is
// written at its place in the file. A part that fails (transport error, an answer other than
// the 206 asked for, a short body, or no sign of life for StallTimeoutMs) is restarted from its
// StartOffset after a back-off; MaxFruitlessRestarts failures in a row of one range without a
// byte of a 206 answer end the whole transfer with an error. Statistics are refreshed once a
// second. OnRequestDone ends every transfer exactly once: (200, "OK") when all parts are done,
// (503, "Transfert aborted") after Abort, or an error.
//
// Every event is raised on the GUI thread; a handler may call Start or Abort from inside any of
// them (part clients of a replaced transfer are deleted later, never under a running handler).
class TMultipartHttpDownloader : public QObject {
    Q_OBJECT

public:
    using TRequestDoneEvent =
        std::function<void(TMultipartHttpDownloader* sender, int errorCode, const QString& reason)>;
    using TRequestPartDoneEvent = std::function<void(
        TMultipartHttpDownloader* sender, int errorCode, const QString& reason, int index)>;
    using THeaderEndEvent = std::function<void(THttpCli* sender)>;
    using TShowStatsEvent = std::function<void(TMultipartHttpDownloader* sender)>;

    // The first request's 200 answer had no positive Content-Length.
    static constexpr int ErrorNoContentLength = 1101;
    // A range failed MaxFruitlessRestarts times in a row without receiving anything.
    static constexpr int ErrorRangeFailed = 1102;
    // The file could not be written.
    static constexpr int ErrorWriteFailed = 1103;
    // The fewest parts Start accepts: the split starts parts 0 to 9.
    static constexpr int MinPartCount = 10;
    // The most parts a split makes (64 GiB in ranges of 1 MiB); a larger PartCount, which a
    // header handler may derive from a length the server sent, is lowered to this.
    static constexpr int MaxPartCount = 65536;

    explicit TMultipartHttpDownloader(QObject* owner = nullptr);
    ~TMultipartHttpDownloader() override;

    // Settings copied into every part.
    QString URL;
    QString Username;
    QString Password;
    QString Proxy;
    QString ProxyPort = QStringLiteral("80");
    QString SocksServer;
    QString SocksPort;
    QString SocksLevel = QStringLiteral("5");
    THttpAuth ServerAuth = THttpAuth::None;
    int PartCount = 100;

    // Failure handling; the defaults suit real use, tests shorten them.
    int StallTimeoutMs = 30000;
    int RestartDelayMs = 500;
    int MaxRestartDelayMs = 10000;
    int MaxFruitlessRestarts = 12;

    // The target file. The component owns it from here until it releases it, which it does
    // when all parts are done.
    void SetFileStream(std::unique_ptr<TSharedFileStream> stream) {
        fileStream_ = std::move(stream);
    }
    TSharedFileStream* FileStream() const { return fileStream_.get(); }
    // Closes the file and clears the property.
    void ReleaseFileStream() { fileStream_.reset(); }

    // Begins a transfer of URL into FileStream. Raises for a PartCount below MinPartCount
    // (nothing changes then). Parts of an earlier transfer are dropped.
    void Start();
    // Ends the transfer in progress: every part ends, then OnRequestDone(503, "Transfert
    // aborted"). Does nothing when no transfer is in progress.
    void Abort();
    // A transfer was started and has not reported its end yet.
    bool InTransfer() const { return inTransfer_; }

    // The part list: one client after Start, PartCount after the split.
    const std::vector<TMyHttpCli*>& Parts() const { return parts_; }
    // 0 until the first request's 200 header arrives.
    int64_t ContentLength() const { return contentLength_; }
    // Bytes written since Start, including those of ranges later restarted.
    int64_t TotalCount() const { return totalCount_; }
    // Kilobits per second (bits per millisecond).
    double CurSpeed() const { return curSpeed_; }
    double Percent() const { return percent_; }
    double ContiguousPercent() const { return contiguousPercent_; }
    // Time since Start, in days.
    double ElapsedTime() const { return elapsedTime_; }

    void SetOnRequestDone(TRequestDoneEvent handler) { onRequestDone_ = std::move(handler); }
    void SetOnRequestPartDone(TRequestPartDoneEvent handler) {
        onRequestPartDone_ = std::move(handler);
    }
    void SetOnAsyncHeaderEnd(THeaderEndEvent handler) { onAsyncHeaderEnd_ = std::move(handler); }
    void SetOnShowStats(TShowStatsEvent handler) { onShowStats_ = std::move(handler); }

private:
    TMyHttpCli* NewPart(int index);
    void CopyConnectionSettings(TMyHttpCli* part) const;
    void DropParts();
    void FirstHeaderEnd(TMyHttpCli* part);
    void FirstRequestDone(TMyHttpCli* part, int errorCode);
    void Split();
    void PartHeaderEnd(TMyHttpCli* part);
    void PartLocationChange(TMyHttpCli* part);
    void PartData(TMyHttpCli* part, const char* buffer, int64_t len);
    void PartRequestDone(TMyHttpCli* part, int errorCode);
    void ScheduleRestart(TMyHttpCli* part);
    void RestartPart(TMyHttpCli* part);
    void EndWithError(int errorCode, const QString& reason);
    void CompletionTest(int errorCode, const QString& reason);
    void Report(int errorCode, const QString& reason);
    void StatsTick();
    void CheckStalls();
    void ShowStats();

    std::vector<TMyHttpCli*> parts_;
    std::unique_ptr<TSharedFileStream> fileStream_;
    QTimer* statsTimer_ = nullptr;
    // Looks for connections without a sign of life, from Start to the end of the transfer.
    QTimer* stallTimer_ = nullptr;

    // Changes with every Start, so work of a replaced transfer (the posted split, late events)
    // finds out and stops.
    uint64_t transfer_ = 0;
    bool splitPending_ = false;
    bool inTransfer_ = false;
    bool abortFlag_ = false;
    // What the end of an aborted transfer reports: 503 for Abort, an error of our own otherwise.
    int endCode_ = 503;
    QString endReason_;

    int64_t contentLength_ = 0;
    int64_t totalCount_ = 0;
    int64_t previousTickCount_ = 0;
    QElapsedTimer sinceStart_;
    int64_t previousTickMs_ = 0;
    double curSpeed_ = 0;
    double percent_ = 0;
    double contiguousPercent_ = 0;
    double elapsedTime_ = 0;

    TRequestDoneEvent onRequestDone_;
    TRequestPartDoneEvent onRequestPartDone_;
    THeaderEndEvent onAsyncHeaderEnd_;
    TShowStatsEvent onShowStats_;
};
