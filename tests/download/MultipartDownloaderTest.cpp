#include "download/PartDriver.h"
#include "download/TMultipartHttpDownloader.h"
#include "support/TestEnvironment.h"
#include "support/TestData.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using testenv::PatternBytes;
using testenv::ReadAll;
using testenv::WaitUntil;

namespace {

class MultipartTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testenv::MakeTempDir(QStringLiteral("multipart"));
        server_.Start();
    }

    // Puts `content` on the server under /files/<name>; returns its URL.
    QString Publish(const QString& name, const QByteArray& content) {
        const QString path = dir_ + QStringLiteral("/src-") + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        server_.ServeFile("/files/" + name.toStdString(), path.toStdString());
        return Url("/files/" + name.toStdString());
    }

    QString Url(const std::string& path) const { return QString::fromStdString(server_.Url(path)); }

    // A downloader writing into a fresh target file, with short failure timings.
    void Prepare(TMultipartHttpDownloader& downloader, const QString& url, int partCount = 100) {
        target_ = dir_ + QStringLiteral("/target.bin");
        downloader.URL = url;
        downloader.PartCount = partCount;
        downloader.RestartDelayMs = 20;
        downloader.MaxRestartDelayMs = 80;
        downloader.SetFileStream(TSharedFileStream::Create(target_));
    }

    // Runs a transfer to its end the way the volume downloader does.
    void Run(TMultipartHttpDownloader& downloader, TPartDriver& driver, int ms = 60000) {
        downloader.Start();
        ASSERT_TRUE(WaitUntil([&] { return driver.doneCount > 0; }, ms)) << "no end reported";
        WaitUntil([] { return false; }, 50);
        EXPECT_EQ(driver.doneCount, 1) << "one end per transfer";
    }

    QString dir_;
    QString target_;
    TTestHttpServer server_;
};

TEST_F(MultipartTest, SplitTableAndContiguousPercentAsPartsFinish) {
    const QByteArray content = PatternBytes(1000000);
    const QString url = Publish(QStringLiteral("million.bin"), content);
    TMultipartHttpDownloader downloader;
    Prepare(downloader, url);
    downloader.RestartDelayMs = 1;
    // Part 0 and part 10 hold back, then are cut off and restarted.
    server_.AddStall(0, 1500, 1, 0);
    server_.AddStall(0, 3000, 1, 100010);
    TPartDriver driver(downloader);
    std::vector<double> contiguous;
    downloader.SetOnShowStats([&](TMultipartHttpDownloader* sender) {
        contiguous.push_back(sender->ContiguousPercent());
        EXPECT_TRUE(std::isfinite(sender->CurSpeed()));
    });
    Run(downloader, driver);
    ASSERT_EQ(driver.doneCode, 200);
    EXPECT_EQ(driver.doneReason, QStringLiteral("OK"));

    const auto& parts = downloader.Parts();
    ASSERT_EQ(parts.size(), 100u);
    EXPECT_EQ(parts[0]->StartOffset, 0);
    EXPECT_EQ(parts[0]->EndOffset, 10000);
    EXPECT_EQ(parts[1]->StartOffset, 10001);
    EXPECT_EQ(parts[1]->EndOffset, 20001);
    EXPECT_EQ(parts[99]->StartOffset, 990099);
    EXPECT_EQ(parts[99]->EndOffset, 999999);
    EXPECT_EQ(parts[99]->RangeLength(), 9901);
    EXPECT_EQ(downloader.ContentLength(), 1000000);
    EXPECT_EQ(downloader.FileStream(), nullptr) << "released at the end";
    EXPECT_TRUE(ReadAll(target_) == content);

    // Part 0 held back over a tick, later part 10 with parts 0 to 9 done.
    EXPECT_NE(std::find(contiguous.begin(), contiguous.end(), -1.0), contiguous.end());
    EXPECT_NE(std::find(contiguous.begin(), contiguous.end(), 9.0), contiguous.end());
    EXPECT_EQ(contiguous.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(contiguous.begin() + 2, contiguous.end()));
    EXPECT_GE(downloader.Percent(), 100.0);

    // The range header of each part's (last) request.
    std::set<std::string> ranges;
    for (const auto& request : server_.Requests())
        ranges.insert(request.range);
    EXPECT_TRUE(ranges.count("bytes=0-10000"));
    EXPECT_TRUE(ranges.count("bytes=10001-20001"));
    EXPECT_TRUE(ranges.count("bytes=990099-999999"));
    EXPECT_TRUE(ranges.count("")) << "the first request asks for no range";
}

