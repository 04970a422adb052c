// The extractor on complete archives: unsafe names, checksum errors, passwords, packed entries,
// the idle timeout and its arguments.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

#include "ExtractorTestSupport.h"
#include "support/TestEnvironment.h"

using namespace extractortest;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ExtractorArchive, RefusesUnsafeNamesAndWritesNothingOutside) {
    const QString root = testenv::MakeTempDir(QStringLiteral("names"));
    const QString data = MakeDataFile(root + "/data", "x.bin", 3000, 1);
    QDir().mkpath(root + "/out/sub");
    const QString outside = testenv::MakeTempDir(QStringLiteral("outside"));
    ASSERT_EQ(::symlink(outside.toLocal8Bit().constData(),
                        (root + "/out/link").toLocal8Bit().constData()),
              0);
    for (rar::Format format : {rar::Format::Rar5, rar::Format::Rar4}) {
        SCOPED_TRACE(format == rar::Format::Rar5 ? "RAR 5.0" : "RAR 4");
        const QString packed = root + (format == rar::Format::Rar5 ? "/p5" : "/p4");
        rar::PackOptions options;
        options.format = format;
        const std::string d = data.toStdString();
        const QStringList volumes = Pack({{d, "../evil.bin"},
                                          {d, "/abs.bin"},
                                          {d, "C:/drive.bin"},
                                          {d, "sub/nul.txt"},
                                          {d, "CON"},
                                          {d, "sub/../../up.bin"},
                                          {d, "link/through.bin"},
                                          {d, "ok/good.bin"}},
                                         packed, "names", options);
        std::string errors;
        EXPECT_EQ(ExtractComplete(PrepareUnrarDir(), volumes.first(), root + "/out", QString(),
                                  &errors),
                  1)
            << errors;
        EXPECT_EQ(ReadFile(root + "/out/ok/good.bin"), ReadFile(data));
        EXPECT_NE(errors.find("refused \"../evil.bin\""), std::string::npos) << errors;
        EXPECT_NE(errors.find("refused \"CON\""), std::string::npos) << errors;
    }
    EXPECT_FALSE(QFile::exists(root + "/evil.bin"));
    EXPECT_FALSE(QFile::exists(root + "/up.bin"));
    EXPECT_FALSE(QFile::exists("/abs.bin"));
    EXPECT_FALSE(QFile::exists(root + "/out/sub/nul.txt"));
    EXPECT_TRUE(QDir(outside).isEmpty());
    QStringList top = QDir(root + "/out").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    top.sort();
    EXPECT_EQ(top, (QStringList{"link", "ok", "sub"}));
}

