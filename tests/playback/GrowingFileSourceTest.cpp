// The growing file the player reads while the extractor or the downloader still writes it:
// reads wait for all their bytes and never end short before the true end, what is not written
// yet reads as the end while the media opens, an abort ends a waiting read.

#include "playback/TGrowingFileSource.h"
#include "support/TestData.h"
#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QFile>
#include <cctype>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int64_t kFileSize = 1000;
constexpr int64_t kUnknown = TGrowingFileSource::UnknownSize;
// Only a guard against a hang: no outcome here depends on how fast it comes.
constexpr auto kWatchdog = 20s;

// Spins until `done()` holds or the watchdog expires; the final value of `done()`.
template <typename Pred> bool SpinUntil(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return done();
}

// A case's description as a test name.
std::string TestName(const char* description) {
    std::string name;
    for (const char* p = description; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

class GrowingFileSourceTest : public testing::Test {
protected:
    void SetUp() override {
        content_ = testenv::PatternBytes(kFileSize);
        path_ = testenv::MakeTempDir(QStringLiteral("growing")) + QStringLiteral("/video.avi");
        WriteFile(content_);
        source_ = std::make_unique<TGrowingFileSource>(path_);
        ASSERT_TRUE(source_->Open());
    }

    // A read still waiting when a test ends is released before the source goes.
    void TearDown() override {
        source_->Abort();
        if (pendingRead_.valid())
            pendingRead_.wait();
    }

    void WriteFile(const QByteArray& content, QIODevice::OpenMode mode = QIODevice::WriteOnly) {
        QFile file(path_);
        ASSERT_TRUE(file.open(mode));
        ASSERT_EQ(file.write(content), content.size());
    }

    // Starts a read of `length` bytes on another thread; its bytes land in readBytes_.
    void StartRead(int64_t length) {
        readBytes_ = QByteArray(static_cast<qsizetype>(length), '\0');
        pendingRead_ = std::async(std::launch::async, [this, length] {
            return source_->Read(readBytes_.data(), length);
        });
    }

    // The pending read's count, or -2 when it has not ended within the watchdog.
    int64_t FinishRead() {
        if (pendingRead_.wait_for(kWatchdog) != std::future_status::ready)
            return -2;
        return pendingRead_.get();
    }

    bool WaitUntilReadWaits() {
        return SpinUntil([this] { return source_->WaitingForData(); });
    }

    QByteArray Expected(int64_t offset, int64_t count) const { return content_.mid(offset, count); }

    QByteArray content_;
    QString path_;
    std::unique_ptr<TGrowingFileSource> source_;
    QByteArray readBytes_;
    std::future<int64_t> pendingRead_;
};

// One state of the source, one seek and one read that does not wait.
struct TSourceCase {
    const char* name;
    int64_t finalSize;
    int64_t writtenSize;
    bool complete;
    bool opened;
    std::optional<int64_t> seekTo;
    bool seekSucceeds;
    int64_t readLength; // 0: no read
    int64_t readCount;  // bytes read, 0 at the end
    int64_t readFrom;   // the file offset the bytes come from
};

void PrintTo(const TSourceCase& c, std::ostream* os) {
    *os << c.name;
}

const TSourceCase kSourceCases[] = {
    {"read inside the written part", kFileSize, 500, false, false, {}, true, 200, 200, 0},
    {"read up to the written end", kFileSize, 200, false, false, {}, true, 200, 200, 0},
    {"read across the final size ends there", kFileSize, kFileSize, false, true, 900, true, 200,
     100, 900},
    {"read at the final size is the end", kFileSize, kFileSize, false, true, kFileSize, true, 10, 0,
     kFileSize},
    {"written size above the final size is cut to it", 500, 800, false, true, 400, true, 200, 100,
     400},
    {"complete file ends at its size on disk", kUnknown, 0, true, false, 990, true, 100, 10, 990},
    {"complete file read at its end", kUnknown, 0, true, false, kFileSize, true, 10, 0, kFileSize},
    // While opening, what lies beyond the written part reads as the end at once: a demuxer
    // looking for an index at the end of the file goes on without it.
    {"read beyond the written part while opening is the end", kFileSize, 100, false, false, 900,
     true, 50, 0, 900},
    {"read beyond the written part while opening is the end, size unknown", kUnknown, 100, false,
     false, 900, true, 50, 0, 900},
    {"seek inside the written part while opening", kFileSize, 500, false, false, 300, true, 100,
     100, 300},
    {"seek beyond the written part of a complete file while opening", kUnknown, 0, true, false, 900,
     true, 100, 100, 900},
    {"seek beyond the final size fails", kFileSize, kFileSize, false, true, kFileSize + 1, false,
     10, 10, 0},
    {"negative seek fails", kFileSize, kFileSize, false, true, -1, false, 10, 10, 0},
};

class GrowingFileSourceCaseTest : public GrowingFileSourceTest,
                                  public testing::WithParamInterface<TSourceCase> {};

TEST_P(GrowingFileSourceCaseTest, SeeksAndReadsWithoutWaiting) {
    const TSourceCase& c = GetParam();
    source_->SetFinalSize(c.finalSize);
    source_->SetWrittenSize(c.writtenSize);
    if (c.complete)
        source_->SetComplete();
    if (c.opened)
        source_->SetOpened();
    if (c.seekTo) {
        EXPECT_EQ(source_->Seek(*c.seekTo), c.seekSucceeds);
    }
    if (c.readLength == 0)
        return;
    QByteArray data(static_cast<qsizetype>(c.readLength), '\0');
    ASSERT_EQ(source_->Read(data.data(), c.readLength), c.readCount);
    EXPECT_EQ(data.left(c.readCount), Expected(c.readFrom, c.readCount));
}

INSTANTIATE_TEST_SUITE_P(Cases, GrowingFileSourceCaseTest, testing::ValuesIn(kSourceCases),
                         [](const testing::TestParamInfo<TSourceCase>& info) {
                             return TestName(info.param.name);
                         });

// How a demuxer opens a file whose index lies at its end: it looks there, finds nothing and goes
// back to play from the written part; once the media is open, the end waits for its bytes.
TEST_F(GrowingFileSourceTest, IndexLookWhileOpeningFindsTheEndThenReadingGoesOn) {
    source_->SetFinalSize(kFileSize);
    source_->SetWrittenSize(300);
    char index[40];
    ASSERT_TRUE(source_->Seek(950));
    EXPECT_EQ(source_->Read(index, sizeof index), 0);
    ASSERT_TRUE(source_->Seek(100));
    QByteArray data(200, '\0');
    ASSERT_EQ(source_->Read(data.data(), data.size()), data.size());
    EXPECT_EQ(data, Expected(100, 200));

    source_->SetOpened();
    ASSERT_TRUE(source_->Seek(950));
    StartRead(40);
    ASSERT_TRUE(WaitUntilReadWaits());
    source_->SetWrittenSize(kFileSize);
    ASSERT_EQ(FinishRead(), 40);
    EXPECT_EQ(readBytes_, Expected(950, 40));
}

TEST_F(GrowingFileSourceTest, OwnerReportsAreBounded) {
    source_->SetWrittenSize(600);
    source_->SetWrittenSize(300); // a late, smaller report changes nothing
    EXPECT_EQ(source_->WrittenSize(), 600);
    source_->SetFinalSize(400);
    EXPECT_EQ(source_->WrittenSize(), 400);
    source_->SetFinalSize(-5);
    source_->SetWrittenSize(-5);
    EXPECT_EQ(source_->FinalSize(), 400);
    EXPECT_EQ(source_->WrittenSize(), 400);
}

// A read that waits for bytes not written yet, and the written sizes that end its wait.
struct TWaitCase {
    const char* name;
    bool opened;
    int64_t writtenBefore;
    int64_t seekTo;
    int64_t readLength;
    int64_t writtenShort; // reported while it waits, still short of the request
    int64_t writtenAfter;
};

void PrintTo(const TWaitCase& c, std::ostream* os) {
    *os << c.name;
}

const TWaitCase kWaitCases[] = {
    {"read across the written end", false, 80, 0, 100, 99, 150},
    {"read at the written end while opening", false, 100, 100, 10, 105, 110},
    {"read beyond the written part once opened", true, 100, 900, 50, 920, 950},
};

class GrowingFileSourceWaitTest : public GrowingFileSourceTest,
                                  public testing::WithParamInterface<TWaitCase> {};

TEST_P(GrowingFileSourceWaitTest, ReadWaitsForAllItsBytes) {
    const TWaitCase& c = GetParam();
    source_->SetFinalSize(kFileSize);
    source_->SetWrittenSize(c.writtenBefore);
    if (c.opened)
        source_->SetOpened();
    ASSERT_TRUE(source_->Seek(c.seekTo));
    StartRead(c.readLength);
    ASSERT_TRUE(WaitUntilReadWaits());
    source_->SetWrittenSize(c.writtenShort);
    source_->SetWrittenSize(c.writtenAfter);
    ASSERT_EQ(FinishRead(), c.readLength);
    EXPECT_EQ(readBytes_, Expected(c.seekTo, c.readLength));
}

INSTANTIATE_TEST_SUITE_P(Cases, GrowingFileSourceWaitTest, testing::ValuesIn(kWaitCases),
                         [](const testing::TestParamInfo<TWaitCase>& info) {
                             return TestName(info.param.name);
                         });

TEST_F(GrowingFileSourceTest, CompleteEndsAWaitingReadAtTheTrueEnd) {
    WriteFile(content_.left(80));
    source_->SetWrittenSize(80);
    StartRead(100);
    ASSERT_TRUE(WaitUntilReadWaits());
    source_->SetComplete();
    ASSERT_EQ(FinishRead(), 80);
    EXPECT_EQ(readBytes_.left(80), Expected(0, 80));
}

TEST_F(GrowingFileSourceTest, AbortEndsAWaitingReadAndEverythingAfter) {
    source_->SetWrittenSize(10);
    StartRead(100);
    ASSERT_TRUE(WaitUntilReadWaits());
    source_->Abort();
    EXPECT_EQ(FinishRead(), -1);

    char byte = 0;
    EXPECT_EQ(source_->Read(&byte, 1), -1);
    EXPECT_FALSE(source_->Seek(0));
    EXPECT_FALSE(source_->Open());

    source_->ClearAbort(); // the reader was stopped; the media may be opened again
    ASSERT_TRUE(source_->Open());
    ASSERT_EQ(source_->Read(&byte, 1), 1);
    EXPECT_EQ(byte, content_[0]);
}

TEST_F(GrowingFileSourceTest, ReopenStartsOverAndOpensAgain) {
    source_->SetWrittenSize(kFileSize);
    source_->SetOpened();
    ASSERT_TRUE(source_->Seek(500));
    ASSERT_TRUE(source_->Open());
    EXPECT_FALSE(source_->Opened());
    char byte = 0;
    ASSERT_EQ(source_->Read(&byte, 1), 1);
    EXPECT_EQ(byte, content_[0]);
}

TEST_F(GrowingFileSourceTest, ClosedSourceNeitherReadsNorSeeks) {
    source_->SetWrittenSize(kFileSize);
    source_->Close();
    char byte = 0;
    EXPECT_EQ(source_->Read(&byte, 1), -1);
    EXPECT_FALSE(source_->Seek(0));
}

TEST_F(GrowingFileSourceTest, MissingFileDoesNotOpen) {
    TGrowingFileSource missing(path_ + QStringLiteral(".missing"));
    EXPECT_FALSE(missing.Open());
}

TEST_F(GrowingFileSourceTest, PollingTakesTheSizeOnDisk) {
    WriteFile(content_.left(50));
    source_->SetPollFileSize(true);
    StartRead(100);
    ASSERT_TRUE(WaitUntilReadWaits());
    EXPECT_EQ(source_->WrittenSize(), 50);
    WriteFile(content_.mid(50, 100), QIODevice::Append);
    ASSERT_EQ(FinishRead(), 100);
    EXPECT_EQ(readBytes_, Expected(0, 100));
}

} // namespace
