// The player window with libVLC's dummy outputs on a real video made by ffmpeg: the password
// lines, the track bar, the timers on the buffering decision, a failed registration, the lifetime
// rules and one playback at a time. The download is stood in for by the window's own seam
// (volume in transfer, overall percentage); the video file is given to VideoFileReady.

#include "api/Ttavilonapi.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "playback/TPlayer.h"
#include "player/TVLCPlugin2.h"
#include "player/TestVideo.h"
#include "player/TfrmPlayer.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int kVideoSeconds = 8;
constexpr int kWaitMs = 30000;
// Nothing listens there: every request to it fails at once.
const QString kDeadServer = QStringLiteral("http://127.0.0.1:1");

const testenv::TTestVideo kMkv{"mkv", ".mkv", "libx264", "aac", true, "-cluster_time_limit 1000"};
const testenv::TTestVideo kAvi{"avi", ".avi", "mpeg4", "libmp3lame", false, ""};

// The window frees itself from the event loop; the test's loop level needs the push.
bool Freed(const QPointer<TfrmPlayer>& window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.isNull();
}

template <typename Pred> bool WaitFor(Pred done, int ms = kWaitMs) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

// The download as the test sets it.
class TTestPlayerWindow : public TfrmPlayer {
public:
    bool inTransfer = false;
    double percent = 0;
    int percentUpdates = 0;
    int64_t videoSize = 0;

protected:
    bool VolumeInTransfer() const override { return inTransfer; }
    double OverallPercent() const override { return percent; }
    void UpdateOverallPercent() override { ++percentUpdates; }
    bool DownloadFinished() const override { return !inTransfer; }
    int64_t VideoSize() const override { return videoSize; }
};

class PlayerWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        qputenv("TAVILON_FILEHOST_URL", kDeadServer.toLatin1());
        RegisterOptionDefaults();
        OptionsManager()
            .FindSection(ServerSection)
            ->SetString(QStringLiteral("DefaultServer"), kDeadServer + "/tavilonserver.php");
        api_ = new Ttavilonapi();
    }
    static void TearDownTestSuite() {
        delete api_;
        api_ = nullptr;
    }

    void TearDown() override {
        delete window_.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static QString Video(const testenv::TTestVideo& video) {
        static QMap<QString, QString> made;
        if (made.contains(video.name))
            return made[video.name];
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

    TTestPlayerWindow* OpenWindow() {
        auto* window = new TTestPlayerWindow();
        window_ = window;
        window->show();
        return window;
    }

    // Starts the video as the downloader's ready event does, and waits until it plays.
    bool StartPlaying(TTestPlayerWindow* window, const testenv::TTestVideo& video = kMkv) {
        const QString file = Video(video);
        if (file.isEmpty())
            return false;
        window->videoSize = QFileInfo(file).size();
        window->VideoFileReady(nullptr, file);
        return WaitFor([window] { return window->VLC()->Input().Position() > 0; });
    }

    static inline Ttavilonapi* api_ = nullptr;
    QPointer<TfrmPlayer> window_;
    TScriptedInteraction interaction_;
};

TEST_F(PlayerWindowTest, StartsWithTheDescribedLayout) {
    TTestPlayerWindow* window = OpenWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("tavilon player"));
    EXPECT_FALSE(window->pnFile->isVisible());
    EXPECT_FALSE(window->pnBuffering->isVisible());
    EXPECT_EQ(window->pbProgress->maximum(), 500);
    EXPECT_EQ(window->tbProgress->maximum(), 100);
    EXPECT_EQ(window->lbTime->text(), QStringLiteral("00:00:00/00:00:00"));
    EXPECT_EQ(window->lbSpeed->text(), QStringLiteral("speed"));
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Play"));
    EXPECT_FALSE(window->PlayerPlayCommand->isEnabled());
    EXPECT_TRUE(window->tmVideo->isActive());
    EXPECT_FALSE(window->tmBuffer->isActive());
    ASSERT_NE(window->VLC(), nullptr);
    for (int picture : {8, 13, 17, 18, 21})
        EXPECT_TRUE(window->imMain.contains(picture)) << picture;
}

