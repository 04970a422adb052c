#include "download/TDownloader.h"

#include "download/TMultipartHttpDownloader.h"
#include "extract/TDecompressor.h"
#include "server/filehost/FileHostProcess.h"
#include "support/ScriptedInteraction.h"
#include "support/TestData.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>

using testenv::PatternBytes;
using testenv::ReadAll;
using testenv::WaitUntil;

namespace {

// One OnDataAvailable as the handler saw it.
struct TNotice {
    QString fileName;
    int64_t available;
    bool finished;
};

class DownloaderTest : public testing::Test {
protected:
    void SetUp() override {
        dir = testenv::MakeTempDir(QStringLiteral("downloader"));
        compressed = dir + QStringLiteral("/compressed/");
        uncompressed = dir + QStringLiteral("/uncompressed");
        QDir().mkpath(compressed);
        QDir().mkpath(uncompressed);
        server.Start();
        multipart.RestartDelayMs = 20;
        multipart.MaxRestartDelayMs = 80;
        decompressor.SetOutputDirectory(uncompressed);
    }

    // Puts `content` on the test server under /files/<name>.
    QString Publish(const QString& name, const QByteArray& content) {
        const QString path = dir + QStringLiteral("/src-") + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        server.ServeFile("/files/" + name.toStdString(), path.toStdString());
        return QString::fromStdString(server.Url("/files/" + name.toStdString()));
    }

    // A downloader wired the way the playback controller wires it.
    std::unique_ptr<TDownloader> MakeDownloader(const QStringList& links) {
        auto downloader = std::make_unique<TDownloader>();
        downloader->SetCompressedDirectory(compressed);
        downloader->SetUncompressedDirectory(uncompressed);
        downloader->SetDecompressor(&decompressor);
        downloader->SetOnProgress([this](const QString&, const QString&, const QString&,
                                         const QString&, const QString& elapsed, int position,
                                         int max) {
            positions.push_back(position);
            EXPECT_EQ(max, 500);
            lastElapsed = elapsed;
        });
        downloader->SetOnVideoFileReady([this](TDownloader* sender, const QString& fileName) {
            if (readyFiles.isEmpty())
                availableWhenReady = sender->Finished() ? -1 : sender->Available();
            readyFiles << fileName;
        });
        downloader->SetOnDataAvailable([this](TDownloader* sender) {
            notices.push_back({sender->FileName(), sender->Available(), sender->Finished()});
        });
        downloader->SetMultipartDownloader(&multipart);
        downloader->Links = links;
        downloader->VolumeRetryDelayMs = 20;
        return downloader;
    }

    bool RunToEnd(TDownloader& downloader, int ms = 120000) {
        downloader.Start();
        return WaitUntil([&] { return downloader.Finished(); }, ms);
    }

    QString dir, compressed, uncompressed;
    TTestHttpServer server;
    TMultipartHttpDownloader multipart;
    TDecompressor decompressor;
    std::vector<TNotice> notices;
    std::vector<int> positions;
    QStringList readyFiles;
    // Available at the first OnVideoFileReady, -1 when the download had finished.
    int64_t availableWhenReady = 0;
    QString lastElapsed;
};

TEST_F(DownloaderTest, VolumesArriveInOrderUnderTheirOwnNames) {
    const QByteArray one = PatternBytes(400000, 1), two = PatternBytes(300001, 2),
                     three = PatternBytes(123457, 3);
    auto downloader =
        MakeDownloader({Publish(QStringLiteral("movie.part1.rar"), one),
                        QStringLiteral("  ") + Publish(QStringLiteral("movie.part2.rar"), two),
                        Publish(QStringLiteral("movie.part3.rar"), three)});
    ASSERT_TRUE(RunToEnd(*downloader));

    EXPECT_EQ(ReadAll(compressed + QStringLiteral("movie.part1.rar")), one);
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("movie.part2.rar")), two);
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("movie.part3.rar")), three);
    for (const char* placeholder : {"file.part1.rar", "file.part2.rar", "file.part3.rar"})
        EXPECT_FALSE(QFile::exists(compressed + QString::fromLatin1(placeholder))) << placeholder;
    EXPECT_TRUE(downloader->SkippedVolumes().isEmpty());
    EXPECT_DOUBLE_EQ(downloader->OverallPercent(), 100);

    // Notices come volume by volume, each count only grows, and the last one of a volume
    // names its full length; then one final notice.
    ASSERT_GE(notices.size(), 4u);
    const QStringList names = {compressed + QStringLiteral("movie.part1.rar"),
                               compressed + QStringLiteral("movie.part2.rar"),
                               compressed + QStringLiteral("movie.part3.rar")};
    const int64_t sizes[] = {one.size(), two.size(), three.size()};
    int volume = 0;
    int64_t previous = -1;
    for (size_t i = 0; i + 1 < notices.size(); ++i) {
        if (notices[i].fileName != names[volume]) {
            EXPECT_EQ(notices[i - 1].available, sizes[volume]) << "end of volume " << volume;
            ++volume;
            previous = -1;
            ASSERT_LT(volume, 3);
            ASSERT_EQ(notices[i].fileName, names[volume]);
        }
        EXPECT_GE(notices[i].available, previous);
        EXPECT_FALSE(notices[i].finished);
        previous = notices[i].available;
    }
    EXPECT_EQ(volume, 2);
    EXPECT_EQ(notices[notices.size() - 2].available, sizes[2]);
    EXPECT_TRUE(notices.back().finished);
    EXPECT_EQ(notices.back().available, 0);

    // Position: 0 before the split, 500 once ranges 0 to 4 are in.
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(), 0);
    EXPECT_EQ(positions.back(), 500);
}

