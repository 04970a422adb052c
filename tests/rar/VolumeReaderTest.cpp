#include "rar/VolumeReader.h"

#include "rar/RarCrypto.h"
#include "rar/RarTestUtil.h"
#include "rar/VolumeNaming.h"

#include <QDateTime>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// No archive of the corpus has more blocks than this; a reader that goes on is looping.
constexpr int kMaxBlocks = 100000;

struct Listing {
    rar::Status header = rar::Status::Ok;
    rar::Status end = rar::Status::Ok;
    std::vector<rar::Entry> entries;
    rar::ArchiveInfo archive;
    bool nextVolume = false;
};

Listing ListSource(rar::ByteSource& src, const std::string& password = {}) {
    Listing out;
    rar::VolumeReader reader(src);
    reader.SetPassword(password);
    out.header = reader.ReadArchiveHeader();
    out.archive = reader.Archive();
    if (out.header != rar::Status::Ok)
        return out;
    std::uint64_t last = reader.Position();
    for (int i = 0; i < kMaxBlocks; ++i) {
        rar::Entry e;
        rar::Status s = reader.ReadNext(e);
        if (s != rar::Status::Ok) {
            out.end =
                s == rar::Status::NeedMore && reader.AtCleanEnd() ? rar::Status::EndOfArchive : s;
            out.nextVolume = reader.NextVolumeExpected();
            return out;
        }
        EXPECT_GT(reader.Position(), last) << "the reader did not move on";
        last = reader.Position();
        out.entries.push_back(e);
    }
    ADD_FAILURE() << "listing did not end";
    return out;
}

Listing ListFile(const std::string& name, const std::string& password = {}) {
    rar::FileSource src;
    EXPECT_TRUE(src.Open(rartest::CorpusPath(name))) << name;
    return ListSource(src, password);
}

std::vector<rar::Entry> Files(const Listing& l) {
    std::vector<rar::Entry> out;
    for (const rar::Entry& e : l.entries)
        if (e.kind == rar::EntryKind::File)
            out.push_back(e);
    return out;
}

TEST(VolumeReader, WellFormedCorpusListsLikeBsdtar) {
    const auto reference = rartest::BsdtarListing();
    ASSERT_FALSE(reference.empty()) << "bsdtar-listing.txt not found";
    for (const std::string& name : rartest::WellFormedArchives()) {
        SCOPED_TRACE(name);
        const Listing l = ListFile(name);
        ASSERT_EQ(l.header, rar::Status::Ok);
        EXPECT_EQ(l.end, rar::Status::EndOfArchive);
        // bsdtar passes over the pieces that continue an entry of the previous volume in
        // RAR 5.0 sets, and lists them in RAR 4 sets.
        std::vector<rar::Entry> files;
        for (const rar::Entry& e : Files(l))
            if (!(e.splitBefore && l.archive.format == rar::Format::Rar5))
                files.push_back(e);
        auto it = reference.find(name);
        ASSERT_NE(it, reference.end());
        const rartest::ListingSection& ref = it->second;
        if (!ref.error) {
            EXPECT_EQ(files.size(), ref.entries.size());
        }
        for (std::size_t i = 0; i < ref.entries.size() && i < files.size(); ++i) {
            EXPECT_EQ(files[i].name, ref.entries[i].name);
            if (!ref.entries[i].link) {
                EXPECT_EQ(files[i].unpackedSize, ref.entries[i].size) << ref.entries[i].name;
            }
        }
    }
}

TEST(VolumeReader, ModificationTimesOfBothGenerations) {
    struct Case {
        const char* archive;
        QDate date;
    } cases[] = {{"rar.rar", QDate(2011, 6, 26)}, {"rar5_stored.rar", QDate()}};
    for (const Case& c : cases) {
        const auto files = Files(ListFile(c.archive));
        ASSERT_FALSE(files.empty());
        ASSERT_TRUE(files[0].mtimeNs.has_value()) << c.archive;
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(*files[0].mtimeNs / 1000000);
        // The DOS time is the same moment, to its two-second steps.
        const std::uint32_t dos = files[0].dosTime;
        const QDateTime fromDos(QDate(1980 + (dos >> 25), (dos >> 21) & 15, (dos >> 16) & 31),
                                QTime((dos >> 11) & 31, (dos >> 5) & 63, (dos & 31) * 2));
        EXPECT_LE(std::abs(fromDos.secsTo(t)), 2) << c.archive;
        if (c.date.isValid()) {
            EXPECT_EQ(t.date(), c.date);
        }
    }
}

TEST(VolumeReader, SelfExtractingArchivesAreFoundAfterTheStub) {
    for (const char* name : {"rar_sfx.exe", "rar5_sfx.exe"}) {
        SCOPED_TRACE(name);
        const Listing l = ListFile(name);
        ASSERT_EQ(l.header, rar::Status::Ok);
        EXPECT_GT(l.archive.markerOffset, 0u);
        EXPECT_FALSE(Files(l).empty());
    }
}