// The later "password:" line wins; blank lines stay links in their place. The link check fails
// (nothing answers), so the window closes itself and the error goes on.
TEST_F(PlayerWindowTest, PasswordLinesAndAFailedStartCloseTheWindow) {
    TTestPlayerWindow* window = OpenWindow();
    const QStringList lines = {QStringLiteral("password:first"), kDeadServer + "/?d=AAA", QString(),
                               QStringLiteral("password:second"), kDeadServer + "/?d=BBB"};
    EXPECT_ANY_THROW(window->PlayLinks(lines));
    ASSERT_FALSE(window_.isNull()); // freed from the event loop, not under the caller
    EXPECT_EQ(window->Player()->ArchivePassword, QStringLiteral("second"));
    EXPECT_EQ(window->Player()->Links,
              (QStringList{kDeadServer + "/?d=AAA", QString(), kDeadServer + "/?d=BBB"}));
    EXPECT_TRUE(window->Closing());
    EXPECT_TRUE(WaitFor([this] { return Freed(window_); }, 2000));
}

TEST_F(PlayerWindowTest, APasswordLineAloneGivesAnEmptyPassword) {
    TTestPlayerWindow* window = OpenWindow();
    window->Player()->ArchivePassword = QStringLiteral("stale");
    EXPECT_ANY_THROW(window->PlayLinks({QStringLiteral("password:")}));
    EXPECT_EQ(window->Player()->ArchivePassword, QString());
    EXPECT_TRUE(window->Player()->Links.isEmpty());
}

// The user's seek goes to VLC; the timer's own moves of the thumb do not seek again (which
// would hold playback at the thumb), so the video plays on from where the user put it.
TEST_F(PlayerWindowTest, TrackBarSeeksAndTheTimerDoesNotEcho) {
    TTestPlayerWindow* window = OpenWindow();
    ASSERT_TRUE(StartPlaying(window));
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Pause"));
    EXPECT_TRUE(WaitFor([window] { return window->tbProgress->maximum() == 10000; }));
    window->tbProgress->setValue(2500);
    ASSERT_TRUE(WaitFor([window] { return window->VLC()->Input().Position() >= 0.24; }));
    ASSERT_TRUE(WaitFor([window] { return window->VLC()->Input().Position() >= 0.36; }));
    EXPECT_TRUE(WaitFor([window] { return window->tbProgress->value() >= 3600; }));
    EXPECT_TRUE(WaitFor([window] { return window->lbTime->text().endsWith("/00:00:08"); }));
}

// Close to the download's end the tick pauses under the buffering bar; a gain of half a point
// resumes after the one-second wait; the user's own pause is never undone by buffering.
TEST_F(PlayerWindowTest, TimersBufferOnTheDecisionAndResume) {
    TTestPlayerWindow* window = OpenWindow();
    window->inTransfer = true;
    window->percent = 100;
    ASSERT_TRUE(StartPlaying(window));

    window->percent = 0.5; // margin (0.5 - 0.3) / 100 - p is below 0.01 at any p > 0
    ASSERT_TRUE(WaitFor([window] { return window->tmBuffer->isActive(); }));
    EXPECT_FALSE(window->tmVideo->isActive());
    EXPECT_TRUE(window->pnBuffering->isVisible());
    EXPECT_EQ(window->BufferStartPercent(), 0.5);
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Play"));
    EXPECT_EQ(window->pbProgress->value(), 0);

    window->percent = 0.75;
    ASSERT_TRUE(WaitFor([window] { return window->pbProgress->value() == 250; }, 3000));
    EXPECT_TRUE(window->tmBuffer->isActive());
    EXPECT_GT(window->percentUpdates, 0);

    window->percent = 1.0;
    ASSERT_TRUE(WaitFor([window] { return !window->tmBuffer->isActive(); }, 3000));
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Pause"));
    EXPECT_EQ(window->BufferStartPercent(), 0);
    window->percent = 100;
    ASSERT_TRUE(WaitFor([window] { return window->tmVideo->isActive(); }, 3000));

    // The user pauses; a buffering condition then leaves the pause alone.
    window->PlayerPlayCommandExecute();
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Play"));
    window->percent = 0.5;
    WaitFor([] { return false; }, 300);
    EXPECT_FALSE(window->tmBuffer->isActive());
    EXPECT_TRUE(window->tmVideo->isActive());
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Play"));
}

