// Times the VLC control's Stop while libVLC's reader waits for data of a growing file that is
// written no further: while the media opens (a header alone on disk) and while it plays (the
// writer stalled once playback began); then, after playing it again until the reader waits
// once more, the control's destruction. Prints p50, p95 and the maximum in milliseconds for
// each. Runs on Qt's offscreen platform, so libVLC's outputs are the dummies.
// Usage: tavilon-bench-player [ROUNDS]   (default 10)

#include "playback/TGrowingFileSource.h"
#include "player/TVLCPlugin2.h"
#include "player/TestVideo.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kDefaultRounds = 10;
constexpr int kVideoSeconds = 6;
constexpr int kWaitMs = 30000;
constexpr int64_t kHeaderOnly = 2048;
// The writer's pace while the media opens: the file in about the video's length.
constexpr int kTrickleIntervalMs = 100;
constexpr int kTrickleTicks = kVideoSeconds * 1000 / kTrickleIntervalMs;
const testenv::TTestVideo kVideo{"avi", ".avi", "mpeg4", "libmp3lame", false, ""};

template <typename Pred> bool WaitFor(Pred done) {
    const QDeadlineTimer deadline(kWaitMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

double ElapsedMs(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// One control in its window, playing a growing copy of the sample until its reader waits.
class TStalledPlayback {
public:
    TStalledPlayback(const QString& sample, const QString& copy, bool playing)
        : window_(std::make_unique<QWidget>()), vlc_(new TVLCPlugin2(window_.get())),
          playing_(playing) {
        window_->show();
        item_ = vlc_->Playlist().Add(copy);
        writer_ = std::make_unique<testenv::TGrowingFileWriter>(
            sample, copy, [this](int64_t size) { vlc_->SetWrittenSize(item_, size); });
        vlc_->SetFinalSize(item_, writer_->FinalSize());
        writer_->WriteUpTo(kHeaderOnly);
        vlc_->Playlist().PlayItem(item_);
        if (playing)
            writer_->Trickle(writer_->FinalSize() / kTrickleTicks, kTrickleIntervalMs);
    }

    // Once the media plays (when it is to), the writer stalls and the reader waits.
    bool WaitUntilReadWaits() {
        if (playing_ && !WaitFor([this] { return vlc_->Input().Position() > 0; }))
            return false;
        writer_->Stall();
        return WaitFor([this] { return vlc_->Source(item_).WaitingForData(); });
    }

    // After a stop, playing again reads the file anew up to where it was written.
    bool WaitUntilReadWaitsAgain() {
        return WaitFor([this] { return vlc_->Source(item_).WaitingForData(); });
    }

    double TimeStop() {
        QElapsedTimer timer;
        timer.start();
        vlc_->Playlist().Stop();
        return ElapsedMs(timer);
    }

    // Plays again from the start; the reader waits again at the same written end.
    void PlayAgain() { vlc_->Playlist().Play(); }

    double TimeDestruction() {
        QElapsedTimer timer;
        timer.start();
        window_.reset();
        return ElapsedMs(timer);
    }

private:
    std::unique_ptr<QWidget> window_;
    TVLCPlugin2* vlc_; // owned by window_
    const bool playing_;
    std::unique_ptr<testenv::TGrowingFileWriter> writer_;
    int item_ = -1;
};

struct TTimes {
    std::vector<double> stop;
    std::vector<double> destruction;
};

bool MeasureRound(const QString& sample, const QString& copy, bool playing, TTimes& times) {
    TStalledPlayback playback(sample, copy, playing);
    if (!playback.WaitUntilReadWaits())
        return false;
    times.stop.push_back(playback.TimeStop());
    playback.PlayAgain();
    if (!playback.WaitUntilReadWaitsAgain())
        return false;
    times.destruction.push_back(playback.TimeDestruction());
    return true;
}

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

void Report(const char* what, const std::vector<double>& values) {
    std::printf("%-28s p50 %7.1f ms   p95 %7.1f ms   max %7.1f ms   (%zu rounds)\n", what,
                Percentile(values, 0.5), Percentile(values, 0.95),
                *std::max_element(values.begin(), values.end()), values.size());
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;

    QTemporaryDir work;
    const QString sample = work.filePath(QStringLiteral("sample.avi"));
    const QString copy = work.filePath(QStringLiteral("growing.avi"));
    if (const QString error = testenv::MakeTestVideo(kVideo, sample, kVideoSeconds);
        !error.isEmpty()) {
        std::fprintf(stderr, "tavilon-bench-player: %s\n", qPrintable(error));
        return 1;
    }

    for (const bool playing : {false, true}) {
        TTimes times;
        for (int round = 0; round < rounds; ++round) {
            if (!MeasureRound(sample, copy, playing, times)) {
                std::fprintf(stderr, "tavilon-bench-player: the reader never waited\n");
                return 1;
            }
        }
        const char* when = playing ? "playing" : "opening";
        Report(qPrintable(QStringLiteral("stop while %1").arg(QLatin1String(when))), times.stop);
        Report(qPrintable(QStringLiteral("then destruction (%1)").arg(QLatin1String(when))),
               times.destruction);
    }
    return 0;
}
