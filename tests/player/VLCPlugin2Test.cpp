// The VLC control on libVLC 3 with its dummy outputs (Qt's offscreen platform), playing sample
// videos that the test writes out slowly, as the extractor does: a growing file plays long
// before it is complete, a stop returns while a read waits for data, a position write seeks.

#include "core/Errors.h"
#include "playback/TGrowingFileSource.h"
#include "player/TVLCPlugin2.h"
#include "player/TestVideo.h"
#include "support/TestData.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using testenv::TGrowingFileWriter;
using testenv::TTestVideo;

namespace {

constexpr int kVideoSeconds = 6;
constexpr double kVideoLengthMs = kVideoSeconds * 1000.0;
// Bounds on waiting for playback; reached in about a second when all is well.
constexpr int kPlaybackWaitMs = 30000;
// A stop or a destruction that takes longer than this hangs.
constexpr auto kStopWatchdog = 5s;

// AVI keeps its index at the end (VLC then knows no length while the file grows); Matroska
// keeps the length in its header and its cues at the end. VLC reads a Matroska file's first
// cluster before it plays: one a second, as video muxers write them, not one for the whole test
// video.
const TTestVideo kAvi{"avi", ".avi", "mpeg4", "libmp3lame", false, ""};
const TTestVideo kMkv{"mkv", ".mkv", "libx264", "aac", true, "-cluster_time_limit 1000"};

// Ends the test program when the guarded call has not returned within its bound, so that a
// hang shows as what it is instead of as the test's timeout.
class TWatchdog {
public:
    TWatchdog(std::chrono::milliseconds bound, std::string what)
        : thread_([this, bound, what = std::move(what)] { Watch(bound, what); }) {}
    ~TWatchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    void Watch(std::chrono::milliseconds bound, const std::string& what) {
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, bound, [this] { return done_; }))
            return;
        std::fprintf(stderr, "watchdog: %s did not return within %lld ms\n", what.c_str(),
                     static_cast<long long>(bound.count()));
        std::abort();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

// Serves events until `done()` holds or kPlaybackWaitMs have passed, without spinning: libVLC's
// threads need the processor.
template <typename Pred> bool WaitFor(Pred done) {
    const QDeadlineTimer deadline(kPlaybackWaitMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

class VLCPlugin2Test : public testing::Test {
protected:
    // The control sits in a window, as in the player window.
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->resize(320, 240);
        vlc_ = new TVLCPlugin2(window_.get());
        window_->show();
    }

    void TearDown() override {
        TWatchdog watchdog(kStopWatchdog, "destroying the control");
        window_.reset();
    }

    // The sample video, made at its first use; fails the test when it cannot be made.
    static QString SampleVideo(const TTestVideo& video) {
        static std::map<std::string, QString> made;
        if (const auto found = made.find(video.name); found != made.end())
            return found->second;
        const QString path = testenv::MakeTempDir(QStringLiteral("videos")) +
                             QStringLiteral("/sample") + QLatin1String(video.extension);
        const QString error = testenv::MakeTestVideo(video, path, kVideoSeconds);
        if (!error.isEmpty()) {
            ADD_FAILURE() << error.toStdString();
            return {};
        }
        made[video.name] = path;
        return path;
    }

    // Adds a growing copy of the sample video with `head` bytes written and plays it.
    void PlayGrowingCopy(const TTestVideo& video, int64_t head) {
        const QString sample = SampleVideo(video);
        ASSERT_FALSE(sample.isEmpty());
        const QString copy = testenv::MakeTempDir(QStringLiteral("growing")) +
                             QStringLiteral("/video") + QLatin1String(video.extension);
        item_ = vlc_->Playlist().Add(copy);
        writer_ = std::make_unique<TGrowingFileWriter>(sample, copy, [this](int64_t size) {
            vlc_->SetWrittenSize(item_, size);
            if (writer_->Complete())
                vlc_->SetComplete(item_);
        });
        ASSERT_GT(writer_->FinalSize(), 0);
        vlc_->SetFinalSize(item_, writer_->FinalSize());
        writer_->WriteUpTo(head);
        vlc_->Playlist().PlayItem(item_);
    }

    // The file in about the video's length: the download keeps pace with playback, which now
    // and then waits at the written end.
    void TrickleAtPlaybackSpeed() {
        constexpr int intervalMs = 100;
        constexpr int ticks = kVideoSeconds * 1000 / intervalMs;
        writer_->Trickle(std::max<int64_t>(writer_->FinalSize() / ticks, 1), intervalMs);
    }

    bool WaitUntilOpened() {
        return WaitFor([this] { return Source().Opened(); });
    }

    // Plays until the media is open and the reader waits at the written end.
    bool PlayThenStall() {
        TrickleAtPlaybackSpeed();
        const bool playing = WaitUntilPlaying();
        writer_->Stall();
        return playing && WaitUntilReadWaits();
    }

    // The position moves: the media plays (the time and the length may stay 0 for an AVI file
    // without its index).
    bool WaitUntilPlaying() { return WaitUntilPosition(0.0); }

    bool WaitUntilPosition(double beyond) {
        return WaitFor([this, beyond] { return vlc_->Input().Position() > beyond; });
    }

    bool WaitUntilReadWaits() {
        return WaitFor([this] { return Source().WaitingForData(); });
    }

    void StopUnderWatchdog() {
        TWatchdog watchdog(kStopWatchdog, "Stop");
        vlc_->Playlist().Stop();
    }

    const TGrowingFileSource& Source() const { return vlc_->Source(item_); }

    std::unique_ptr<QWidget> window_;
    TVLCPlugin2* vlc_ = nullptr; // owned by window_
    std::unique_ptr<TGrowingFileWriter> writer_;
    int item_ = -1;
};

TEST_F(VLCPlugin2Test, AnswersAndRefusesBeforeAnythingPlays) {
    EXPECT_EQ(vlc_->Playlist().ItemCount(), 0);
    EXPECT_EQ(vlc_->Input().Position(), 0.0);
    EXPECT_EQ(vlc_->Input().Time(), 0.0);
    EXPECT_EQ(vlc_->Input().Length(), 0.0);
    EXPECT_THROW(vlc_->Playlist().PlayItem(0), Exception);
    EXPECT_THROW(vlc_->Playlist().Play(), Exception);
    EXPECT_THROW(vlc_->Playlist().TogglePause(), Exception);
    EXPECT_THROW(vlc_->Input().SetPosition(0.5), Exception);
    EXPECT_THROW(vlc_->Input().SetTime(1000), Exception);
    EXPECT_THROW(vlc_->SetWrittenSize(0, 10), Exception);
    EXPECT_NO_THROW(vlc_->Playlist().Stop());

    EXPECT_EQ(vlc_->Playlist().Add(QStringLiteral("/nonexistent/video.avi")), 0);
    EXPECT_EQ(vlc_->Playlist().ItemCount(), 1);
    EXPECT_THROW(vlc_->Playlist().PlayItem(1), Exception);
    EXPECT_THROW(vlc_->Playlist().PlayItem(-1), Exception);
}

TEST_F(VLCPlugin2Test, FullScreenSwitchesTheWindowThatHoldsTheControl) {
    window_->setWindowState(Qt::WindowMaximized);
    vlc_->Video().ToggleFullScreen();
    EXPECT_EQ(window_->windowState(), Qt::WindowMaximized | Qt::WindowFullScreen);
    vlc_->Video().ToggleFullScreen();
    EXPECT_EQ(window_->windowState(), Qt::WindowMaximized);
}

class VLCPlugin2VideoTest : public VLCPlugin2Test, public testing::WithParamInterface<TTestVideo> {
protected:
    void SetUp() override {
        if (!testenv::HasEncoder(QLatin1String(GetParam().videoEncoder)))
            GTEST_SKIP() << "ffmpeg has no " << GetParam().videoEncoder << " encoder";
        VLCPlugin2Test::SetUp();
    }
};

// The demuxer's look for an index at the end finds none while the media opens, so playback
// starts from the first part of the file and goes on, waiting at the written end, as the rest
// arrives.
TEST_P(VLCPlugin2VideoTest, GrowingFilePlaysBeforeItIsComplete) {
    ASSERT_NO_FATAL_FAILURE(PlayGrowingCopy(GetParam(), 0));
    TrickleAtPlaybackSpeed();
    ASSERT_TRUE(WaitUntilOpened());
    EXPECT_LT(writer_->WrittenSize(), writer_->FinalSize() / 2);
    ASSERT_TRUE(WaitUntilPlaying());
    if (GetParam().lengthInHeader) {
        EXPECT_NEAR(vlc_->Input().Length(), kVideoLengthMs, 500);
    }
    EXPECT_TRUE(WaitUntilPosition(0.6));
}

INSTANTIATE_TEST_SUITE_P(Videos, VLCPlugin2VideoTest, testing::Values(kAvi, kMkv),
                         [](const testing::TestParamInfo<TTestVideo>& info) {
                             return std::string(info.param.name);
                         });

// Where playback stands when the stop comes while a read waits for data.
struct TStopCase {
    const char* name;
    bool playing; // the media is open and plays; otherwise it is still opening
};

void PrintTo(const TStopCase& c, std::ostream* os) {
    *os << c.name;
}

class VLCPlugin2StopTest : public VLCPlugin2Test, public testing::WithParamInterface<TStopCase> {};

TEST_P(VLCPlugin2StopTest, StopWhileAReadWaitsReturnsAndPlaysAgain) {
    // A header alone: the first read waits while the media opens.
    constexpr int64_t headerOnly = 2048;
    ASSERT_NO_FATAL_FAILURE(PlayGrowingCopy(kAvi, headerOnly));
    if (GetParam().playing) {
        ASSERT_TRUE(PlayThenStall());
    } else {
        ASSERT_TRUE(WaitUntilReadWaits());
    }
    EXPECT_EQ(Source().Opened(), GetParam().playing);

    StopUnderWatchdog();
    EXPECT_FALSE(Source().Aborted());

    writer_->WriteUpTo(writer_->FinalSize());
    vlc_->Playlist().Play();
    EXPECT_TRUE(WaitUntilPlaying());
}

INSTANTIATE_TEST_SUITE_P(Stops, VLCPlugin2StopTest,
                         testing::Values(TStopCase{"opening", false}, TStopCase{"playing", true}),
                         [](const testing::TestParamInfo<TStopCase>& info) {
                             return std::string(info.param.name);
                         });

// Where a position write lands: in the written part, or beyond it in a file still growing.
struct TSeekCase {
    const char* name;
    bool complete; // the whole file is written before playback
};

void PrintTo(const TSeekCase& c, std::ostream* os) {
    *os << c.name;
}

class VLCPlugin2SeekTest : public VLCPlugin2Test, public testing::WithParamInterface<TSeekCase> {};

// Paused, the time moves only by the seek.
TEST_P(VLCPlugin2SeekTest, PositionWriteSeeks) {
    ASSERT_NO_FATAL_FAILURE(PlayGrowingCopy(kAvi, 0));
    if (GetParam().complete) {
        writer_->WriteUpTo(writer_->FinalSize());
        ASSERT_TRUE(WaitUntilPlaying());
    } else {
        ASSERT_TRUE(PlayThenStall());
    }
    vlc_->Playlist().TogglePause();
    vlc_->Input().SetPosition(0.8);
    if (!GetParam().complete) {
        ASSERT_TRUE(WaitUntilReadWaits());
        writer_->WriteUpTo(writer_->FinalSize());
    }
    EXPECT_TRUE(WaitUntilPosition(0.7)) << "position " << vlc_->Input().Position();
    if (GetParam().complete) { // with its index the AVI file tells its time and length
        EXPECT_NEAR(vlc_->Input().Length(), kVideoLengthMs, 500);
        EXPECT_GT(vlc_->Input().Time(), 0.6 * kVideoLengthMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeks, VLCPlugin2SeekTest,
                         testing::Values(TSeekCase{"written", true},
                                         TSeekCase{"beyond_the_written_part", false}),
                         [](const testing::TestParamInfo<TSeekCase>& info) {
                             return std::string(info.param.name);
                         });

// The keyboard of the player window steps the volume from what the control reports.
TEST_F(VLCPlugin2Test, VolumeAndMuteAreKeptAndBounded) {
    EXPECT_EQ(vlc_->Audio().Volume(), 100);
    vlc_->Audio().SetVolume(IVLCAudio::MaxVolume + 50);
    EXPECT_EQ(vlc_->Audio().Volume(), IVLCAudio::MaxVolume);
    vlc_->Audio().SetVolume(-5);
    EXPECT_EQ(vlc_->Audio().Volume(), 0);
    vlc_->Audio().SetVolume(60);

    ASSERT_NO_FATAL_FAILURE(PlayGrowingCopy(kAvi, 0));
    writer_->WriteUpTo(writer_->FinalSize());
    ASSERT_TRUE(WaitUntilPlaying());
    EXPECT_EQ(vlc_->Audio().Volume(), 60);
    EXPECT_FALSE(vlc_->Audio().Mute());
    vlc_->Audio().ToggleMute();
    EXPECT_TRUE(vlc_->Audio().Mute());
    vlc_->Audio().SetMute(false);
    EXPECT_FALSE(vlc_->Audio().Mute());
}

} // namespace
