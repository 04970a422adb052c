// The whole pipeline with the real programs on 127.0.0.1: tavilon-pack makes the volumes,
// tavilon-filehost serves them, the playback controller logs in, checks the links, downloads
// and has the real extractor write the video.

#include "api/Ttavilonapi.h"
#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "download/TDownloader.h"
#include "download/TMultipartHttpDownloader.h"
#include "extract/TDecompressor.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "playback/TPlayer.h"
#include "server/filehost/FileHostProcess.h"
#include "support/TestData.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <thread>

using testenv::TFileHostProcess;

using testenv::PatternBytes;
using testenv::ReadAll;
using testenv::WaitUntil;

namespace {

constexpr int64_t kVideoSize = 3600000; // more than 3 MiB
constexpr int kPipelineTimeoutMs = 120000;

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Answers the engine's questions through functions a test sets.
class TTestInteraction final : public IUserInteraction {
public:
    TTestInteraction() { SetUserInteraction(this); }
    ~TTestInteraction() override { SetUserInteraction(nullptr); }

    std::function<bool(const QString&)> yesNo = [](const QString&) {
        return false;
    };
    std::function<bool(QString&)> text = [](QString&) {
        return false;
    };
    QStringList questions, prompts, errors;

    void ShowMessage(const QString&) override {}
    void ShowError(const QString& message) override { errors << message; }
    bool AskYesNo(const QString& question) override {
        questions << question;
        return yesNo(question);
    }
    bool AskText(const QString&, const QString& prompt, QString& value) override {
        prompts << prompt;
        return text(value);
    }
    void ShowStatus(const QString&) override {}
    void HideStatus() override {}
};

// The extractor and its progress file in a folder of the test's own, so that tests running at
// the same time do not share one progress file.
QString PrivateUnrarDir() {
    const QString dir = testenv::MakeTempDir(QStringLiteral("unrar")) + QLatin1Char('/');
    QFile::copy(testenv::BinDir() + QStringLiteral("/unrar/unrar"), dir + QStringLiteral("unrar"));
    QFile(dir + QStringLiteral("unrar"))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

// Packs `source` into volumes of `volumeSize` with tavilon-pack; the volume paths in order.
QStringList Pack(const QString& source, const QString& volumeSize, const QStringList& extra = {}) {
    const QString out = testenv::MakeTempDir(QStringLiteral("packed"));
    QProcess pack;
    pack.start(testenv::BinDir() + QStringLiteral("/tavilon-pack"),
               QStringList{QStringLiteral("--volume-size"), volumeSize} + extra +
                   QStringList{source, out});
    EXPECT_TRUE(pack.waitForFinished(60000));
    EXPECT_EQ(pack.exitCode(), 0) << pack.readAllStandardError().toStdString();
    return QString::fromUtf8(pack.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class PlaybackPipeline : public testing::Test {
protected:
    void SetUp() override {
        if (!OptionsManager().FindSection(LoginSection))
            RegisterOptionDefaults();
        work = testenv::MakeTempDir(QStringLiteral("playback"));
        video = PatternBytes(kVideoSize, 11);
        sourcePath = work + QStringLiteral("/movie.avi");
        WriteFile(sourcePath, video);
    }
    void TearDown() override {
        if (player)
            player->Release();
        QCoreApplication::processEvents();
        data.reset();
        qunsetenv("TAVILON_FILEHOST_URL");
    }

    // The data module of a client whose file host is `url`, logged in as ann.
    void Connect(const QString& url, bool login = true) {
        qputenv("TAVILON_FILEHOST_URL", url.toUtf8());
        TOptionValues* account = OptionsManager().FindSection(LoginSection);
        account->SetString(QStringLiteral("Username"), QStringLiteral("ann"));
        account->SetString(QStringLiteral("Password"), QStringLiteral("pw"));
        data = std::make_unique<Ttavilonapi>();
        data->Folders.CompressedDir = work + QStringLiteral("/compressed/");
        data->Folders.UncompressedDir = work + QStringLiteral("/uncompressed/");
        data->Folders.UnrarDir = PrivateUnrarDir();
        CreateDirectory(data->Folders.CompressedDir);
        CreateDirectory(data->Folders.UncompressedDir);
        // Stalled connections are given up quickly here.
        data->MPHTTP->StallTimeoutMs = 3000;
        data->MPHTTP->RestartDelayMs = 50;
        if (login) {
            ASSERT_TRUE(data->Login());
        }
    }

    void MakePlayer(const QStringList& links, const QString& password = {}) {
        player = data->NewPlayer();
        player->SetOnVideoFileReady([this](TDownloader*, const QString& fileName) {
            if (readyPath.isEmpty()) {
                readyPath = fileName;
                readySize = QFileInfo(fileName).size();
                readyAvailable = player->Downloader()->Available();
                readyFinished = player->Downloader()->Finished();
            }
            ++readyCount;
        });
        player->Links = links;
        player->ArchivePassword = password;
    }

    // Runs the download to its end: every volume in, the video extracted completely and
    // reported ready (the ready check may come a poll after the last byte).
    void PlayToEnd(const QString& expectedPath) {
        ASSERT_TRUE(WaitUntil(
            [&] {
                return player->Downloader()->Finished() && readyCount >= 1 &&
                       QFileInfo(expectedPath).size() == static_cast<qint64>(video.size());
            },
            kPipelineTimeoutMs))
            << "finished " << player->Downloader()->Finished() << ", ready " << readyCount
            << ", extracted " << QFileInfo(expectedPath).size();
        // The extractor writes the video in order, so the size tells that it is all there.
        EXPECT_TRUE(ReadAll(expectedPath) == video);
        EXPECT_TRUE(player->Downloader()->SkippedVolumes().isEmpty());
        EXPECT_EQ(QFileInfo(readyPath), QFileInfo(expectedPath));
        EXPECT_GE(readyCount, 1);
    }

    QString work, sourcePath;
    QByteArray video;
    std::unique_ptr<Ttavilonapi> data;
    TTestInteraction interaction;
    QPointer<TPlayer> player;
    QString readyPath;
    int64_t readySize = -1;
    int64_t readyAvailable = -1;
    bool readyFinished = false;
    int readyCount = 0;
};

struct TPipelineCase {
    const char* name;
    QStringList packOptions;
    const char* passwordLine; // nullptr: none
    QStringList serveOptions;
    // Encrypted headers: the listing asks for the password (the answer is the line's).
    bool asks = false;
};

void PrintTo(const TPipelineCase& c, std::ostream* out) { *out << c.name; }

class PipelineCases : public PlaybackPipeline, public testing::WithParamInterface<TPipelineCase> {};

TEST_P(PipelineCases, ExtractedVideoIsByteIdentical) {
    const TPipelineCase& c = GetParam();
    TFileHostProcess host(c.serveOptions);
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList volumes = Pack(sourcePath, QStringLiteral("1M"), c.packOptions);
    ASSERT_EQ(volumes.size(), 4);
    const QStringList links = host.Add(volumes);
    Connect(host.Url());
    const QString password = c.passwordLine ? QString::fromLatin1(c.passwordLine) : QString();
    interaction.text = [password](QString& value) {
        value = password.trimmed();
        return true;
    };
    MakePlayer(links, password);
    player->Start();
    PlayToEnd(data->Folders.UncompressedDir + QStringLiteral("movie.avi"));
    EXPECT_GT(readySize, TDownloader::VideoReadySize);
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(QFile::exists(data->Folders.CompressedDir + QStringLiteral("movie.part%1.rar").arg(i)));
    EXPECT_EQ(interaction.prompts.size(), c.asks ? 1 : 0);
    EXPECT_TRUE(interaction.errors.isEmpty())
        << interaction.errors.join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Sets, PipelineCases,
    testing::Values(TPipelineCase{"Plain", {}, nullptr, {}},
                    TPipelineCase{"Password",
                                  {QStringLiteral("--password"), QStringLiteral("s3cret")},
                                  "  s3cret ",
                                  {}},
                    TPipelineCase{"Rar4EncryptedHeaders",
                                  {QStringLiteral("--format"), QStringLiteral("4"),
                                   QStringLiteral("--password"), QStringLiteral("pw2"),
                                   QStringLiteral("--encrypt-headers")},
                                  "pw2",
                                  {},
                                  true},
                    // Fault injection: a share of the answers is cut off, one range stalls.
                    TPipelineCase{"ResetsAndStall",
                                  {},
                                  nullptr,
                                  {QStringLiteral("--reset-share"), QStringLiteral("0.15"),
                                   QStringLiteral("--stall-count"), QStringLiteral("1"),
                                   QStringLiteral("--stall-seconds"), QStringLiteral("60")}},
                    TPipelineCase{"PasswordUnderFaults",
                                  {QStringLiteral("--password"), QStringLiteral("s3cret")},
                                  "s3cret",
                                  {QStringLiteral("--reset-share"), QStringLiteral("0.3")}}),
    [](const testing::TestParamInfo<TPipelineCase>& info) { return std::string(info.param.name); });

TEST_F(PlaybackPipeline, PlainVideoLinkLandsInTheUncompressedFolder) {
    // Each connection is slowed so that the video is ready well before its last byte is in.
    TFileHostProcess host({QStringLiteral("--rate-limit"), QStringLiteral("100000")});
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList links = host.Add({sourcePath});
    Connect(host.Url());
    MakePlayer(links);
    player->Start();
    PlayToEnd(data->Folders.UncompressedDir + QStringLiteral("movie.avi"));
    EXPECT_EQ(player->Decompressor()->ExtractedFileName(), QStringLiteral("movie.avi"));
    // Ready counts the complete start of the file, not its (sparse) size.
    ASSERT_FALSE(readyFinished) << "the download ended before the video was ready";
    EXPECT_GT(readyAvailable, TDownloader::VideoReadySize);
    EXPECT_TRUE(QDir(data->Folders.CompressedDir).entryList(QDir::Files).isEmpty());
}

TEST_F(PlaybackPipeline, PasswordPromptWhileVolumesEnd) {
    // No password line and encrypted headers: the decompressor asks from inside its first
    // notification. The answer comes after a nested event loop during which the volumes end;
    // the next volume must wait for the prompt without blocking it.
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList volumes = Pack(
        sourcePath, QStringLiteral("1M"),
        {QStringLiteral("--password"), QStringLiteral("pw3"), QStringLiteral("--encrypt-headers")});
    const QStringList links = host.Add(volumes);
    Connect(host.Url());
    int volumesSeenDuringPrompt = -1;
    interaction.text = [&](QString& value) {
        QEventLoop loop;
        QTimer::singleShot(1500, &loop, &QEventLoop::quit);
        loop.exec();
        volumesSeenDuringPrompt = player->Downloader()->VolumeIndex();
        value = QStringLiteral("pw3");
        return true;
    };
    MakePlayer(links);
    player->Start();
    PlayToEnd(data->Folders.UncompressedDir + QStringLiteral("movie.avi"));
    EXPECT_EQ(interaction.prompts.size(), 1);
    // The first volume ended during the prompt; the second waited for it.
    EXPECT_EQ(volumesSeenDuringPrompt, 0);
}

TEST_F(PlaybackPipeline, UnavailableLinkAnsweredNoAbortsSilently) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList links = host.Add(Pack(sourcePath, QStringLiteral("1M")));
    host.Disable(TFileHostProcess::IdOf(links[2]));
    Connect(host.Url());
    MakePlayer(links);
    EXPECT_THROW(player->Start(), EAbort);
    EXPECT_EQ(interaction.questions, QStringList{TPlayer::RetryQuestion});
    EXPECT_FALSE(data->MPHTTP->InTransfer());
    EXPECT_TRUE(QDir(data->Folders.CompressedDir).entryList(QDir::Files).isEmpty());
}

TEST_F(PlaybackPipeline, RetryAnsweredYesTwiceThenAvailable) {
    TTestHttpServer server;
    server.Start();
    int checks = 0;
    server.AddHandler("/mgr_linkcheck.php",
                      [&checks](const httplib::Request&, httplib::Response& response) {
                          response.set_content(++checks < 3 ? "id0=1" : "id0=0", "text/plain");
                      });
    server.AddPage("/", 200, "ok", {{"Set-Cookie", "user=tok; path=/"}});
    server.AddRedirect("/mgr_dl.php", "/files/movie.avi");
    server.ServeFile("/files/movie.avi", sourcePath.toStdString());
    Connect(QString::fromStdString(server.BaseUrl()));
    interaction.yesNo = [](const QString&) {
        return true;
    };
    MakePlayer({QStringLiteral("http://h/?d=ABCDEFGH")});
    player->Start();
    EXPECT_EQ(interaction.questions.size(), 2);
    EXPECT_EQ(checks, 3);
    ASSERT_TRUE(WaitUntil([&] { return player->Downloader()->Finished(); }, kPipelineTimeoutMs));
    // Nothing was downloaded before the third check.
    const auto requests = server.Requests();
    int lastCheck = -1, firstDownload = -1;
    for (int i = 0; i < static_cast<int>(requests.size()); ++i) {
        if (requests[i].path == "/mgr_linkcheck.php")
            lastCheck = i;
        else if (requests[i].path == "/mgr_dl.php" && firstDownload < 0)
            firstDownload = i;
    }
    ASSERT_GE(firstDownload, 0);
    EXPECT_LT(lastCheck, firstDownload);
    EXPECT_EQ(requests[static_cast<size_t>(firstDownload)].query, "d=ABCDEFGH&u=tok");
    EXPECT_TRUE(ReadAll(data->Folders.UncompressedDir + QStringLiteral("movie.avi")) == video);
}

TEST_F(PlaybackPipeline, ReleaseDuringTheLinkCheckWaitsForStart) {
    TTestHttpServer server;
    server.Start();
    server.AddHandler("/mgr_linkcheck.php",
                      [](const httplib::Request&, httplib::Response& response) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(500));
                          response.set_content("id0=0", "text/plain");
                      });
    server.AddPage("/", 200, "ok", {{"Set-Cookie", "user=tok; path=/"}});
    Connect(QString::fromStdString(server.BaseUrl()));
    MakePlayer({QStringLiteral("http://h/?d=ABCDEFGH")});
    QTimer::singleShot(100, [this] {
        player->Release();
        // Still there: Start is running below.
        EXPECT_FALSE(player.isNull());
    });
    EXPECT_THROW(player->Start(), EAbort);
    ASSERT_TRUE(WaitUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return player.isNull();
        },
        5000));
    EXPECT_FALSE(data->MPHTTP->InTransfer());
}