TEST(ExtractorArchive, ChecksumMismatchIsReportedAndTheFileKept) {
    struct Case {
        const char* name;
        rar::Format format;
        bool blake2;
        const char* password;
    };
    const Case cases[] = {{"rar5 crc", rar::Format::Rar5, false, ""},
                          {"rar5 blake2", rar::Format::Rar5, true, ""},
                          {"rar4 crc", rar::Format::Rar4, false, ""},
                          {"rar5 encrypted (keyed crc)", rar::Format::Rar5, false, "pw"},
                          {"rar4 encrypted", rar::Format::Rar4, false, "pw"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString root = testenv::MakeTempDir(QStringLiteral("crc"));
        const QString data = MakeDataFile(root, "movie.avi", 50000, 2);
        rar::PackOptions options;
        options.format = c.format;
        options.blake2 = c.blake2;
        options.password = c.password;
        options.volumeSize = 20000;
        const QStringList volumes =
            Pack({{data.toStdString(), "movie.avi"}}, root + "/packed", "movie", options);
        ASSERT_GE(volumes.size(), 3);
        {
            // One byte in the middle of the second volume's data.
            QFile v(volumes[1]);
            ASSERT_TRUE(v.open(QIODevice::ReadWrite));
            v.seek(v.size() / 2);
            char b = 0;
            v.getChar(&b);
            v.seek(v.size() / 2);
            v.putChar(static_cast<char>(b ^ 0x55));
        }
        std::string errors;
        EXPECT_EQ(ExtractComplete(PrepareUnrarDir(), volumes.first(), root + "/out", c.password,
                                  &errors),
                  3)
            << errors;
        EXPECT_NE(errors.find("checksum error"), std::string::npos) << errors;
        EXPECT_EQ(QFileInfo(root + "/out/movie.avi").size(), 50000);
    }
}

TEST(ExtractorArchive, Passwords) {
    const QString root = testenv::MakeTempDir(QStringLiteral("pw"));
    const QString data = MakeDataFile(root, "movie.avi", 30000, 3);
    struct Case {
        const char* name;
        rar::Format format;
        bool encryptHeaders;
        const char* given;
        int code;
        bool written;
    };
    const Case cases[] = {
        {"rar5 right", rar::Format::Rar5, false, "good", 0, true},
        {"rar5 wrong", rar::Format::Rar5, false, "bad", 11, false},
        {"rar5 none", rar::Format::Rar5, false, "", 11, false},
        {"rar5 headers wrong", rar::Format::Rar5, true, "bad", 11, false},
        {"rar4 headers right", rar::Format::Rar4, true, "good", 0, true},
        {"rar4 right", rar::Format::Rar4, false, "good", 0, true},
        {"rar4 none", rar::Format::Rar4, false, "", 11, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rar::PackOptions options;
        options.format = c.format;
        options.password = "good";
        options.encryptHeaders = c.encryptHeaders;
        const QString dir = root + "/case" + QString::number(n++);
        const QStringList volumes =
            Pack({{data.toStdString(), "movie.avi"}}, dir + "/packed", "movie", options);
        std::string errors;
        EXPECT_EQ(ExtractComplete(PrepareUnrarDir(), volumes.first(), dir + "/out", c.given,
                                  &errors),
                  c.code)
            << errors;
        EXPECT_EQ(QFile::exists(dir + "/out/movie.avi"), c.written);
        if (c.written) {
            EXPECT_EQ(ReadFile(dir + "/out/movie.avi"), ReadFile(data));
        }
    }
}

TEST(ExtractorArchive, RealArchives) {
    const QDir corpus(testenv::CorpusDir());
    struct Case {
        const char* archive;
        const char* password;
        int code;
        const char* file;
        std::int64_t size;
    };
    const Case cases[] = {
        {"rar5_stored.rar", "", 0, "helloworld.txt", 29},
        {"rar5_blake2.rar", "", 0, nullptr, 0},
        {"rar.rar", "", 0, "testdir/test.txt", 20},
        {"rar_unicode.rar", "", 0, nullptr, 0},
        // Packed entries of an encrypted archive are a clear error.
        {"rar5_encrypted.rar", "password", 2, nullptr, 0},
        {"rar4_encrypted.rar", "password", 2, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        const QString root = testenv::MakeTempDir(QStringLiteral("real"));
        QFile::copy(corpus.filePath(c.archive), root + "/" + c.archive);
        std::string errors;
        EXPECT_EQ(ExtractComplete(PrepareUnrarDir(), root + "/" + c.archive, root + "/out",
                                  c.password, &errors),
                  c.code)
            << errors;
        if (c.file != nullptr) {
            EXPECT_EQ(QFileInfo(root + "/out/" + c.file).size(), c.size) << errors;
        }
        if (c.code == 2) {
            EXPECT_NE(errors.find("encrypted"), std::string::npos) << errors;
        }
    }
}

TEST(ExtractorArchive, GivesUpWithoutProgress) {
    const QString root = testenv::MakeTempDir(QStringLiteral("idle"));
    const QString data = MakeDataFile(root, "movie.avi", 30000, 4);
    rar::PackOptions options;
    options.volumeSize = 12000;
    const QStringList volumes =
        Pack({{data.toStdString(), "movie.avi"}}, root + "/packed", "movie", options);
    // Only the first volume, half of it declared complete; then nothing happens.
    QDir().mkpath(root + "/dl");
    QFile::copy(volumes.first(), root + "/dl/movie.part1.rar");
    const QString unrarDir = PrepareUnrarDir();
    WriteProgress(unrarDir, "6000\r\n");
    QProcess process;
    StartExtractor(process, unrarDir,
                   ClientArguments(root + "/dl/movie.part1.rar", 6000, root + "/out", ""), 700);
    std::string errors;
    EXPECT_EQ(FinishExtractor(process, 20000, &errors), 12) << errors;
    EXPECT_LE(QFileInfo(root + "/out/movie.avi").size(), 6000);
}

TEST(ExtractorArchive, Arguments) {
    const QString unrarDir = PrepareUnrarDir();
    const QStringList bad[] = {{}, {"e", "a.rar", "out"}, {"x", "a.rar"}, {"x", "-zz", "a.rar", "o"},
                               {"x", "-ssabc", "a.rar", "o"}};
    for (const QStringList& arguments : bad) {
        QProcess process;
        StartExtractor(process, unrarDir, arguments);
        EXPECT_EQ(FinishExtractor(process, 10000), 7) << arguments.join(' ').toStdString();
    }
}

} // namespace