// Closing the window while the one-second wait after buffering runs: the window stays until
// the wait has returned, and then goes.
TEST_F(PlayerWindowTest, ClosingDuringTheResumeWaitFreesTheWindowAfterIt) {
    TTestPlayerWindow* window = OpenWindow();
    window->inTransfer = true;
    window->percent = 100;
    ASSERT_TRUE(StartPlaying(window));
    window->percent = 0.5;
    ASSERT_TRUE(WaitFor([window] { return window->tmBuffer->isActive(); }));
    bool closedInWait = false;
    bool aliveAfterClose = false;
    window->percent = 1.0;
    QTimer::singleShot(1300, [&] {
        closedInWait = true;
        window->btnCloseClick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        aliveAfterClose = !window_.isNull();
    });
    ASSERT_TRUE(WaitFor([this] { return Freed(window_); }, 10000));
    EXPECT_TRUE(closedInWait);
    EXPECT_TRUE(aliveAfterClose);
}

// The catalogue is down: the registration's error is shown and the video plays all the same.
TEST_F(PlayerWindowTest, ARegistrationErrorStillStartsPlayback) {
    TTestPlayerWindow* window = OpenWindow();
    window->SendInfo = true;
    ASSERT_TRUE(StartPlaying(window));
    EXPECT_TRUE(window->PlaybackStarted());
    EXPECT_EQ(interaction_.errors.size(), 1);
    EXPECT_FALSE(window->pnBuffering->isVisible());
    // Later ready events change nothing, and the registration is not tried again.
    window->VideoFileReady(nullptr, Video(kMkv));
    EXPECT_EQ(window->VLC()->Playlist().ItemCount(), 1);
    EXPECT_EQ(interaction_.errors.size(), 1);
}

// A second playback closes the first before it starts, so the two never share the downloader.
TEST_F(PlayerWindowTest, ASecondPlaybackClosesTheFirst) {
    QPointer<TfrmPlayer> first = NewPlayerWindow();
    first->VideoFileReady(nullptr, Video(kAvi));
    ASSERT_EQ(first->VLC()->Playlist().ItemCount(), 1);
    QPointer<TfrmPlayer> second = NewPlayerWindow();
    window_ = second;
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(CurrentPlayerWindow(), second.data());
    EXPECT_EQ(second->VLC()->Playlist().ItemCount(), 0);
}

// Space plays and pauses, Up and Down change the volume by 10, M mutes, Right and Left seek 10 s
// within the length.
TEST_F(PlayerWindowTest, KeysControlPlayback) {
    TTestPlayerWindow* window = OpenWindow();
    ASSERT_TRUE(StartPlaying(window));
    const auto press = [window](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &event);
    };
    ASSERT_TRUE(WaitFor([window] { return window->PlayerPlayCommand->isEnabled(); }));
    press(Qt::Key_Space);
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Play"));
    press(Qt::Key_Space);
    EXPECT_EQ(window->PlayerPlayCommand->text(), QStringLiteral("Pause"));

    IVLCAudio& audio = window->VLC()->Audio();
    const int volume = audio.Volume();
    press(Qt::Key_Up);
    EXPECT_EQ(audio.Volume(), volume + 10);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(audio.Volume(), volume - 10);
    press(Qt::Key_M);
    EXPECT_TRUE(audio.Mute());
    press(Qt::Key_M);
    EXPECT_FALSE(audio.Mute());

    ASSERT_TRUE(WaitFor([window] { return window->VLC()->Input().Length() > 0; }));
    const double before = window->VLC()->Input().Time();
    press(Qt::Key_Right);
    EXPECT_TRUE(
        WaitFor([window, before] { return window->VLC()->Input().Time() > before + 5000; }, 5000));
}

} // namespace