TEST_F(PlaybackPipeline, OnlyAPasswordLineStartsNothing) {
    TTestHttpServer server;
    server.Start();
    server.AddPage("/", 200, "ok", {{"Set-Cookie", "user=tok; path=/"}});
    server.AddPage("/mgr_linkcheck.php", 200, "");
    Connect(QString::fromStdString(server.BaseUrl()));
    MakePlayer({}, QStringLiteral("pw"));
    EXPECT_THROW(player->Start(), Exception);
    EXPECT_FALSE(data->MPHTTP->InTransfer());
}

// tavilon-fetch as users and the bench run it.
class FetchProgram : public PlaybackPipeline {
protected:
    // A private copy of the programs, so that its extractor's progress file is its own.
    QString PrivateBin() {
        const QString bin = testenv::MakeTempDir(QStringLiteral("bin"));
        QFile::copy(testenv::BinDir() + QStringLiteral("/tavilon-fetch"),
                    bin + QStringLiteral("/tavilon-fetch"));
        QFile::copy(testenv::BinDir() + QStringLiteral("/libunrar.so"),
                    bin + QStringLiteral("/libunrar.so"));
        QDir().mkpath(bin + QStringLiteral("/unrar"));
        QFile::copy(testenv::BinDir() + QStringLiteral("/unrar/unrar"),
                    bin + QStringLiteral("/unrar/unrar"));
        for (const char* program : {"/tavilon-fetch", "/unrar/unrar"})
            QFile(bin + QString::fromLatin1(program))
                .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ExeOwner);
        return bin;
    }

    struct TRun {
        int exitCode = -1;
        QStringList out;
        QString err;
    };

    TRun Fetch(const QString& url, const QStringList& arguments, const QByteArray& input = {}) {
        QProcess fetch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAVILON_FILEHOST_URL"), url);
        fetch.setProcessEnvironment(environment);
        fetch.start(bin + QStringLiteral("/tavilon-fetch"), arguments);
        EXPECT_TRUE(fetch.waitForStarted());
        fetch.write(input);
        fetch.closeWriteChannel();
        EXPECT_TRUE(fetch.waitForFinished(kPipelineTimeoutMs));
        TRun run;
        run.exitCode = fetch.exitStatus() == QProcess::NormalExit ? fetch.exitCode() : -1;
        run.out = QString::fromUtf8(fetch.readAllStandardOutput())
                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(fetch.readAllStandardError());
        return run;
    }

    QString bin = PrivateBin();
};