TEST_F(MultipartTest, SmallResourcesSplitWithoutOverlapOrPastTheEnd) {
    struct Case {
        int64_t length;
        int parts;
    };
    const Case cases[] = {{1, 10}, {9, 10}, {50, 100}, {5000, 100}, {9999, 100}, {10099, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const QByteArray content = PatternBytes(c.length, static_cast<uint32_t>(c.length));
        const QString url = Publish(QStringLiteral("small%1.bin").arg(c.length), content);
        server_.ClearRequests();
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url, c.parts);
        TPartDriver driver(downloader);
        Run(downloader, driver);
        ASSERT_EQ(driver.doneCode, 200);
        const auto& parts = downloader.Parts();
        ASSERT_EQ(parts.size(), static_cast<size_t>(c.parts));
        int64_t next = 0;
        size_t requested = 1; // the first request
        for (const TMyHttpCli* part : parts) {
            EXPECT_TRUE(part->Done);
            if (part->RangeLength() == 0)
                continue;
            EXPECT_EQ(part->StartOffset, next);
            EXPECT_LE(part->EndOffset, c.length - 1);
            next = part->EndOffset + 1;
            ++requested;
        }
        EXPECT_EQ(next, c.length);
        EXPECT_EQ(server_.RequestCount(), requested) << "empty ranges are never requested";
        EXPECT_TRUE(ReadAll(target_) == content);
    }
}

TEST_F(MultipartTest, RelocatedFirstRequestAndPartsKeepTheirRanges) {
    const QByteArray content = PatternBytes(200000);
    const QString fileUrl = Publish(QStringLiteral("movie.part1.rar"), content);
    server_.AddRedirect("/mgr_dl.php", "/hop", 302);
    server_.AddRedirect("/hop", fileUrl.toStdString(), 301);
    TMultipartHttpDownloader downloader;
    Prepare(downloader, Url("/mgr_dl.php"), 20);
    TPartDriver driver(downloader);
    std::vector<std::pair<int, QString>> headers;
    downloader.SetOnAsyncHeaderEnd([&](THttpCli* sender) {
        headers.emplace_back(sender->StatusCode(), sender->DocName());
        // The volume downloader changes the part count once it sees the real file.
        if (sender->DocName() != QStringLiteral("mgr_dl.php"))
            downloader.PartCount = 25;
    });
    Run(downloader, driver);
    ASSERT_EQ(driver.doneCode, 200);
    const std::vector<std::pair<int, QString>> expected = {
        {302, QStringLiteral("mgr_dl.php")},
        {301, QStringLiteral("hop")},
        {200, QStringLiteral("movie.part1.rar")}};
    EXPECT_EQ(headers, expected);
    EXPECT_EQ(downloader.Parts().size(), 25u);
    EXPECT_TRUE(ReadAll(target_) == content);
    // Every hop of a part asks for the part's range.
    std::map<std::string, int> hopsPerRange;
    for (const auto& request : server_.Requests())
        if (!request.range.empty())
            ++hopsPerRange[request.range];
    EXPECT_EQ(hopsPerRange.size(), 25u);
    for (const auto& [range, hops] : hopsPerRange)
        EXPECT_EQ(hops, 3) << range;
}

TEST_F(MultipartTest, RangesRestartAfterCutsAndStalls) {
    const QByteArray content = PatternBytes(2000000);
    const QString url = Publish(QStringLiteral("cuts.bin"), content);
    {
        SCOPED_TRACE("cut connections");
        server_.SetCutAfter(3000, 15);
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        TPartDriver driver(downloader);
        Run(downloader, driver);
        ASSERT_EQ(driver.doneCode, 200);
        EXPECT_GE(server_.CutCount(), 14) << "the first request may take one cut";
        EXPECT_GT(downloader.TotalCount(), content.size()) << "restarted bytes are counted";
        EXPECT_TRUE(ReadAll(target_) == content);
    }
    {
        SCOPED_TRACE("one range cut again and again, each time after some data");
        server_.SetCutAfter(1000, 30, 7 * (2000000 / 100 + 1));
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        downloader.RestartDelayMs = 1;
        downloader.MaxRestartDelayMs = 1;
        TPartDriver driver(downloader);
        Run(downloader, driver);
        ASSERT_EQ(driver.doneCode, 200) << "data received resets the failure count";
        EXPECT_TRUE(ReadAll(target_) == content);
    }
    {
        SCOPED_TRACE("stalled connection");
        const int cutsBefore = server_.CutCount();
        server_.AddStall(5000, 20000, 1, 3 * (2000000 / 100 + 1));
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        downloader.StallTimeoutMs = 600;
        TPartDriver driver(downloader);
        QElapsedTimer clock;
        clock.start();
        Run(downloader, driver);
        ASSERT_EQ(driver.doneCode, 200);
        EXPECT_LT(clock.elapsed(), 10000) << "the stalled range was restarted, not waited for";
        EXPECT_TRUE(ReadAll(target_) == content);
        server_.Stop(); // ends the stalled answer on the server side
        EXPECT_EQ(server_.CutCount(), cutsBefore + 1);
    }
}

