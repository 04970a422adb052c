// tavilon-pack as publishers use it, checked with a peer nobody here wrote: bsdtar.

#include "rar/RarTestUtil.h"
#include "rar/VolumeReader.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <random>

namespace {

// A run of a program is given this long.
constexpr int kRunTimeoutMs = 60000;

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

ProgramRun Start(const QString& program, const QStringList& args, const QString& dir = {},
                 const QString& shell = {}) {
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    if (shell.isEmpty())
        p.start(program, args);
    else
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shell});
    p.waitForFinished(kRunTimeoutMs);
    ProgramRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString Pack() {
    return testenv::BinDir() + "/tavilon-pack";
}

QString ShellQuote(const QString& s) {
    return "'" + QString(s).replace("'", "'\\''") + "'";
}

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("bsdtar").isEmpty())
            GTEST_SKIP() << "bsdtar (libarchive-tools) is not installed";
        dir_ = testenv::MakeTempDir("packtool");
        std::mt19937 gen(7);
        rartest::Bytes video(700 * 1024 + 13);
        for (auto& b : video)
            b = static_cast<std::uint8_t>(gen());
        ASSERT_TRUE(rartest::WriteFile((dir_ + "/Some Movie.2010.avi").toStdString(), video));
        ASSERT_TRUE(rartest::WriteFile((dir_ + "/info.nfo").toStdString(), {'n', 'f', 'o'}));
    }
    QString dir_;
};

TEST_F(PackToolTest, VolumesExtractWithBsdtarByteForByte) {
    for (const char* format : {"5", "4"}) {
        for (const char* size : {"200K", "10M"}) {
            SCOPED_TRACE(std::string("format ") + format + " size " + size);
            const QString out = dir_ + "/out" + format + size;
            QDir().mkpath(out + "/x");
            const ProgramRun r =
                Start(Pack(), {"--format", format, "--volume-size", size,
                               dir_ + "/Some Movie.2010.avi", dir_ + "/info.nfo", out});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            const QStringList volumes = r.out.split('\n', Qt::SkipEmptyParts);
            if (QString(size) == "200K") {
                ASSERT_EQ(volumes.size(), 4);
            } else {
                ASSERT_EQ(volumes.size(), 1);
            }
            EXPECT_EQ(volumes[0], out + "/Some Movie.2010.part1.rar");
            QStringList quoted;
            for (const QString& v : volumes) {
                EXPECT_TRUE(QFile::exists(v));
                quoted << ShellQuote(v);
            }
            // bsdtar is fed the whole set in order (given only the first volume it writes a
            // wrong, sparse file).
            const ProgramRun list =
                Start({}, {}, {}, "cat " + quoted.join(' ') + " | bsdtar -tf -");
            EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
            EXPECT_EQ(list.out, "Some Movie.2010.avi\ninfo.nfo\n");
            const ProgramRun x =
                Start({}, {}, out + "/x", "cat " + quoted.join(' ') + " | bsdtar -xf -");
            ASSERT_EQ(x.exitCode, 0) << x.err.toStdString();
            EXPECT_EQ(rartest::ReadFile((out + "/x/Some Movie.2010.avi").toStdString()),
                      rartest::ReadFile((dir_ + "/Some Movie.2010.avi").toStdString()));
            EXPECT_EQ(rartest::ReadFile((out + "/x/info.nfo").toStdString()),
                      rartest::ReadFile((dir_ + "/info.nfo").toStdString()));
        }
    }
}

TEST_F(PackToolTest, EncryptedOutputReadsBackOnlyWithThePassword) {
    const QString out = dir_ + "/enc";
    QDir().mkpath(out);
    const ProgramRun r =
        Start(Pack(), {"--password", "s3cret", "--encrypt-headers", "--name", "film",
                       "--volume-size", "300K", dir_ + "/Some Movie.2010.avi", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList volumes = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(volumes.size(), 3);
    EXPECT_EQ(volumes[0], out + "/film.part1.rar");
    rar::FileSource src;
    ASSERT_TRUE(src.Open(volumes[0].toStdString()));
    rar::VolumeReader reader(src);
    EXPECT_EQ(reader.ReadArchiveHeader(), rar::Status::PasswordRequired);
    reader.SetPassword("s3cret");
    ASSERT_EQ(reader.ReadArchiveHeader(), rar::Status::Ok);
    rar::Entry e;
    ASSERT_EQ(reader.ReadNext(e), rar::Status::Ok);
    EXPECT_EQ(e.name, "Some Movie.2010.avi");
    EXPECT_TRUE(e.encrypted);
    EXPECT_TRUE(e.splitAfter);
    // bsdtar cannot read it, and says so instead of writing anything.
    const ProgramRun list = Start("bsdtar", {"-tf", volumes[0]});
    EXPECT_NE(list.exitCode, 0);
}

TEST_F(PackToolTest, UsageErrors) {
    struct Case {
        QStringList args;
        int code;
    } cases[] = {
        {{}, 2},
        {{dir_ + "/info.nfo"}, 2},
        {{"--format", "3", dir_ + "/info.nfo", dir_}, 2},
        {{"--volume-size", "12X", dir_ + "/info.nfo", dir_}, 2},
        {{"--encrypt-headers", dir_ + "/info.nfo", dir_}, 2},
        {{"--format", "4", "--blake2", dir_ + "/info.nfo", dir_}, 2},
        {{"--bogus", dir_ + "/info.nfo", dir_}, 2},
        {{dir_ + "/missing.avi", dir_}, 1},
        {{dir_ + "/info.nfo", dir_ + "/no/such/folder"}, 1},
    };
    for (const Case& c : cases) {
        const ProgramRun r = Start(Pack(), c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(Start(Pack(), {"--help"}).exitCode, 0);
}

} // namespace
