// The extractor against a simulated download: volumes filled range by range out of order,
// the rest of each volume garbage, the progress file written as the client writes it. After
// every change each output file must be a prefix of its original; at the end all of it.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include "ExtractorTestSupport.h"
#include "SimulatedDownloader.h"
#include "support/TestEnvironment.h"

using namespace extractortest;

namespace {

struct PackCase {
    const char* name;
    rar::Format format;
    const char* password;
    bool encryptHeaders;
    bool blake2;
    std::uint64_t volumeSize;
    std::int64_t videoSize;
    int staleVolume;
    bool tinyLastVolume;
    int recreatedVolume = -1;
};

void PrintTo(const PackCase& c, std::ostream* os) { *os << c.name; }

class ExtractorStreaming : public ::testing::TestWithParam<PackCase> {};

// Packs the video (and a small file in a folder behind it); with tinyLastVolume the video's
// size is trimmed so that the last volume holds only a few bytes of it.
QStringList PackCaseVolumes(const PackCase& c, const QString& dataDir, const QString& volDir,
                            QString& video, QString& extra) {
    rar::PackOptions options;
    options.format = c.format;
    options.volumeSize = c.volumeSize;
    options.password = c.password;
    options.encryptHeaders = c.encryptHeaders;
    options.blake2 = c.blake2;
    options.kdfCount = 15;
    std::int64_t size = c.videoSize;
    QStringList volumes;
    for (int attempt = 0; attempt < 4; ++attempt) {
        QDir(volDir).removeRecursively();
        QDir().mkpath(volDir);
        video = MakeDataFile(dataDir, QStringLiteral("movie.avi"), size, 7);
        extra = MakeDataFile(dataDir, QStringLiteral("extras/notes.txt"), 1000, 8);
        std::vector<rar::PackInput> inputs{{video.toStdString(), "movie.avi"}};
        if (!c.tinyLastVolume)
            inputs.push_back({extra.toStdString(), "extras/notes.txt"});
        volumes = Pack(inputs, volDir, QStringLiteral("movie"), options);
        const std::int64_t last = QFileInfo(volumes.last()).size();
        if (!c.tinyLastVolume || last < 200)
            break;
        size -= last - 120;
    }
    if (c.tinyLastVolume) {
        EXPECT_LT(QFileInfo(volumes.last()).size(), 200);
    }
    return volumes;
}

TEST_P(ExtractorStreaming, OutputIsAlwaysAPrefixAndEndsComplete) {
    const PackCase& c = GetParam();
    const QString root = testenv::MakeTempDir(QStringLiteral("stream"));
    QString video, extra;
    const QStringList volumes =
        PackCaseVolumes(c, root + "/data", root + "/packed", video, extra);
    ASSERT_FALSE(volumes.isEmpty());
    const QString unrarDir = PrepareUnrarDir();
    const QString downloads = root + "/downloads";
    const QString out = root + "/out";
    QDir().mkpath(downloads);
    QDir().mkpath(out);

    PrefixChecker checker;
    checker.Add(out + "/movie.avi", video);
    if (!c.tinyLastVolume)
        checker.Add(out + "/extras/notes.txt", extra);
    SimulationOptions sim;
    sim.seed = 11;
    sim.staleVolume = c.staleVolume;
    sim.recreatedVolume = c.recreatedVolume;
    SimulatedDownloader downloader(volumes, downloads, unrarDir, sim);
    QProcess extractor;
    downloader.Run([&] { checker.Check(); },
                   [&](const QString& first, std::int64_t available) {
                       StartExtractor(extractor, unrarDir,
                                      ClientArguments(first, available, out, c.password));
                   });
    std::string errors;
    const int code = FinishExtractor(extractor, 60000, &errors);
    EXPECT_EQ(code, 0) << errors;
    checker.ExpectComplete();
}

INSTANTIATE_TEST_SUITE_P(
    Sets, ExtractorStreaming,
    ::testing::Values(
        PackCase{"Rar5OneVolume", rar::Format::Rar5, "", false, false, 1 << 20, 150000, -1, false},
        PackCase{"Rar5Volumes", rar::Format::Rar5, "", false, false, 64 << 10, 300000, -1, false},
        PackCase{"Rar4Volumes", rar::Format::Rar4, "", false, false, 64 << 10, 300000, -1, false},
        PackCase{"Rar5Encrypted", rar::Format::Rar5, "s3cret pass", false, false, 48 << 10, 200000,
                 -1, false},
        PackCase{"Rar4Encrypted", rar::Format::Rar4, "s3cret", false, false, 48 << 10, 200000, -1,
                 false},
        PackCase{"Rar5EncryptedHeadersBlake2", rar::Format::Rar5, "s3cret", true, true, 48 << 10,
                 200000, -1, false},
        PackCase{"Rar4OneEncryptedVolume", rar::Format::Rar4, "s3cret", false, false, 1 << 20,
                 100000, -1, false},
        PackCase{"StaleCountOfThePreviousVolume", rar::Format::Rar5, "", false, false, 40 << 10,
                 200000, 2, false},
        PackCase{"StaleCountOnTheLastVolume", rar::Format::Rar4, "", false, false, 60 << 10,
                 200000, 3, false},
        PackCase{"TinyLastVolumeRar5", rar::Format::Rar5, "", false, false, 32 << 10, 100000, -1,
                 true},
        PackCase{"TinyLastVolumeRar4Encrypted", rar::Format::Rar4, "pw", false, false, 32 << 10,
                 100000, -1, true},
        PackCase{"VolumeCreatedAgain", rar::Format::Rar5, "", false, false, 40 << 10, 150000, -1,
                 false, 1}),
    [](const ::testing::TestParamInfo<PackCase>& info) { return std::string(info.param.name); });

// "OK" in the middle of the download: the extractor stops at once, its output a prefix.
TEST(ExtractorStreamingStop, OkInTheMiddleStopsAtOnce) {
    const QString root = testenv::MakeTempDir(QStringLiteral("stop"));
    const QString video = MakeDataFile(root + "/data", QStringLiteral("movie.avi"), 400000, 3);
    rar::PackOptions options;
    options.volumeSize = 64 << 10;
    const QStringList volumes =
        Pack({{video.toStdString(), "movie.avi"}}, root + "/packed", "movie", options);
    const QString unrarDir = PrepareUnrarDir();
    QDir().mkpath(root + "/downloads");
    PrefixChecker checker;
    checker.Add(root + "/out/movie.avi", video);
    SimulationOptions sim;
    sim.stopAfterRanges = 250; // in the third volume
    SimulatedDownloader downloader(volumes, root + "/downloads", unrarDir, sim);
    QProcess extractor;
    downloader.Run([&] { checker.Check(); }, [&](const QString& first, std::int64_t available) {
        StartExtractor(extractor, unrarDir, ClientArguments(first, available, root + "/out", ""));
    });
    ASSERT_TRUE(downloader.Stopped());
    std::string errors;
    EXPECT_EQ(FinishExtractor(extractor, 10000, &errors), 255) << errors;
    checker.Check();
    EXPECT_LT(QFileInfo(root + "/out/movie.avi").size(), 400000);
}

// The real archiver's multi-volume sets (packed entries, through libarchive): streamed, they
// give what the complete set gives.
class ExtractorCorpusSets : public ::testing::TestWithParam<const char*> {};

TEST_P(ExtractorCorpusSets, StreamedEqualsComplete) {
    const QString root = testenv::MakeTempDir(QStringLiteral("corpus"));
    QStringList volumes;
    const QDir corpus(testenv::CorpusDir());
    for (const QString& name : corpus.entryList({QString::fromLatin1(GetParam()) + ".part*.rar"},
                                                QDir::Files, QDir::Name))
        volumes.append(corpus.filePath(name));
    ASSERT_GE(volumes.size(), 2);
    const QString unrarDir = PrepareUnrarDir();
    std::string referenceErrors;
    const int referenceCode =
        ExtractComplete(unrarDir, volumes.first(), root + "/reference", QString(), &referenceErrors);

    QDir().mkpath(root + "/downloads");
    PrefixChecker checker;
    QDir reference(root + "/reference");
    QStringList files;
    std::function<void(const QString&)> walk = [&](const QString& rel) {
        QDir d(reference.filePath(rel));
        for (const QFileInfo& fi : d.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString r = rel.isEmpty() ? fi.fileName() : rel + "/" + fi.fileName();
            if (fi.isDir())
                walk(r);
            else
                files.append(r);
        }
    };
    walk(QString());
    ASSERT_FALSE(files.isEmpty()) << referenceErrors;
    for (const QString& f : files)
        checker.Add(root + "/out/" + f, reference.filePath(f));
    SimulationOptions sim;
    sim.pauseMicroseconds = 100;
    SimulatedDownloader downloader(volumes, root + "/downloads", unrarDir, sim);
    QProcess extractor;
    downloader.Run([&] { checker.Check(); }, [&](const QString& first, std::int64_t available) {
        StartExtractor(extractor, unrarDir, ClientArguments(first, available, root + "/out", ""));
    });
    std::string errors;
    EXPECT_EQ(FinishExtractor(extractor, 120000, &errors), referenceCode) << errors;
    checker.ExpectComplete();
}

INSTANTIATE_TEST_SUITE_P(Corpus, ExtractorCorpusSets,
                         ::testing::Values("rar5_multiarchive", "rar5_multiarchive_solid",
                                           "rar_multivolume"));

} // namespace