TEST_F(MultipartTest, RandomCutsStillGiveAnIdenticalFile) {
    const QByteArray content = PatternBytes(4 * 1024 * 1024 + 17);
    const QString url = Publish(QStringLiteral("random.bin"), content);
    server_.SetRandomCuts(0.3, 99);
    TMultipartHttpDownloader downloader;
    Prepare(downloader, url);
    TPartDriver driver(downloader);
    Run(downloader, driver);
    ASSERT_EQ(driver.doneCode, 200);
    EXPECT_GT(server_.CutCount(), 10);
    EXPECT_TRUE(ReadAll(target_) == content);
}

TEST_F(MultipartTest, ServerIgnoringRangesEndsTheTransferWithoutWritingItsBodies) {
    const QByteArray content = PatternBytes(300000);
    const QString url = Publish(QStringLiteral("norange.bin"), content);
    server_.SetIgnoreRange(true);
    TMultipartHttpDownloader downloader;
    Prepare(downloader, url, 10);
    downloader.RestartDelayMs = 20;
    downloader.MaxRestartDelayMs = 80;
    TPartDriver driver(downloader);
    QElapsedTimer clock;
    clock.start();
    Run(downloader, driver);
    EXPECT_EQ(driver.doneCode, TMultipartHttpDownloader::ErrorRangeFailed);
    // Eleven waits of 20, 40, 80, 80, ... ms between the twelve attempts of a range.
    EXPECT_GE(clock.elapsed(), 20 + 40 + 9 * 80);
    std::map<std::string, int> attempts;
    for (const auto& request : server_.Requests())
        if (!request.range.empty())
            ++attempts[request.range];
    ASSERT_EQ(attempts.size(), 10u);
    int most = 0;
    for (const auto& [range, count] : attempts) {
        EXPECT_LE(count, 12) << range;
        most = std::max(most, count);
    }
    EXPECT_EQ(most, 12);
    EXPECT_EQ(downloader.TotalCount(), 0);
    EXPECT_EQ(ReadAll(target_).size(), 0) << "no 200 body reached the file";
    EXPECT_TRUE(driver.partsDone.empty());
}

TEST_F(MultipartTest, FirstRequestFailuresEndTheTransfer) {
    server_.AddHandler("/nolength", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/octet-stream",
                                              [](size_t, httplib::DataSink& sink) {
                                                  sink.write("abc", 3);
                                                  sink.done();
                                                  return true;
                                              });
    });
    server_.AddPage("/gone", 404, "no such file");
    TTestHttpServer closed;
    closed.Start();
    const QString closedUrl = QString::fromStdString(closed.Url("/x"));
    closed.Stop();
    struct Case {
        QString url;
        int code;
        QString reason;
    };
    const Case cases[] = {
        {Url("/nolength"), TMultipartHttpDownloader::ErrorNoContentLength,
         QStringLiteral("Download failed: no content length")},
        {Url("/gone"), 404, QStringLiteral("Not Found")},
        {closedUrl, CURLE_COULDNT_CONNECT, QStringLiteral("Download failed")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        TMultipartHttpDownloader downloader;
        Prepare(downloader, c.url);
        TPartDriver driver(downloader);
        Run(downloader, driver);
        EXPECT_EQ(driver.doneCode, c.code);
        EXPECT_EQ(driver.doneReason, c.reason);
        EXPECT_EQ(downloader.Parts().size(), 1u);
    }
}

