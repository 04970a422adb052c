#include "rar/ArchiveWriter.h"

#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/RarTestUtil.h"
#include "rar/VolumeReader.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <random>

namespace {

rartest::Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    rartest::Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(gen());
    return out;
}

struct Unpacked {
    std::string name;
    rartest::Bytes data;
    bool encrypted = false;
};

// Reads a whole set back with the reader: follows the pieces of each entry over the volumes,
// checks every piece's checksum and the whole file's, decrypts, and returns the files.
std::vector<Unpacked> ReadSet(const std::vector<std::string>& volumes, const std::string& password,
                              bool expectVolumes) {
    std::vector<Unpacked> out;
    rartest::Bytes stream;
    std::optional<rar::Entry> open;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        SCOPED_TRACE(volumes[v]);
        const rartest::Bytes bytes = rartest::ReadFile(volumes[v]);
        rar::MemorySource src(bytes.data(), bytes.size());
        rar::VolumeReader reader(src);
        reader.SetPassword(password);
        EXPECT_EQ(reader.ReadArchiveHeader(), rar::Status::Ok);
        EXPECT_EQ(reader.Archive().isVolume, expectVolumes);
        EXPECT_EQ(reader.Archive().firstVolume, expectVolumes && v == 0);
        rar::Entry e;
        rar::Status s;
        while ((s = reader.ReadNext(e)) == rar::Status::Ok) {
            EXPECT_EQ(e.splitBefore, open.has_value());
            rartest::Bytes piece(bytes.begin() + static_cast<std::ptrdiff_t>(e.dataOffset),
                                 bytes.begin() +
                                     static_cast<std::ptrdiff_t>(e.dataOffset + e.packedSize));
            rar::DataKeys keys;
            if (e.encrypted) {
                EXPECT_TRUE(e.encryption.has_value());
                keys = rar::DeriveKeys(password, *e.encryption);
                EXPECT_TRUE(keys.passwordOk);
            }
            auto tweak = [&](std::uint32_t crc) {
                return e.encryption && e.encryption->tweakedChecksums
                           ? rar::Rar5MacCrc32(keys.hashKey, crc)
                           : crc;
            };
            auto tweakB = [&](std::array<std::uint8_t, 32> d) {
                return e.encryption && e.encryption->tweakedChecksums
                           ? rar::Rar5MacBlake2(keys.hashKey, d)
                           : d;
            };
            if (e.splitAfter) {
                // A piece that continues carries the checksum of its own stored bytes.
                if (e.hasBlake2) {
                    rar::Blake2sp b;
                    b.Update(piece.data(), piece.size());
                    EXPECT_EQ(tweakB(b.Final()), e.blake2);
                } else {
                    EXPECT_EQ(tweak(rar::Crc32(0, piece.data(), piece.size())), e.crc32);
                }
            }
            stream.insert(stream.end(), piece.begin(), piece.end());
            open = e;
            if (e.splitAfter)
                continue;
            Unpacked u;
            u.name = e.name;
            u.encrypted = e.encrypted;
            u.data = stream;
            if (e.encrypted) {
                rar::AesCbc aes;
                EXPECT_TRUE(aes.Init(keys.key.data(), keys.keySize, keys.iv.data(), false));
                EXPECT_EQ(u.data.size() % 16, 0u);
                aes.Process(u.data.data(), u.data.data(), u.data.size());
            }
            EXPECT_GE(u.data.size(), e.unpackedSize);
            u.data.resize(e.unpackedSize);
            if (e.hasBlake2) {
                rar::Blake2sp b;
                b.Update(u.data.data(), u.data.size());
                EXPECT_EQ(tweakB(b.Final()), e.blake2);
            } else {
                EXPECT_TRUE(e.hasCrc32);
                EXPECT_EQ(tweak(rar::Crc32(0, u.data.data(), u.data.size())), e.crc32);
            }
            out.push_back(u);
            stream.clear();
            open.reset();
        }
        EXPECT_EQ(s, rar::Status::EndOfArchive);
        EXPECT_EQ(reader.NextVolumeExpected(), v + 1 < volumes.size());
    }
    EXPECT_FALSE(open.has_value()) << "an entry was left open at the end of the set";
    return out;
}

class ArchiveWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testenv::MakeTempDir("pack").toStdString();
        video_ = RandomBytes(300000, 1);
        small_ = {'h', 'i', '\n'};
        ASSERT_TRUE(rartest::WriteFile(dir_ + "/video.avi", video_));
        ASSERT_TRUE(rartest::WriteFile(dir_ + "/notes.txt", small_));
    }
    std::vector<rar::PackInput> Inputs() const {
        return {{dir_ + "/video.avi", "video.avi"}, {dir_ + "/notes.txt", "Ünïcode notes.txt"}};
    }
    std::string dir_;
    rartest::Bytes video_, small_;
};

