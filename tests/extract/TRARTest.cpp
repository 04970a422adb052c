// TRAR against our own libunrar.so and the real archives of the corpus.

#include "extract/TRAR.h"

#include "extract/RARLibrary.h"
#include "rar/RarTestUtil.h"
#include "rar/VolumeReader.h"
#include "support/ScriptedInteraction.h"

#include <QFile>
#include <QLibrary>
#include <gtest/gtest.h>

namespace {

struct Recorded {
    std::vector<TRARFileItem> items;
    std::vector<std::pair<qint32, TRAROperation>> errors;
    struct PasswordAsk {
        bool header;
        QString fileName;
    };
    std::vector<PasswordAsk> passwordAsks;
    QStringList volumeAsks;
};

class TRARTest : public ::testing::Test {
protected:
    void SetUp() override {
        UnloadRARLibrary();
        SetRARLibraryFolder(testenv::BinDir());
    }
    void TearDown() override {
        UnloadRARLibrary();
        SetRARLibraryFolder(QString());
    }
    // Hooks every event of `rar` to `rec`; the password and volume answers come from the
    // arguments (an empty password with cancel false passes an empty password).
    void Hook(TRAR& rar, Recorded& rec, QString password = {}, bool cancel = false,
              QString volume = {}) {
        rar.SetOnListFile([&rec](TRAR*, const TRARFileItem& item) { rec.items.push_back(item); });
        rar.SetOnError(
            [&rec](TRAR*, qint32 code, TRAROperation op) { rec.errors.emplace_back(code, op); });
        rar.SetOnPasswordRequired([&rec, password, cancel](TRAR*, bool header, const QString& name,
                                                           QString& newPassword, bool& c) {
            rec.passwordAsks.push_back({header, name});
            newPassword = password;
            c = cancel;
        });
        rar.SetOnNextVolumeRequired(
            [&rec, volume](TRAR*, const QString& required, QString& newName, bool& c) {
                rec.volumeAsks.append(required);
                newName = volume;
                c = volume.isEmpty();
            });
    }
    static QString Corpus(const char* name) {
        return QString::fromStdString(rartest::CorpusPath(name));
    }
    TScriptedInteraction ui_;
};

TEST_F(TRARTest, ListsAnArchiveAndGathersItsInformation) {
    TRAR rar;
    Recorded rec;
    Hook(rar, rec);
    EXPECT_EQ(rar.Version(), "1.1 stable");
    ASSERT_TRUE(rar.OpenFile(Corpus("rar.rar")));
    ASSERT_EQ(rec.items.size(), 5u);
    const TRARFileItem& t = rec.items[0];
    EXPECT_EQ(t.FileName, "test.txt");
    EXPECT_EQ(t.CompressedSize, 20u);
    EXPECT_EQ(t.UnCompressedSize, 20u);
    EXPECT_EQ(t.HostOS, "Unix");
    EXPECT_EQ(t.CRC32, "BEC8A242");
    EXPECT_EQ(t.UnpackVersion, 20u);
    EXPECT_EQ(t.CompressionMethod, 0x30u);
    EXPECT_FALSE(t.Encrypted);
    EXPECT_EQ(t.Time.date(), QDate(2011, 6, 26));
    EXPECT_TRUE(t.Comment.isEmpty());
    EXPECT_EQ(rec.items[3].FileName, "testdir");

    const TRARArchiveInformation& a = rar.ArchiveInformation();
    EXPECT_EQ(a.FileName(), Corpus("rar.rar"));
    EXPECT_EQ(a.TotalFiles(), 3); // the two folders do not count
    EXPECT_EQ(a.ArchiverMajorVersion(), 2u);
    EXPECT_EQ(a.ArchiverMinorVersion(), 0u);
    EXPECT_EQ(a.DictionarySize(), 131072);
    EXPECT_EQ(a.UnCompressedSize(), 20 + 8 + 20);
    EXPECT_EQ(a.HostOS(), "Unix");
    EXPECT_FALSE(a.SFX());
    EXPECT_FALSE(a.MultiVolume());
    EXPECT_FALSE(a.HeaderEncrypted());
    // A successful read and a successful skip are passed on as code 0, five times each.
    ASSERT_EQ(rec.errors.size(), 10u);
    for (const auto& [code, op] : rec.errors) {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(op, roListFiles);
    }
    EXPECT_TRUE(ui_.errors.isEmpty()); // our library is new enough

    // A second listing starts from nothing.
    ASSERT_TRUE(rar.OpenFile(Corpus("rar5_stored.rar")));
    EXPECT_EQ(rar.ArchiveInformation().TotalFiles(), 1);
    EXPECT_EQ(rar.ArchiveInformation().ArchiverMajorVersion(), 5u);
    EXPECT_EQ(rar.ArchiveInformation().UnCompressedSize(), 29);
}

TEST_F(TRARTest, SelfExtractingArchives) {
    for (const char* name : {"rar_sfx.exe", "rar5_sfx.exe"}) {
        TRAR rar;
        Recorded rec;
        Hook(rar, rec);
        EXPECT_TRUE(rar.OpenFile(Corpus(name))) << name;
        EXPECT_TRUE(rar.ArchiveInformation().SFX()) << name;
        EXPECT_FALSE(rec.items.empty());
    }
    EXPECT_TRUE(IsExecutableFile(Corpus("rar5_sfx.exe")));
    EXPECT_FALSE(IsExecutableFile(Corpus("rar.rar")));
    EXPECT_TRUE(IsExecutableFile(testenv::BinDir() + "/tavilon-pack"));
}

TEST_F(TRARTest, UnicodeNames) {
    TRAR rar;
    Recorded rec;
    Hook(rar, rec);
    ASSERT_TRUE(rar.OpenFile(Corpus("rar_unicode.rar")));
    ASSERT_GE(rec.items.size(), 2u);
    EXPECT_EQ(rec.items[1].FileName,
              QString::fromUtf8("表だよ/漢字長いファイル名long-filename-in-漢字.txt"));
    EXPECT_EQ(rec.items[1].HostOS, "Windows");
}

// The snapshot of a first volume, alone in its folder, listed plainly.
TEST_F(TRARTest, PlainListingNeverAsksForTheNextVolume) {
    const QString dir = testenv::MakeTempDir("snap");
    const QString snapshot = dir + "/temp.rar";
    ASSERT_TRUE(QFile::copy(Corpus("rar_multivolume.part0001.rar"), snapshot));
    TRAR rar;
    Recorded rec;
    Hook(rar, rec, {}, false, Corpus("rar_multivolume.part0002.rar"));
    EXPECT_FALSE(rar.OpenFile(snapshot));
    ASSERT_EQ(rec.items.size(), 1u);
    EXPECT_EQ(rec.items[0].FileName, "ppmd_lzss_conversion_test.txt");
    EXPECT_EQ(rec.items[0].CompressedSize, 59889u);
    EXPECT_EQ(rec.items[0].UnCompressedSize, 241647978u);
    EXPECT_TRUE(rec.volumeAsks.isEmpty());
    EXPECT_TRUE(rar.ArchiveInformation().MultiVolume());
    EXPECT_EQ(rec.errors.back().first, 15); // the library's answer to the refused volume
}

TEST_F(TRARTest, ReadMultiVolumeToEndSumsThePieces) {
    // The packed sizes of every piece, from our reader.
    std::map<std::string, std::uint64_t> sums;
    for (int v = 1; v <= 4; ++v) {
        rar::FileSource src;
        ASSERT_TRUE(
            src.Open(rartest::CorpusPath("rar_multivolume.part000" + std::to_string(v) + ".rar")));
        rar::VolumeReader reader(src);
        ASSERT_EQ(reader.ReadArchiveHeader(), rar::Status::Ok);
        rar::Entry e;
        while (reader.ReadNext(e) == rar::Status::Ok)
            sums[e.name] += e.packedSize;
    }
    TRAR rar;
    rar.SetReadMultiVolumeToEnd(true);
    Recorded rec;
    Hook(rar, rec);
    ASSERT_TRUE(rar.OpenFile(Corpus("rar_multivolume.part0001.rar")));
    ASSERT_EQ(rec.items.size(), 7u);
    EXPECT_EQ(rec.items[0].FileName, "ppmd_lzss_conversion_test.txt");
    EXPECT_EQ(rec.items[0].CompressedSize, sums["ppmd_lzss_conversion_test.txt"]);
    EXPECT_EQ(rec.items[1].CompressedSize, sums["LibarchiveAddingTest.html"]);
    EXPECT_TRUE(rar.ArchiveInformation().MultiVolume());
    std::uint64_t total = 0;
    for (const auto& [name, size] : sums)
        total += size;
    EXPECT_EQ(static_cast<std::uint64_t>(rar.ArchiveInformation().CompressedSize()), total);
}

TEST_F(TRARTest, ReadMultiVolumeToEndAsksForMissingVolumes) {
    const QString dir = testenv::MakeTempDir("vols");
    ASSERT_TRUE(QFile::copy(Corpus("rar_multivolume.part0001.rar"), dir + "/set.part0001.rar"));
    TRAR rar;
    rar.SetReadMultiVolumeToEnd(true);
    Recorded rec;
    Hook(rar, rec, {}, false, Corpus("rar_multivolume.part0002.rar"));
    EXPECT_TRUE(rar.OpenFile(dir + "/set.part0001.rar"));
    ASSERT_EQ(rec.volumeAsks.size(), 1);
    EXPECT_EQ(rec.volumeAsks[0], dir + "/set.part0002.rar");
    EXPECT_EQ(rec.items.size(), 7u);

    Recorded cancelled;
    TRAR rar2;
    rar2.SetReadMultiVolumeToEnd(true);
    Hook(rar2, cancelled); // no name: Cancel
    EXPECT_FALSE(rar2.OpenFile(dir + "/set.part0001.rar"));
    EXPECT_EQ(cancelled.volumeAsks.size(), 1);
    EXPECT_TRUE(cancelled.items.empty()); // the first piece is never reported on its own
}

TEST_F(TRARTest, EncryptedHeaders) {
    for (const auto& [name, password] : rartest::HeaderEncryptedArchives()) {
        SCOPED_TRACE(name);
        const QString path = Corpus(name.c_str());
        TRAR rar;
        Recorded rec;
        Hook(rar, rec, QString::fromStdString(password));
        EXPECT_TRUE(rar.OpenFile(path));
        ASSERT_EQ(rec.passwordAsks.size(), 1u);
        EXPECT_TRUE(rec.passwordAsks[0].header);
        EXPECT_EQ(rec.passwordAsks[0].fileName, path);
        EXPECT_TRUE(rar.ArchiveInformation().HeaderEncrypted());
        EXPECT_TRUE(rar.ArchiveInformation().Encryption());
        EXPECT_GE(rec.items.size(), 2u);

        Recorded cancel;
        TRAR rar2;
        Hook(rar2, cancel, {}, true);
        EXPECT_FALSE(rar2.OpenFile(path));
        EXPECT_TRUE(rar2.ArchiveInformation().HeaderEncrypted());
        EXPECT_TRUE(cancel.items.empty());

        Recorded wrong;
        TRAR rar3;
        Hook(rar3, wrong, "wrong password");
        EXPECT_FALSE(rar3.OpenFile(path));
        EXPECT_TRUE(wrong.items.empty());

        TRAR rar4; // no handler: an empty password
        EXPECT_FALSE(rar4.OpenFile(path));
    }
}

TEST_F(TRARTest, EncryptedDataNeedsNoPasswordToList) {
    TRAR rar;
    Recorded rec;
    Hook(rar, rec);
    ASSERT_TRUE(rar.OpenFile(Corpus("rar4_encrypted.rar")));
    EXPECT_TRUE(rec.passwordAsks.empty());
    ASSERT_EQ(rec.items.size(), 4u);
    EXPECT_FALSE(rec.items[0].Encrypted);
    EXPECT_TRUE(rec.items[1].Encrypted);
    EXPECT_TRUE(rar.ArchiveInformation().Encryption());
    EXPECT_FALSE(rar.ArchiveInformation().HeaderEncrypted());
}

TEST_F(TRARTest, EntriesOfFourGigabytesAndMore) {
    const QString dir = testenv::MakeTempDir("huge");
    const std::uint64_t size = 6ull * 1024 * 1024 * 1024 + 5;
    ASSERT_TRUE(rartest::WriteFile((dir + "/huge.rar").toStdString(), rartest::HugeRar5(size)));
    TRAR rar;
    Recorded rec;
    Hook(rar, rec);
    rar.OpenFile(dir + "/huge.rar"); // the data is cut off: the listing ends in an error
    ASSERT_EQ(rec.items.size(), 1u);
    EXPECT_EQ(rec.items[0].UnCompressedSize, size);
    EXPECT_EQ(rec.items[0].CompressedSize, size);
    EXPECT_EQ(static_cast<std::uint64_t>(rar.ArchiveInformation().UnCompressedSize()), size);
}

TEST_F(TRARTest, StoredArchiveComment) {
    const QString dir = testenv::MakeTempDir("cmt");
    ASSERT_TRUE(
        rartest::WriteFile((dir + "/c.rar").toStdString(), rartest::CommentedRar5("Enjoy")));
    TRAR rar;
    ASSERT_TRUE(rar.OpenFile(dir + "/c.rar"));
    EXPECT_TRUE(rar.ArchiveInformation().ArchiveComment());
    EXPECT_EQ(rar.ArchiveInformation().Comment(), "Enjoy");
}

TEST_F(TRARTest, DamagedArchivesFailWithoutCrashing) {
    for (const std::string& name : rartest::DamagedArchives()) {
        SCOPED_TRACE(name);
        TRAR rar;
        Recorded rec;
        Hook(rar, rec, "password");
        // An error, or a partial listing (some carry no file at all): never a crash or hang.
        if (rar.OpenFile(QString::fromStdString(rartest::CorpusPath(name)))) {
            EXPECT_LE(rec.items.size(), 1000u);
        }
    }
}

TEST_F(TRARTest, MissingLibraryReports99) {
    if (QLibrary(QStringLiteral("unrar")).load())
        GTEST_SKIP() << "a RAR library is installed system-wide";
    SetRARLibraryFolder(testenv::MakeTempDir("empty"));
    TRAR rar;
    Recorded rec;
    Hook(rar, rec);
    EXPECT_FALSE(rar.OpenFile(Corpus("rar.rar")));
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0], std::make_pair(99, roInitArchive));
    EXPECT_FALSE(IsRARLibraryLoaded());
}

TEST_F(TRARTest, DestroyingAComponentUnloadsTheLibrary) {
    {
        TRAR rar;
        ASSERT_TRUE(rar.OpenFile(Corpus("rar5_stored.rar")));
        EXPECT_TRUE(IsRARLibraryLoaded());
    }
    EXPECT_FALSE(IsRARLibraryLoaded());
    EXPECT_EQ(RARFunctions().RARReadHeaderEx, nullptr);
}

} // namespace