TEST_F(DownloaderTest, RelocationFromTheFileHostNamesTheVolume) {
    testenv::TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QString source = dir + QStringLiteral("/film.part1.rar");
    const QByteArray content = PatternBytes(250000, 4);
    {
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        file.write(content);
    }
    const QString id = testenv::TFileHostProcess::IdOf(host.Add({source})[0]);
    httplib::Client client("127.0.0.1", host.Port());
    const auto login =
        client.Post("/", "username=ann&password=pw&login=1", "application/x-www-form-urlencoded");
    ASSERT_TRUE(login);
    const std::string cookie = login->get_header_value("Set-Cookie");
    const QString token = QString::fromStdString(cookie.substr(5, cookie.find(';') - 5));
    auto downloader = MakeDownloader(
        {host.Url() + QStringLiteral("/mgr_dl.php?d=") + id + QStringLiteral("&u=") + token});
    ASSERT_TRUE(RunToEnd(*downloader));
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("film.part1.rar")), content);
    EXPECT_FALSE(QFile::exists(compressed + QStringLiteral("file.part1.rar")));
}

TEST_F(DownloaderTest, PlayableFileGoesToTheUncompressedFolderAndBecomesReady) {
    const QByteArray content = PatternBytes(3000000, 5);
    // Slowed connections keep the download running well past the ready point.
    server.SetRateLimit(100000);
    auto downloader = MakeDownloader({Publish(QStringLiteral("movie.avi"), content)});
    downloader->Start();
    ASSERT_TRUE(WaitUntil([&] { return !readyFiles.isEmpty(); }));
    EXPECT_EQ(decompressor.ExtractedFileName(), QStringLiteral("movie.avi"));
    EXPECT_EQ(QFileInfo(readyFiles.front()),
              QFileInfo(uncompressed + QStringLiteral("/movie.avi")));
    // Ready means that much of its start is in, not that the file has reached that size.
    ASSERT_GE(availableWhenReady, 0) << "the download ended before the video was ready";
    EXPECT_GT(availableWhenReady, TDownloader::VideoReadySize);
    ASSERT_TRUE(WaitUntil([&] { return downloader->Finished(); }));
    EXPECT_EQ(ReadAll(uncompressed + QStringLiteral("/movie.avi")), content);
    EXPECT_FALSE(QFile::exists(compressed + QStringLiteral("file.part1.rar")));
}

TEST_F(DownloaderTest, DocumentNamesThatAreNotPlainFileNamesKeepThePlaceholder) {
    const QByteArray content = PatternBytes(100000, 6);
    const QString url = Publish(QStringLiteral("a..b.rar"), content);
    // A relocation answer that still names the download page changes nothing either.
    server.AddRedirect("/mgr_dl.php", "/files/a..b.rar");
    auto downloader = MakeDownloader(
        {QString::fromStdString(server.Url("/mgr_dl.php")) + QStringLiteral("?d=X")});
    ASSERT_TRUE(RunToEnd(*downloader));
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("file.part1.rar")), content);
    EXPECT_FALSE(QFile::exists(compressed + QStringLiteral("a..b.rar")));
    (void)url;
}

TEST_F(DownloaderTest, RangeCountFollowsTheVolumeSize) {
    struct SizeCase {
        int64_t size;
        int parts;
    };
    for (const SizeCase& c : {SizeCase{150LL * 1048576, 150}, SizeCase{99LL * 1048576, 100},
                              SizeCase{100LL * 1048576 + 524288, 100}}) {
        const QString path = dir + QStringLiteral("/sparse.rar");
        QFile::remove(path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(c.size)); // sparse: nothing is written
        file.close();
        server.ServeFile("/files/big.part1.rar", path.toStdString());
        server.SetRateLimit(100000);
        auto downloader =
            MakeDownloader({QString::fromStdString(server.Url("/files/big.part1.rar"))});
        downloader->Start();
        ASSERT_TRUE(WaitUntil([&] { return multipart.Parts().size() > 1; }));
        EXPECT_EQ(static_cast<int>(multipart.Parts().size()), c.parts) << c.size;
        // Ranges 0 to 9 were started by the split; none beyond until one finishes.
        EXPECT_TRUE(multipart.Parts()[9]->Started());
        EXPECT_FALSE(multipart.Parts()[10]->Started());
        // Destroying it aborts the transfer; its end reaches nobody.
        downloader.reset();
        EXPECT_TRUE(WaitUntil([&] { return !multipart.InTransfer(); }, 10000));
        QCoreApplication::processEvents();
        server.SetRateLimit(0);
    }
}