TEST_F(FetchProgram, FetchesAVideoFromStandardInput) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList links = host.Add(Pack(sourcePath, QStringLiteral("1M"),
                                            {QStringLiteral("--password"), QStringLiteral("k")}));
    const QString out = work + QStringLiteral("/out");
    const TRun run =
        Fetch(host.Url(),
              {QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--password"),
               QStringLiteral("pw"), QStringLiteral("--compressed"), work + QStringLiteral("/c"),
               QStringLiteral("--uncompressed"), out},
              (links.join(QLatin1Char('\n')) + QStringLiteral("\npassword:k\n")).toUtf8());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString path = QDir(out).absoluteFilePath(QStringLiteral("movie.avi"));
    const QRegularExpression playable(QStringLiteral("^playable [0-9.]+ (.+)$"));
    const QRegularExpression done(QStringLiteral("^done [0-9.]+ (.+)$"));
    ASSERT_GE(run.out.size(), 2);
    EXPECT_TRUE(run.out.filter(QRegularExpression(QStringLiteral("^volume 1/4 "))).size() > 0);
    const QStringList playableLines = run.out.filter(playable);
    ASSERT_EQ(playableLines.size(), 1);
    EXPECT_EQ(playable.match(playableLines[0]).captured(1), path);
    EXPECT_EQ(done.match(run.out.last()).captured(1), path);
    EXPECT_TRUE(ReadAll(path) == video);
}

TEST_F(FetchProgram, FailuresExitNonZeroWithAMessage) {
    TFileHostProcess host;
    ASSERT_TRUE(host.Running());
    host.AddUser(QStringLiteral("ann"), QStringLiteral("pw"));
    const QStringList links = host.Add({sourcePath});
    host.Disable(TFileHostProcess::IdOf(links[0]));
    const QStringList account = {QStringLiteral("--user"), QStringLiteral("ann"),
                                 QStringLiteral("--password"), QStringLiteral("pw")};
    struct TCase {
        QStringList arguments;
        int exitCode;
        const char* message;
    };
    for (const TCase& c :
         {TCase{{QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--password"),
                 QStringLiteral("nope"), links[0]},
                1,
                "Couldn't login"},
          TCase{account + QStringList{links[0]}, 1, "not available"},
          TCase{{links[0]}, 2, "--user and --password are required"},
          TCase{account + QStringList{QStringLiteral("--bogus"), QStringLiteral("x")}, 2,
                "unknown option"}}) {
        const TRun run = Fetch(host.Url(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.message))) << run.err.toStdString();
    }
}

} // namespace
