// Pictures of the player window on the real (Xvfb) screen while a video plays and while it
// buffers, saved under TAVILON_SCREENSHOT_DIR for a person to look at. The screen is grabbed
// (a widget grab misses VLC's own window); the checks make sure the video area shows moving
// pictures and the buffering strip shows.

#include "api/Ttavilonapi.h"
#include "platform/OptionDefaults.h"
#include "player/TVLCPlugin2.h"
#include "player/TestVideo.h"
#include "player/TfrmPlayer.h"
#include "support/Screenshots.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using testenv::Colours;
using testenv::GrabScreen;

namespace {

const testenv::TTestVideo kMkv{"mkv", ".mkv", "libx264", "aac", true, "-cluster_time_limit 1000"};

template <typename Pred> bool WaitFor(Pred done, int ms = 30000) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

void Serve(int ms) {
    WaitFor([] { return false; }, ms);
}

bool Save(const QImage& picture, const QString& name) {
    return testenv::SaveScreenshot(picture, name, QStringLiteral(TAVILON_SCREENSHOT_DIR));
}

class TScreenshotWindow : public TfrmPlayer {
public:
    bool inTransfer = true;
    double percent = 100;
    int64_t videoSize = 0;

protected:
    bool VolumeInTransfer() const override { return inTransfer; }
    double OverallPercent() const override { return percent; }
    void UpdateOverallPercent() override {}
    bool DownloadFinished() const override { return false; }
    int64_t VideoSize() const override { return videoSize; }
};

TEST(PlayerWindowScreenshot, PlayingAndBuffering) {
    RegisterOptionDefaults();
    TScriptedInteraction interaction;
    Ttavilonapi api;
    const QString video =
        testenv::MakeTempDir(QStringLiteral("videos")) + QStringLiteral("/sample.mkv");
    ASSERT_EQ(testenv::MakeTestVideo(kMkv, video, 20), QString());

    auto* window = new TScreenshotWindow();
    window->showMaximized();
    window->pnFile->setText(QStringLiteral("  A sample video (2026)"));
    window->pnFile->show();
    window->videoSize = QFileInfo(video).size();
    window->DownloadProgress({}, {}, QStringLiteral(" 1.52 MB/s "), {},
                             QStringLiteral("Buffering 00:00:07"), 300, 500);
    window->VideoFileReady(nullptr, video);
    ASSERT_TRUE(WaitFor([window] { return window->VLC()->Input().Time() > 2000; }));

    const QRect area(window->VLC()->mapToGlobal(QPoint(0, 0)), window->VLC()->size());
    const QImage first = GrabScreen();
    Serve(1000);
    const QImage second = GrabScreen();
    EXPECT_TRUE(Save(second, QStringLiteral("player-playing.png")));
    EXPECT_GT(Colours(first, area), 50);
    EXPECT_NE(first.copy(area), second.copy(area));
    EXPECT_NE(window->lbTime->text(), QStringLiteral("00:00:00/00:00:20"));

    window->percent = 0.5;
    ASSERT_TRUE(WaitFor([window] { return window->tmBuffer->isActive(); }));
    window->percent = 0.8;
    ASSERT_TRUE(WaitFor([window] { return window->lbBufferTarget->text().startsWith("60"); }));
    Serve(500);
    EXPECT_TRUE(Save(GrabScreen(), QStringLiteral("player-buffering.png")));

    window->btnCloseClick();
    QPointer<TfrmPlayer> closed = window;
    EXPECT_TRUE(WaitFor([&closed] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closed.isNull();
    }));
}

} // namespace