TEST_F(DownloaderTest, FailedVolumeIsRetriedThenSkipped) {
    const QByteArray two = PatternBytes(200000, 7);
    // The first volume's file is missing for good; the second fails twice, then is served.
    auto downloader = MakeDownloader({QString::fromStdString(server.Url("/files/gone.part1.rar")),
                                      Publish(QStringLiteral("v.part2.rar"), two)});
    downloader->MaxVolumeAttempts = 3;
    // Requests of any kind: the three attempts at the first volume, then two at the second.
    server.SetFailFirst(5, 503);
    ASSERT_TRUE(RunToEnd(*downloader));
    EXPECT_EQ(downloader->SkippedVolumes(), QList<int>{1});
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("v.part2.rar")), two);
    EXPECT_TRUE(lastElapsed.contains(QStringLiteral("volume 1 skipped")))
        << lastElapsed.toStdString();
    size_t requestsForGone = 0;
    for (const auto& request : server.Requests())
        if (request.path == "/files/gone.part1.rar")
            ++requestsForGone;
    EXPECT_EQ(requestsForGone, 3u);
}

TEST_F(DownloaderTest, BlankLinkKeepsTheNumberingOfTheOthers) {
    const QByteArray one = PatternBytes(50000, 8), three = PatternBytes(60000, 9);
    // Names the host gives are refused here, so the placeholders show the numbering.
    auto downloader = MakeDownloader({Publish(QStringLiteral("x..1.rar"), one), QString(),
                                      Publish(QStringLiteral("x..3.rar"), three)});
    ASSERT_TRUE(RunToEnd(*downloader));
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("file.part1.rar")), one);
    EXPECT_EQ(ReadAll(compressed + QStringLiteral("file.part3.rar")), three);
    EXPECT_EQ(downloader->SkippedVolumes(), QList<int>{2});
}

TEST_F(DownloaderTest, VolumeFileThatCannotBeCreatedEndsTheDownloadWithItsMessage) {
    // The compressed folder lies under a regular file, so no volume file can be made there
    // (permissions prove nothing for root).
    const QString blocker = dir + QStringLiteral("/blocker");
    QFile(blocker).open(QIODevice::WriteOnly);
    compressed = blocker + QStringLiteral("/compressed/");
    TScriptedInteraction interaction;
    auto downloader = MakeDownloader({Publish(QStringLiteral("v.part1.rar"), PatternBytes(5000, 1)),
                                      Publish(QStringLiteral("v.part2.rar"), PatternBytes(5000, 2))});
    downloader->Start();
    // Nothing is shown from inside Start: the message comes from the event loop.
    EXPECT_TRUE(interaction.errors.isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return !interaction.errors.isEmpty(); }, 10000));
    EXPECT_TRUE(downloader->Finished());
    EXPECT_EQ(interaction.errors, QStringList{downloader->Error()});
    EXPECT_FALSE(downloader->Error().isEmpty());
    // The final notification still tells the decompressor that the download is over.
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices.back().finished);
    EXPECT_EQ(notices.back().available, 0);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DownloaderTest, DownloaderDestroyedBeforeItsErrorIsShownShowsNothing) {
    const QString blocker = dir + QStringLiteral("/blocker");
    QFile(blocker).open(QIODevice::WriteOnly);
    compressed = blocker + QStringLiteral("/compressed/");
    TScriptedInteraction interaction;
    auto downloader = MakeDownloader({Publish(QStringLiteral("v.part1.rar"), PatternBytes(5000, 1))});
    downloader->Start();
    downloader.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(interaction.errors.isEmpty());
    EXPECT_TRUE(notices.empty());
}

TEST_F(DownloaderTest, StartWithoutLinksRaises) {
    auto downloader = MakeDownloader({});
    EXPECT_THROW(downloader->Start(), Exception);
    EXPECT_TRUE(QDir(compressed).isEmpty());
}

TEST(VideoFiles, PlayableExtensions) {
    for (const char* name : {"a.avi", "b.MKV", "c.d.divx", "e.rmvb", "f.mpg"})
        EXPECT_TRUE(IsVideoFile(QString::fromLatin1(name))) << name;
    for (const char* name : {"a.rar", "avi", "a.avi.rar", "", "a.mp4"})
        EXPECT_FALSE(IsVideoFile(QString::fromLatin1(name))) << name;
}

} // namespace
