// TRAR against the scripted stand-in library: answers no real archive gives.

#include "core/Errors.h"
#include "extract/RARLibrary.h"
#include "extract/TRAR.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

class TRARScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testenv::MakeTempDir("scripted");
        qputenv("TAVILON_SCRIPTED_UNRAR", (dir_ + "/script.txt").toLocal8Bit());
        qputenv("TAVILON_SCRIPTED_UNRAR_LOG", (dir_ + "/log.txt").toLocal8Bit());
        Use("full");
    }
    void TearDown() override {
        UnloadRARLibrary();
        SetRARLibraryFolder(QString());
        qunsetenv("TAVILON_SCRIPTED_UNRAR");
        qunsetenv("TAVILON_SCRIPTED_UNRAR_LOG");
    }
    void Use(const char* variant) {
        UnloadRARLibrary();
        SetRARLibraryFolder(QStringLiteral(TAVILON_SCRIPTED_UNRAR_DIR "/") + variant);
    }
    void Script(const QStringList& lines) {
        QFile f(dir_ + "/script.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join('\n').toUtf8() + "\n");
        QFile::remove(dir_ + "/log.txt");
    }
    QStringList Log() const {
        QFile f(dir_ + "/log.txt");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    bool Run(TRAR& rar) {
        rar.SetOnListFile([this](TRAR*, const TRARFileItem& i) { items_.push_back(i); });
        rar.SetOnError(
            [this](TRAR*, qint32 code, TRAROperation op) { errors_.emplace_back(code, op); });
        return rar.OpenFile(dir_ + "/archive.rar");
    }
    QString dir_;
    std::vector<TRARFileItem> items_;
    std::vector<std::pair<qint32, TRAROperation>> errors_;
    TScriptedInteraction ui_;
};

// name flags pack packhigh unp unphigh host crc ver method attr time
const char kEntry[] = "entry movie.avi 32 1000 0 2000 0 2 abcd 29 51 32 3c8f6000";

TEST_F(TRARScriptedTest, OpensForListingWithTheDescribedRecords) {
    Script({kEntry});
    TRAR rar;
    ASSERT_TRUE(Run(rar));
    const QStringList log = Log();
    ASSERT_GE(log.size(), 5);
    EXPECT_EQ(log[0], "version");
    EXPECT_EQ(log[1], "open mode=0 name=" + dir_ + "/archive.rar narrow=none cmtbufsize=65536");
    EXPECT_EQ(log[2], "callback");
    EXPECT_EQ(log[3], "read movie.avi cmtbuf=none");
    EXPECT_EQ(log[4], "process op=0 path=none name=none");
    EXPECT_EQ(log.last(), "close");
    EXPECT_FALSE(log.join('\n').contains("setpassword")); // no password was set

    TRAR multi;
    multi.SetReadMultiVolumeToEnd(true);
    Run(multi);
    EXPECT_TRUE(Log().join('\n').contains("open mode=2"));
}

TEST_F(TRARScriptedTest, HeaderFieldsBecomeTheItem) {
    Script({kEntry, "entry folder 224 0 0 0 0 5 0 20 48 16 0", "entry old 0 5 0 5 0 1 1 15 48 16 0",
            "entry next.avi 192 7 0 7 0 3 0 20 48 32 0"});
    TRAR rar;
    ASSERT_TRUE(Run(rar));
    ASSERT_EQ(items_.size(), 4u);
    const TRARFileItem& m = items_[0];
    EXPECT_EQ(m.FileName, "movie.avi");
    EXPECT_EQ(m.CRC32, "ABCD");
    EXPECT_EQ(m.HostOS, "Windows");
    EXPECT_EQ(m.UnpackVersion, 29u);
    EXPECT_EQ(m.CompressionMethod, 51u);
    EXPECT_EQ(m.Time, QDateTime(QDate(2010, 4, 15), QTime(12, 0, 0)));
    EXPECT_FALSE(m.Encrypted);
    EXPECT_EQ(items_[1].HostOS, "unknown");
    EXPECT_EQ(items_[2].HostOS, "IBM OS/2");
    const TRARArchiveInformation& a = rar.ArchiveInformation();
    // Versions 29 and 20: 2.9. The folder (flags 0xE0) and the entry with attributes 0x10
    // are not counted, and leave the window alone: it is the last file's, 6 -> 4 MiB.
    EXPECT_EQ(a.ArchiverMajorVersion(), 2u);
    EXPECT_EQ(a.ArchiverMinorVersion(), 9u);
    EXPECT_EQ(a.TotalFiles(), 2);
    EXPECT_EQ(a.DictionarySize(), 4194304);
    EXPECT_EQ(a.HostOS(), "Unix");
    EXPECT_EQ(a.CompressedSize(), 1000 + 5 + 7);
    // 0 after every read and every skip.
    ASSERT_EQ(errors_.size(), 8u);
    for (const auto& e : errors_)
        EXPECT_EQ(e, std::make_pair(0, roListFiles));
}

TEST_F(TRARScriptedTest, SplitPiecesAddUpWithTheirHighWords) {
    Script({"entry big 2 100 1 10 1 2 0 29 48 32 0", "entry big 3 200 0 10 1 2 0 29 48 32 0",
            "entry big 1 300 0 10 1 2 0 29 48 32 0"});
    TRAR rar;
    rar.SetReadMultiVolumeToEnd(true);
    ASSERT_TRUE(Run(rar));
    ASSERT_EQ(items_.size(), 1u);
    EXPECT_EQ(items_[0].CompressedSize, (1ull << 32) + 600);
    EXPECT_EQ(items_[0].UnCompressedSize, (1ull << 32) + 10);
    EXPECT_TRUE(rar.ArchiveInformation().MultiVolume());

    items_.clear();
    TRAR plain;
    ASSERT_TRUE(Run(plain));
    ASSERT_EQ(items_.size(), 3u); // without it, every piece as it comes
    EXPECT_EQ(items_[0].CompressedSize, (1ull << 32) + 100);
}

TEST_F(TRARScriptedTest, CloseFailureIsReportedButKeepsTheResult) {
    Script({kEntry, "close 17"});
    TRAR rar;
    EXPECT_TRUE(Run(rar));
    EXPECT_EQ(errors_.back(), std::make_pair(17, roInitArchive));
}

TEST_F(TRARScriptedTest, CommentStates) {
    for (int state : {11, 12, 14, 20}) {
        SCOPED_TRACE(state);
        errors_.clear();
        items_.clear();
        Script({"comment " + QString::number(state), kEntry});
        TRAR rar;
        EXPECT_FALSE(Run(rar));
        ASSERT_FALSE(errors_.empty());
        EXPECT_EQ(errors_[0], std::make_pair(state, roInitArchive));
        EXPECT_TRUE(items_.empty());
        const QStringList log = Log();
        EXPECT_EQ(log.last(), "close"); // closed before giving up
        EXPECT_FALSE(log.join('\n').contains("read "));
    }
    errors_.clear();
    Script({"flags 2", "comment 1 Hello there", kEntry});
    TRAR rar;
    EXPECT_TRUE(Run(rar));
    EXPECT_TRUE(rar.ArchiveInformation().ArchiveComment());
    EXPECT_EQ(rar.ArchiveInformation().Comment(), "Hello there");

    Script({"flags 2", "comment 0", kEntry});
    TRAR none;
    EXPECT_TRUE(Run(none));
    EXPECT_FALSE(none.ArchiveInformation().ArchiveComment());
}

TEST_F(TRARScriptedTest, ArchiveFlags) {
    Script({"flags " + QString::number(0x04 | 0x08 | 0x20 | 0x40 | 0x80), kEntry});
    TRAR rar;
    EXPECT_TRUE(Run(rar));
    const TRARArchiveInformation& a = rar.ArchiveInformation();
    EXPECT_TRUE(a.Locked());
    EXPECT_TRUE(a.Solid());
    EXPECT_TRUE(a.Signed());
    EXPECT_TRUE(a.Recovery());
    EXPECT_TRUE(a.HeaderEncrypted());
    EXPECT_FALSE(a.ArchiveComment());
}

TEST_F(TRARScriptedTest, OldLibraryVersionIsShownAndTheLibraryUsed) {
    Script({"version 3", kEntry});
    TRAR rar;
    EXPECT_TRUE(Run(rar));
    ASSERT_EQ(ui_.errors.size(), 1);
    EXPECT_EQ(ui_.errors[0], QString::fromUtf8(kRARLibraryTooOldText));
    EXPECT_EQ(items_.size(), 1u);

    // Version 4 is new enough.
    UnloadRARLibrary();
    Script({"version 4", kEntry});
    TRAR rar4;
    EXPECT_TRUE(Run(rar4));
    EXPECT_EQ(ui_.errors.size(), 1);
}

TEST_F(TRARScriptedTest, MissingExports) {
    Use("noversion");
    Script({kEntry});
    TRAR rar;
    EXPECT_TRUE(Run(rar));
    EXPECT_EQ(ui_.errors.size(), 1); // treated like a library too old
    EXPECT_FALSE(RARFunctions().RARGetDllVersion);

    Use("noread");
    Script({kEntry});
    errors_.clear();
    items_.clear();
    TRAR broken;
    EXPECT_FALSE(Run(broken));
    EXPECT_TRUE(IsRARLibraryLoaded());
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], std::make_pair(99, roInitArchive));
    EXPECT_FALSE(Log().join('\n').contains("open")); // never opened without the calls it needs
}