TEST(VolumeReader, DamagedArchivesEndWithoutCrashOrLoop) {
    const auto damaged = rartest::DamagedArchives();
    ASSERT_GT(damaged.size(), 30u);
    for (const std::string& name : damaged) {
        SCOPED_TRACE(name);
        const Listing l = ListFile(name);
        if (l.header == rar::Status::Ok) {
            EXPECT_NE(l.end, rar::Status::Ok);
        }
    }
}

TEST(VolumeReader, MultiVolumeSetsShowSplitFlags) {
    const Listing first = ListFile("rar_multivolume.part0001.rar");
    EXPECT_TRUE(first.archive.isVolume);
    EXPECT_TRUE(first.archive.firstVolume);
    EXPECT_TRUE(first.archive.newNaming);
    EXPECT_TRUE(first.nextVolume);
    ASSERT_EQ(Files(first).size(), 1u);
    EXPECT_FALSE(Files(first)[0].splitBefore);
    EXPECT_TRUE(Files(first)[0].splitAfter);

    const Listing middle = ListFile("rar_multivolume.part0002.rar");
    EXPECT_FALSE(middle.archive.firstVolume);
    ASSERT_EQ(Files(middle).size(), 1u);
    EXPECT_TRUE(Files(middle)[0].splitBefore);
    EXPECT_TRUE(Files(middle)[0].splitAfter);

    const Listing last = ListFile("rar5_multiarchive.part08.rar");
    EXPECT_TRUE(last.archive.isVolume);
    EXPECT_FALSE(last.nextVolume);
    ASSERT_FALSE(Files(last).empty());
    EXPECT_TRUE(Files(last)[0].splitBefore);
}

TEST(VolumeReader, EncryptedHeadersNeedTheRightPassword) {
    for (const auto& [name, password] : rartest::HeaderEncryptedArchives()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ListFile(name).header, rar::Status::PasswordRequired);
        EXPECT_EQ(ListFile(name, "wrong password").header, rar::Status::BadPassword);
        const Listing l = ListFile(name, password);
        ASSERT_EQ(l.header, rar::Status::Ok);
        EXPECT_TRUE(l.archive.headersEncrypted);
        EXPECT_EQ(l.end, rar::Status::EndOfArchive);
        const auto files = Files(l);
        ASSERT_GE(files.size(), 2u);
        for (const rar::Entry& e : files) {
            EXPECT_TRUE(e.encrypted);
            EXPECT_EQ(e.unpackedSize, name == "rar_encryption_header.rar" ? 16u : 18u);
        }
    }
}

TEST(VolumeReader, EncryptedDataCarriesItsParameters) {
    const auto files = Files(ListFile("rar4_encrypted.rar"));
    ASSERT_EQ(files.size(), 4u);
    EXPECT_FALSE(files[0].encrypted);
    ASSERT_TRUE(files[1].encryption.has_value());
    EXPECT_EQ(files[1].encryption->format, rar::Format::Rar4);
    EXPECT_EQ(files[1].encryption->saltSize, 8);

    const auto files5 = Files(ListFile("rar5_encrypted.rar"));
    ASSERT_EQ(files5.size(), 4u);
    ASSERT_TRUE(files5[1].encryption.has_value());
    EXPECT_EQ(files5[1].encryption->kdfCount, 15);
    EXPECT_TRUE(files5[1].encryption->hasIv);
    EXPECT_TRUE(files5[1].encryption->hasPasswordCheck);
    // The check value tells the right password from a wrong one without touching the data.
    EXPECT_TRUE(rar::DeriveKeys("password", *files5[1].encryption).passwordOk);
    EXPECT_FALSE(rar::DeriveKeys("password2", *files5[1].encryption).passwordOk);
    EXPECT_TRUE(rar::DeriveKeys("password2", *files5[3].encryption).passwordOk);
}

// The extractor reads volumes that are still being written: at every length of the bytes
// present, the reader either says "need more" or gives what the whole file gives.
TEST(VolumeReader, GrowingVolumeNeverLooksDamaged) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"rar.rar", ""},
        {"rar_unicode.rar", ""},
        {"rar_subblock.rar", ""},
        {"rar5_stored.rar", ""},
        {"rar5_blake2.rar", ""},
        {"rar5_multiarchive.part01.rar", ""},
        {"rar_encryption_header.rar", "12345678"},
        {"rar5_encrypted_filenames.rar", "password"}};
    for (const auto& [name, password] : cases) {
        SCOPED_TRACE(name);
        const rartest::Bytes data = rartest::ReadFile(rartest::CorpusPath(name));
        rar::MemorySource whole(data.data(), data.size());
        const Listing expected = ListSource(whole, password);
        ASSERT_EQ(expected.header, rar::Status::Ok);

        rar::MemorySource growing(data.data(), data.size());
        std::uint64_t limit = 0;
        growing.SetLimit(limit);
        rar::VolumeReader reader(growing);
        reader.SetPassword(password);
        auto grow = [&] {
            ++limit;
            growing.SetLimit(limit);
            return limit <= data.size();
        };
        rar::Status s;
        while ((s = reader.ReadArchiveHeader()) == rar::Status::NeedMore)
            ASSERT_TRUE(grow()) << "still needs more with the whole file present";
        ASSERT_EQ(s, rar::Status::Ok);
        std::vector<rar::Entry> entries;
        for (;;) {
            rar::Entry e;
            s = reader.ReadNext(e);
            if (s == rar::Status::Ok) {
                entries.push_back(e);
                continue;
            }
            if (s == rar::Status::NeedMore && limit < data.size()) {
                ASSERT_GE(reader.NeededSize(), limit);
                grow();
                continue;
            }
            break;
        }
        EXPECT_TRUE(s == rar::Status::EndOfArchive || reader.AtCleanEnd()) << rar::StatusText(s);
        ASSERT_EQ(entries.size(), expected.entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, expected.entries[i].name);
            EXPECT_EQ(entries[i].dataOffset, expected.entries[i].dataOffset);
            EXPECT_EQ(entries[i].packedSize, expected.entries[i].packedSize);
        }
    }
}