TEST_F(ArchiveWriterTest, RoundTripsThroughTheReader) {
    struct Case {
        rar::Format format;
        std::uint64_t volumeSize;
        const char* password;
        bool encryptHeaders;
        bool blake2;
    } cases[] = {
        {rar::Format::Rar5, 100ull << 20, "", false, false},
        {rar::Format::Rar5, 64 * 1024, "", false, false},
        {rar::Format::Rar5, 64 * 1024, "", false, true},
        {rar::Format::Rar5, 64 * 1024, "geheim", false, false},
        {rar::Format::Rar5, 64 * 1024, "geheim", true, true},
        {rar::Format::Rar4, 100ull << 20, "", false, false},
        {rar::Format::Rar4, 50000, "", false, false},
        {rar::Format::Rar4, 50000, "geheim", false, false},
        {rar::Format::Rar4, 50000, "geheim", true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n);
        const std::string out = dir_ + "/out" + std::to_string(n++);
        QDir().mkpath(QString::fromStdString(out));
        rar::PackOptions o;
        o.format = c.format;
        o.volumeSize = c.volumeSize;
        o.password = c.password;
        o.encryptHeaders = c.encryptHeaders;
        o.blake2 = c.blake2;
        o.kdfCount = 10; // keeps the test quick; the tool uses the archiver's 15
        const auto volumes = rar::PackArchive(Inputs(), out, "video", o);
        const bool multi = c.volumeSize < video_.size();
        if (multi) {
            EXPECT_GE(volumes.size(), 5u);
        } else {
            EXPECT_EQ(volumes.size(), 1u);
        }
        EXPECT_EQ(volumes[0],
                  out + (volumes.size() < 10 ? "/video.part1.rar" : "/video.part01.rar"));
        for (const std::string& v : volumes)
            EXPECT_LE(static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(v)).size()),
                      c.volumeSize);
        const auto files = ReadSet(volumes, c.password, multi);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].name, "video.avi");
        EXPECT_EQ(files[0].data, video_);
        EXPECT_EQ(files[0].encrypted, *c.password != '\0');
        EXPECT_EQ(files[1].name, "Ünïcode notes.txt");
        EXPECT_EQ(files[1].data, small_);
    }
}

TEST_F(ArchiveWriterTest, EncryptedHeadersRefuseMissingAndWrongPasswords) {
    for (rar::Format format : {rar::Format::Rar4, rar::Format::Rar5}) {
        const std::string out = dir_ + (format == rar::Format::Rar4 ? "/h4" : "/h5");
        QDir().mkpath(QString::fromStdString(out));
        rar::PackOptions o;
        o.format = format;
        o.password = "right";
        o.encryptHeaders = true;
        o.kdfCount = 10;
        const auto volumes = rar::PackArchive(Inputs(), out, "video", o);
        ASSERT_EQ(volumes.size(), 1u);
        rar::FileSource src;
        ASSERT_TRUE(src.Open(volumes[0]));
        rar::VolumeReader reader(src);
        EXPECT_EQ(reader.ReadArchiveHeader(), rar::Status::PasswordRequired);
        reader.SetPassword("wrong");
        EXPECT_EQ(reader.ReadArchiveHeader(), rar::Status::BadPassword);
        reader.SetPassword("right");
        EXPECT_EQ(reader.ReadArchiveHeader(), rar::Status::Ok);
        // Nothing of the names shows in the file.
        const auto bytes = rartest::ReadFile(volumes[0]);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.find("video.avi"), std::string::npos);
    }
}

TEST_F(ArchiveWriterTest, ManyVolumesGetWiderNumbers) {
    const std::string out = dir_ + "/many";
    QDir().mkpath(QString::fromStdString(out));
    rar::PackOptions o;
    o.volumeSize = 20000;
    const auto volumes = rar::PackArchive({{dir_ + "/video.avi", "video.avi"}}, out, "film", o);
    ASSERT_GE(volumes.size(), 10u);
    EXPECT_EQ(volumes.front(), out + "/film.part01.rar");
    EXPECT_EQ(volumes.back(), out + "/film.part" + std::to_string(volumes.size()) + ".rar");
}

TEST_F(ArchiveWriterTest, EmptyFilesAndErrors) {
    ASSERT_TRUE(rartest::WriteFile(dir_ + "/empty.bin", {}));
    const std::string out = dir_ + "/empty";
    QDir().mkpath(QString::fromStdString(out));
    for (const char* pw : {"", "pw"}) {
        rar::PackOptions o;
        o.password = pw;
        o.kdfCount = 10;
        const auto volumes = rar::PackArchive({{dir_ + "/empty.bin", "empty.bin"}}, out, "e", o);
        const auto files = ReadSet(volumes, pw, false);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files[0].data.empty());
    }
    rar::PackOptions tiny;
    tiny.volumeSize = 100;
    EXPECT_THROW(rar::PackArchive(Inputs(), out, "t", tiny), rar::PackError);
    EXPECT_THROW(rar::PackArchive({{dir_ + "/missing", "m"}}, out, "t", {}), rar::PackError);
    EXPECT_THROW(rar::PackArchive(Inputs(), dir_ + "/no/such/dir", "t", {}), rar::PackError);
    EXPECT_THROW(rar::PackArchive(Inputs(), out, "../escape", {}), rar::PackError);
}

TEST(ParseVolumeSize, SuffixesAndRubbish) {
    struct Case {
        const char* text;
        std::uint64_t value;
    } cases[] = {{"100M", 100ull << 20},
                 {"64k", 64 << 10},
                 {"2G", 2ull << 30},
                 {"12345", 12345},
                 {"", 0},
                 {"M", 0},
                 {"10MB", 0},
                 {"-5", 0},
                 {"99999999999999999999", 0},
                 {"17179869184G", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(rar::ParseVolumeSize(c.text), c.value) << c.text;
}

} // namespace