TEST_F(TRARScriptedTest, OpenFailureIs99) {
    Script({"openfail"});
    TRAR rar;
    EXPECT_FALSE(Run(rar));
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], std::make_pair(99, roInitArchive));
}

TEST_F(TRARScriptedTest, PasswordEvent) {
    Script({"password 4", kEntry});
    TRAR rar;
    bool asked = false;
    rar.SetOnPasswordRequired(
        [&](TRAR*, bool header, const QString& name, QString& pw, bool& cancel) {
            asked = true;
            EXPECT_TRUE(header); // the listing still runs: nothing counts as opened yet
            EXPECT_EQ(name, dir_ + "/archive.rar");
            pw = "secret";
            cancel = false;
        });
    EXPECT_TRUE(Run(rar));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(rar.ArchiveInformation().HeaderEncrypted());
    // Cut to the buffer, terminating zero included.
    EXPECT_TRUE(Log().contains("password result=0 text=sec"));

    Script({"password", kEntry});
    TRAR cancelled;
    cancelled.SetOnPasswordRequired(
        [](TRAR*, bool, const QString&, QString&, bool& cancel) { cancel = true; });
    items_.clear();
    EXPECT_FALSE(Run(cancelled));
    EXPECT_TRUE(Log().contains("password result=-1 text="));
    EXPECT_TRUE(items_.empty());
    EXPECT_EQ(errors_.back(), std::make_pair(22, roListFiles));

    Script({"password", kEntry});
    TRAR unassigned; // an empty password, no Cancel
    EXPECT_TRUE(Run(unassigned));
    EXPECT_TRUE(Log().contains("password result=0 text="));
}

