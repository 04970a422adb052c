// The extractor's rules for which bytes may be used, on the watcher itself: volume files and
// progress writes made by the test in a known order.

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "extractor/ProgressWatcher.h"
#include "support/TestEnvironment.h"

using extractor::ProgressWatcher;

namespace {

constexpr std::int64_t kVolumeSize = 1000;

class ProgressWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        volumes_ = testenv::MakeTempDir(QStringLiteral("volumes"));
        progressDir_ = testenv::MakeTempDir(QStringLiteral("progress"));
        progress_ = progressDir_ + "/unrar.txt";
        CreateVolume("movie.part1.rar");
        Write("100");
    }

    void CreateVolume(const QString& name) {
        QFile f(QDir(volumes_).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(kVolumeSize, 'x'));
    }
    // As the client overwrites the progress file: the text and 15 zero bytes, not shortened.
    void Write(const QByteArray& text) {
        QFile f(progress_);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        f.write(text + QByteArray(15, '\0'));
    }
    std::unique_ptr<ProgressWatcher> Start(std::int64_t initial = 100,
                                           std::chrono::milliseconds idle = std::chrono::minutes(1),
                                           const QString& first = "movie.part1.rar") {
        auto w = std::make_unique<ProgressWatcher>(QDir(volumes_).filePath(first).toStdString(),
                                                   progress_.toStdString(), initial, idle);
        std::string error;
        EXPECT_TRUE(w->Start(error)) << error;
        return w;
    }

    QString volumes_, progressDir_, progress_;
};

TEST_F(ProgressWatcherTest, FirstVolumeUsesItsCountsCappedAtTheFileSize) {
    auto w = Start(100);
    EXPECT_EQ(w->Usable(0), 100u);
    EXPECT_FALSE(w->Complete(0));
    Write("500");
    EXPECT_EQ(w->Usable(0), 500u);
    Write("400"); // a smaller count never takes back what was declared complete
    EXPECT_EQ(w->Usable(0), 500u);
    Write("5000");
    EXPECT_EQ(w->Usable(0), static_cast<std::uint64_t>(kVolumeSize));
    EXPECT_FALSE(w->Complete(0));
}

TEST_F(ProgressWatcherTest, CountsBelongToTheVolumeThatWasNewestWhenWritten) {
    auto w = Start(100);
    Write("700");
    CreateVolume("movie.part2.rar"); // the first volume is complete now
    Write("900");                    // written after the second appeared: it is the second's
    EXPECT_TRUE(w->Complete(0));
    EXPECT_EQ(w->Usable(0), static_cast<std::uint64_t>(kVolumeSize));
    EXPECT_EQ(w->Usable(1), 900u);
    EXPECT_FALSE(w->Complete(1));

    CreateVolume("movie.part3.rar");
    // The previous count, not yet rewritten, says nothing of the new volume.
    EXPECT_EQ(w->Usable(2), 0u);
    Write("0"); // the early 0 of a volume after the first
    EXPECT_EQ(w->Usable(2), 0u);
    EXPECT_FALSE(w->Ended(2));
    Write("300");
    EXPECT_EQ(w->Usable(2), 300u);
    Write("0"); // the client's last notification
    EXPECT_TRUE(w->Ended(2));
    EXPECT_TRUE(w->Complete(2));
    EXPECT_EQ(w->Usable(2), static_cast<std::uint64_t>(kVolumeSize));
}

TEST_F(ProgressWatcherTest, WhenTheDownloadEnds) {
    struct Case {
        const char* name;
        std::vector<QByteArray> writesForSecondVolume;
        bool ended;
    };
    const Case cases[] = {
        {"early zero only", {"0"}, false},
        {"zero after a count", {"0", "250", "0"}, true},
        {"stale count then zero", {"1000", "0"}, true},
        {"second write is a zero", {"0", "0"}, true},
        {"counts only", {"0", "250", "1000"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        auto w = Start(100);
        CreateVolume("movie.part2.rar");
        EXPECT_EQ(w->Usable(1), 0u);
        for (const QByteArray& text : c.writesForSecondVolume) {
            Write(text);
            w->Usable(1); // reads the events one write at a time
        }
        EXPECT_EQ(w->Ended(1), c.ended);
        EXPECT_EQ(w->Complete(1), c.ended);
    }
}

TEST_F(ProgressWatcherTest, ZeroForTheFirstVolumeEndsTheDownload) {
    auto w = Start(100);
    Write("0");
    EXPECT_TRUE(w->Ended(0));
    EXPECT_EQ(w->Usable(0), static_cast<std::uint64_t>(kVolumeSize));
}

TEST_F(ProgressWatcherTest, OkOrMinusOneStops) {
    for (const QByteArray& text : {QByteArray("OK"), QByteArray("-1")}) {
        SetUp();
        auto w = Start(100);
        Write("abc"); // not a value: ignored
        EXPECT_FALSE(w->Stopped());
        EXPECT_EQ(w->Usable(0), 100u);
        Write(text);
        EXPECT_EQ(w->Wait(), ProgressWatcher::Wake::Stopped);
        EXPECT_TRUE(w->Stopped());
    }
}

TEST_F(ProgressWatcherTest, IdleTimeoutCountsFromTheLastChange) {
    using namespace std::chrono;
    auto w = Start(100, milliseconds(400));
    const auto begin = steady_clock::now();
    ProgressWatcher::Wake wake = ProgressWatcher::Wake::Changed;
    bool wrote = false;
    while ((wake = w->Wait()) == ProgressWatcher::Wake::Changed) {
        if (!wrote && steady_clock::now() - begin > milliseconds(250)) {
            Write("200"); // a change restarts the clock
            wrote = true;
        }
        ASSERT_LT(steady_clock::now() - begin, seconds(10));
    }
    EXPECT_EQ(wake, ProgressWatcher::Wake::IdleTimeout);
    EXPECT_GE(steady_clock::now() - begin, milliseconds(600));
}

TEST_F(ProgressWatcherTest, StartedAfterALaterVolumeAppeared) {
    CreateVolume("movie.part2.rar");
    Write("900"); // may be the first volume's count: says nothing of the second
    {
        QFile writer(QDir(volumes_).filePath("movie.part2.rar"));
        ASSERT_TRUE(writer.open(QIODevice::ReadWrite)); // the downloader still writes it
        auto w = Start(100);
        EXPECT_TRUE(w->Complete(0));
        EXPECT_EQ(w->Usable(1), 0u);
        Write("0");
        EXPECT_FALSE(w->Complete(1)); // an early 0 as far as anyone can tell
        writer.close();
        EXPECT_TRUE(w->Ended(1)); // 0, and the volume is no longer being written
        EXPECT_EQ(w->Usable(1), static_cast<std::uint64_t>(kVolumeSize));
    }
    {
        auto w = Start(100);
        Write("300");
        EXPECT_FALSE(w->Complete(1)); // not written any more, but the count is not 0
        EXPECT_EQ(w->Usable(1), 300u);
    }
}

TEST_F(ProgressWatcherTest, OldVolumeNaming) {
    CreateVolume("movie.rar");
    auto w = Start(100, std::chrono::minutes(1), "movie.rar");
    w->SetNewNaming(false);
    EXPECT_EQ(w->VolumeName(2), (QDir(volumes_).filePath("movie.r01")).toStdString());
    EXPECT_FALSE(w->Complete(0));
    CreateVolume("movie.r00");
    EXPECT_TRUE(w->Complete(0));
    Write("0");
    Write("0");
    EXPECT_TRUE(w->Ended(1));
}

} // namespace