TEST(VolumeReader, SizesOfFourGigabytesAndMoreKeepTheirHighWords) {
    const std::uint64_t size = 5ull * 1024 * 1024 * 1024 + 123;
    for (const auto& data : {rartest::HugeRar5(size), rartest::HugeRar4(size)}) {
        rar::MemorySource src(data.data(), data.size());
        rar::VolumeReader reader(src);
        ASSERT_EQ(reader.ReadArchiveHeader(), rar::Status::Ok);
        rar::Entry e;
        ASSERT_EQ(reader.ReadNext(e), rar::Status::Ok);
        EXPECT_EQ(e.unpackedSize, size);
        EXPECT_EQ(e.packedSize, size);
        EXPECT_EQ(e.dataOffset, data.size());
        // The data is not there: more is needed, and this is no clean end.
        EXPECT_EQ(reader.ReadNext(e), rar::Status::NeedMore);
        EXPECT_FALSE(reader.AtCleanEnd());
        EXPECT_GT(reader.NeededSize(), data.size() + size);
    }
}

TEST(VolumeReader, StoredCommentsAreReadPackedOnesAreMarked) {
    const auto data = rartest::CommentedRar5("A comment of ours");
    rar::MemorySource src(data.data(), data.size());
    const Listing l = ListSource(src);
    ASSERT_EQ(l.header, rar::Status::Ok);
    EXPECT_TRUE(l.archive.hasComment);
    EXPECT_TRUE(l.archive.commentRead);
    EXPECT_EQ(l.archive.comment, "A comment of ours");
    ASSERT_EQ(Files(l).size(), 1u);
    EXPECT_EQ(Files(l)[0].name, "hello.txt");

    const Listing packed = ListFile("rar_subblock.rar");
    EXPECT_TRUE(packed.archive.hasComment);
    EXPECT_TRUE(packed.archive.commentPacked);
    EXPECT_TRUE(packed.archive.comment.empty());
}

TEST(VolumeReader, CorruptHeaderCrcIsDamage) {
    auto data = rartest::ReadFile(rartest::CorpusPath("rar5_stored.rar"));
    rar::MemorySource good(data.data(), data.size());
    ASSERT_EQ(ListSource(good).end, rar::Status::EndOfArchive);
    data[30] ^= 0x01; // inside the file header
    rar::MemorySource bad(data.data(), data.size());
    EXPECT_EQ(ListSource(bad).end, rar::Status::Damaged);
}

TEST(VolumeNaming, NextVolumeNames) {
    struct Case {
        const char* path;
        bool newNaming;
        const char* next;
    } cases[] = {
        {"/d/movie.part1.rar", true, "/d/movie.part2.rar"},
        {"/d/movie.part09.rar", true, "/d/movie.part10.rar"},
        {"/d/movie.part0099.rar", true, "/d/movie.part0100.rar"},
        {"/d/movie.part99.rar", true, "/d/movie.part100.rar"},
        {"/d/2001.part1.rar", true, "/d/2001.part2.rar"},
        {"/d/temp.rar", true, "/d/temp.r00"},
        {"/d/movie.rar", false, "/d/movie.r00"},
        {"/d/movie.r00", false, "/d/movie.r01"},
        {"/d/movie.r99", false, "/d/movie.s00"},
        {"/d/MOVIE.RAR", false, "/d/MOVIE.R00"},
        {"/d/v1/movie", false, "/d/v1/movie.r00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rar::NextVolumeName(c.path, c.newNaming), c.next) << c.path;
    EXPECT_EQ(rar::VolumeName("/o/film", 0, 1), "/o/film.part1.rar");
    EXPECT_EQ(rar::VolumeName("/o/film", 11, 2), "/o/film.part12.rar");
    EXPECT_EQ(rar::VolumeDigits(9), 1);
    EXPECT_EQ(rar::VolumeDigits(10), 2);
    EXPECT_EQ(rar::VolumeDigits(100), 3);
}

} // namespace