TEST_F(TRARScriptedTest, VolumeRequests) {
    Script({"volume /v/next.rar", kEntry});
    TRAR plain;
    bool asked = false;
    plain.SetOnNextVolumeRequired([&](TRAR*, const QString&, QString&, bool&) { asked = true; });
    EXPECT_FALSE(Run(plain));
    EXPECT_FALSE(asked);
    EXPECT_TRUE(Log().contains("volume result=-1 name=/v/next.rar"));
    EXPECT_EQ(errors_.back(), std::make_pair(15, roListFiles));

    TRAR multi;
    multi.SetReadMultiVolumeToEnd(true);
    QString required;
    multi.SetOnNextVolumeRequired([&](TRAR*, const QString& req, QString& name, bool& cancel) {
        required = req;
        name = "/elsewhere/next.rar";
        cancel = false;
    });
    EXPECT_TRUE(Run(multi));
    EXPECT_EQ(required, "/v/next.rar");
    EXPECT_TRUE(Log().contains("volume result=0 name=/elsewhere/next.rar"));

    TRAR cancel;
    cancel.SetReadMultiVolumeToEnd(true);
    cancel.SetOnNextVolumeRequired([](TRAR*, const QString&, QString& name, bool& c) {
        name = "/x.rar";
        c = true;
    });
    EXPECT_FALSE(Run(cancel));
    EXPECT_TRUE(Log().contains("volume result=-1 name=/x.rar"));

    // An announced volume is simply taken.
    Script({"notify /v/next.rar", kEntry});
    TRAR notified;
    EXPECT_TRUE(Run(notified));
    EXPECT_TRUE(Log().contains("notify result=0 name=/v/next.rar"));
}

TEST_F(TRARScriptedTest, ProcessedDataIsReported) {
    Script({"data 1000", kEntry});
    TRAR rar;
    std::vector<std::pair<quint64, quint64>> progress;
    rar.SetOnProgress([&](TRAR*, const QString& name, quint64, quint64 archiveDone, quint64 total,
                          quint64 fileDone) {
        EXPECT_TRUE(name.isEmpty());
        EXPECT_EQ(total, 0u);
        EXPECT_EQ(archiveDone, fileDone);
        progress.emplace_back(archiveDone, fileDone);
    });
    EXPECT_TRUE(Run(rar));
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].first, 1000u);
    EXPECT_TRUE(Log().contains("data result=0"));
}

TEST_F(TRARScriptedTest, FailingReadsAndSkipsEndTheListing) {
    Script({kEntry, "end 12"});
    TRAR rar;
    EXPECT_FALSE(Run(rar));
    EXPECT_EQ(items_.size(), 1u); // reported before stays reported
    EXPECT_EQ(errors_.back(), std::make_pair(12, roListFiles));

    Script({kEntry, kEntry, "process 16"});
    items_.clear();
    errors_.clear();
    TRAR skip;
    EXPECT_FALSE(Run(skip));
    EXPECT_EQ(items_.size(), 1u);
    EXPECT_EQ(errors_.back(), std::make_pair(16, roListFiles));
}

TEST_F(TRARScriptedTest, ErrorsRaisedByHandlersComeBackAfterClosing) {
    Script({"password", kEntry});
    TRAR rar;
    rar.SetOnPasswordRequired([](TRAR*, bool, const QString&, QString&, bool&) { Abort(); });
    EXPECT_THROW(Run(rar), EAbort);
    EXPECT_EQ(Log().last(), "close");
}

} // namespace