TEST_F(MultipartTest, AbortEndsIn503Once) {
    const QByteArray content = PatternBytes(1000000);
    const QString url = Publish(QStringLiteral("abort.bin"), content);
    {
        SCOPED_TRACE("ranges running");
        server_.SetRateLimit(100000);
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        TPartDriver driver(downloader);
        downloader.Start();
        ASSERT_TRUE(WaitUntil([&] { return downloader.TotalCount() > 100000; }));
        downloader.Abort();
        EXPECT_EQ(driver.doneCount, 1);
        EXPECT_EQ(driver.doneCode, 503);
        EXPECT_EQ(driver.doneReason, QStringLiteral("Transfert aborted"));
        EXPECT_FALSE(downloader.InTransfer());
        for (const TMyHttpCli* part : downloader.Parts())
            EXPECT_TRUE(part->Done);
        downloader.Abort();
        WaitUntil([] { return false; }, 200);
        EXPECT_EQ(driver.doneCount, 1) << "an idle component reports nothing";
        server_.SetRateLimit(0);
    }
    {
        SCOPED_TRACE("split pending");
        server_.ClearRequests();
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        TPartDriver driver(downloader);
        downloader.SetOnShowStats([&](TMultipartHttpDownloader* sender) {
            if (sender->ContentLength() > 0 && sender->Parts().size() == 1)
                QTimer::singleShot(0, sender, [sender] { sender->Abort(); });
        });
        Run(downloader, driver);
        EXPECT_EQ(driver.doneCode, 503);
        EXPECT_EQ(downloader.Parts().size(), 1u) << "the split never ran";
        EXPECT_EQ(server_.RequestCount(), 1u);
    }
    {
        SCOPED_TRACE("new start while the split is pending");
        TMultipartHttpDownloader downloader;
        Prepare(downloader, url);
        TPartDriver driver(downloader);
        int starts = 0;
        downloader.SetOnShowStats([&](TMultipartHttpDownloader* sender) {
            if (sender->ContentLength() > 0 && sender->Parts().size() == 1 && starts++ == 0)
                QTimer::singleShot(0, sender, [&, sender] {
                    sender->SetFileStream(TSharedFileStream::Create(target_));
                    sender->Start();
                });
        });
        Run(downloader, driver);
        EXPECT_EQ(driver.doneCode, 200);
        EXPECT_TRUE(ReadAll(target_) == content);
    }
}

TEST_F(MultipartTest, StartAndAbortFromInsideItsOwnEvents) {
    const QByteArray content = PatternBytes(500000);
    const QString url = Publish(QStringLiteral("reenter.bin"), content);
    TMultipartHttpDownloader downloader;
    Prepare(downloader, url);
    TPartDriver driver(downloader);
    // The second range to finish aborts; the end event starts the next transfer at once, as
    // the volume downloader does for its next volume.
    int transfers = 0;
    downloader.SetOnRequestPartDone(
        [&](TMultipartHttpDownloader* sender, int, const QString&, int) {
            if (transfers == 0 && ++driver.doneCount == 2)
                sender->Abort();
            else
                driver.StartMore();
        });
    std::vector<int> ends;
    downloader.SetOnRequestDone([&](TMultipartHttpDownloader* sender, int code, const QString&) {
        ends.push_back(code);
        if (++transfers == 1) {
            sender->SetFileStream(TSharedFileStream::Create(target_));
            sender->Start();
        }
    });
    downloader.Start();
    ASSERT_TRUE(WaitUntil([&] { return ends.size() == 2; }));
    EXPECT_EQ(ends, (std::vector<int>{503, 200}));
    EXPECT_TRUE(ReadAll(target_) == content);
    EXPECT_THROW(
        [&] {
            downloader.PartCount = 9;
            downloader.Start();
        }(),
        Exception);
}

TEST_F(MultipartTest, SparseFileOf3GiBArrivesIntact) {
    constexpr int64_t Size = 3LL * 1024 * 1024 * 1024;
    const QString source = dir_ + QStringLiteral("/sparse.bin");
    const int64_t marks[] = {0, (2LL << 30) - 3, 2LL << 30, (5LL << 29) + 12345, Size - 8};
    {
        auto stream = TSharedFileStream::Create(source);
        for (const int64_t mark : marks) {
            const QByteArray tag =
                QByteArray::number(static_cast<qlonglong>(mark)).rightJustified(8, '#');
            ASSERT_TRUE(stream->WriteAt(mark, tag.constData(), 8));
        }
        ASSERT_EQ(stream->Size(), Size);
    }
    server_.ServeFile("/files/sparse.bin", source.toStdString());
    TMultipartHttpDownloader downloader;
    Prepare(downloader, Url("/files/sparse.bin"), 3072);
    TPartDriver driver(downloader);
    Run(downloader, driver, 120000);
    ASSERT_EQ(driver.doneCode, 200);
    EXPECT_EQ(downloader.ContentLength(), Size);
    EXPECT_EQ(downloader.Parts().back()->EndOffset, Size - 1);
    auto target = TSharedFileStream::Open(target_);
    auto original = TSharedFileStream::Open(source);
    ASSERT_EQ(target->Size(), Size);
    // Whole-file comparison in blocks.
    constexpr int64_t Block = 8 * 1024 * 1024;
    std::vector<char> a(Block), b(Block);
    bool same = true;
    for (int64_t at = 0; at < Size && same; at += Block) {
        const int64_t got = target->ReadAt(at, a.data(), Block);
        same = got == original->ReadAt(at, b.data(), Block) && got > 0 &&
               std::memcmp(a.data(), b.data(), static_cast<size_t>(got)) == 0;
    }
    EXPECT_TRUE(same);
    target.reset();
    QFile::remove(target_);
    QFile::remove(source);
}

} // namespace
