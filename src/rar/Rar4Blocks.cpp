// The blocks of RAR 1.5-4.x volumes: main header, file and service headers, end block, and
// the headers encrypted with the 3.x scheme.

#include "rar/Rar4Format.h"
#include "rar/RarCrypto.h"
#include "rar/RarText.h"
#include "rar/VolumeReader.h"
#include "rar/VolumeReaderInternal.h"

#include <algorithm>
#include <ctime>

namespace rar {

using namespace detail;
using namespace rar4;

namespace {

// The DOS attribute of a directory.
constexpr std::uint32_t kDosDirectory = 0x10;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::optional<std::int64_t> DosToUnixTime(std::uint32_t dos) {
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mday == 0)
        return std::nullopt;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

// RAR 3.x Unicode names: the 8-bit name, a zero, then the UTF-16 name coded against it.
std::u16string DecodeRar4UnicodeName(const std::string& ascii, const std::uint8_t* enc,
                                     std::size_t encSize) {
    std::u16string out;
    if (encSize == 0)
        return out;
    // The decoded name is never longer than the field it came from.
    const std::size_t maxOut = ascii.size() + encSize + 1;
    std::size_t pos = 0;
    const std::uint8_t high = enc[pos++];
    std::uint8_t flags = 0;
    int flagBits = 0;
    while (pos < encSize && out.size() < maxOut) {
        if (flagBits == 0) {
            flags = enc[pos++];
            flagBits = 8;
        }
        switch (flags >> 6) {
        case 0:
            if (pos >= encSize)
                return out;
            out.push_back(enc[pos++]);
            break;
        case 1:
            if (pos >= encSize)
                return out;
            out.push_back(static_cast<char16_t>(enc[pos++] | (high << 8)));
            break;
        case 2:
            if (pos + 1 >= encSize)
                return out;
            out.push_back(static_cast<char16_t>(enc[pos] | (enc[pos + 1] << 8)));
            pos += 2;
            break;
        default: {
            if (pos >= encSize)
                return out;
            std::uint8_t length = enc[pos++];
            if (length & 0x80) {
                if (pos >= encSize)
                    return out;
                std::uint8_t correction = enc[pos++];
                for (int n = (length & 0x7F) + 2; n > 0 && out.size() < maxOut; --n) {
                    std::size_t i = out.size();
                    std::uint8_t base = i < ascii.size() ? static_cast<std::uint8_t>(ascii[i]) : 0;
                    out.push_back(
                        static_cast<char16_t>(((base + correction) & 0xFF) | (high << 8)));
                }
            } else {
                for (int n = length + 2; n > 0 && out.size() < maxOut; --n) {
                    std::size_t i = out.size();
                    out.push_back(i < ascii.size() ? static_cast<std::uint8_t>(ascii[i]) : 0);
                }
            }
            break;
        }
        }
        flags = static_cast<std::uint8_t>(flags << 2);
        flagBits -= 2;
    }
    return out;
}

} // namespace

Status VolumeReader::LoadRar4Header(std::vector<std::uint8_t>& h, std::uint64_t& next) {
    const std::uint64_t pos = position_;
    if (!archive_.headersEncrypted || !archiveRead_) {
        std::uint8_t base[kBaseHeaderSize];
        if (!Fetch(pos, base, sizeof base))
            return Need(pos + sizeof base);
        std::size_t size = Le16(base + kSizeOffset);
        if (size < kBaseHeaderSize)
            return Fail(Status::Damaged, "block header too small");
        h.resize(size);
        if (!Fetch(pos, h.data(), size))
            return Need(pos + size);
        next = pos + size;
        return Status::Ok;
    }
    // Encrypted: an 8-byte salt, then the header padded to 16 bytes.
    if (password_.empty())
        return Fail(Status::PasswordRequired, "the headers are encrypted");
    std::uint8_t head[kSaltSize + kAesBlockSize];
    if (!Fetch(pos, head, sizeof head))
        return Need(pos + sizeof head);
    const Rar4Key& key = keys_->Rar4(password_, head);
    AesCbc aes;
    std::uint8_t first[kAesBlockSize];
    if (!aes.Init(key.key.data(), kRar4KeySize, key.iv.data(), false) ||
        !aes.Process(head + kSaltSize, first, kAesBlockSize))
        return Fail(Status::Damaged, "decryption failed");
    std::size_t size = Le16(first + kSizeOffset);
    // A wrong key gives noise: a block type outside the known range shows it before the
    // (possibly huge) size is trusted.
    if (size < kBaseHeaderSize || first[kTypeOffset] < kMarkerBlock ||
        first[kTypeOffset] > kEndBlock)
        return Fail(Status::BadPassword, "the password is incorrect");
    if (Status s = LoadSealedRest(aes, first, pos + kSaltSize, size, h, next); s != Status::Ok)
        return s;
    if (!HeaderCrcMatches(h, kCrcSize))
        return Fail(Status::BadPassword, "the password is incorrect or the header is damaged");
    return Status::Ok;
}

Status VolumeReader::ReadRar4Main() {
    std::vector<std::uint8_t> h;
    std::uint64_t next = 0;
    Status s = LoadRar4Header(h, next);
    if (s != Status::Ok)
        return s;
    if (h[kTypeOffset] != kMainBlock || h.size() < kMainHeaderSize)
        return Fail(Status::Damaged, "no main archive header");
    if (!HeaderCrcMatches(h, kCrcSize))
        return Fail(Status::Damaged, "main header CRC mismatch");
    const std::uint16_t flags = Le16(h.data() + kFlagsOffset);
    archive_.isVolume = flags & kMainVolume;
    archive_.hasComment = flags & kMainComment;
    archive_.locked = flags & kMainLocked;
    archive_.solid = flags & kMainSolid;
    archive_.newNaming = flags & kMainNewNaming;
    archive_.signedArchive = flags & kMainAuthenticity;
    archive_.hasRecovery = flags & kMainRecovery;
    archive_.headersEncrypted = flags & kMainEncryptedHeaders;
    archive_.firstVolume = flags & kMainFirstVolume;
    // A 2.x comment sits inside the main header, as a comment block after its fixed part.
    std::size_t at = kMainHeaderSize + ((flags & kMainEncryptVersion) ? 1 : 0);
    if (archive_.hasComment && h.size() >= at + kCommentHeaderSize &&
        h[at + kTypeOffset] == kCommentBlock) {
        std::size_t csize = Le16(h.data() + at + kSizeOffset);
        std::uint8_t method = h[at + kCommentMethodOffset];
        if (csize >= kCommentHeaderSize && at + csize <= h.size()) {
            if (method == kMethodStored) {
                std::size_t n = std::min(csize - kCommentHeaderSize, kMaxCommentSize);
                archive_.comment = CleanName(
                    std::string(reinterpret_cast<const char*>(h.data() + at + kCommentHeaderSize),
                                n),
                    false);
                archive_.commentRead = true;
            } else {
                archive_.commentPacked = true;
            }
        }
    }
    position_ = next;
    if (archive_.headersEncrypted && password_.empty())
        return Fail(Status::PasswordRequired, "the headers are encrypted");
    return Status::Ok;
}

Status VolumeReader::ParseRar4File(const std::vector<std::uint8_t>& h, Entry& e) {
    Cursor c(h, kFlagsOffset, h.size());
    const std::uint16_t flags = c.U16();
    c.U16(); // size
    std::uint64_t pack = c.U32();
    std::uint64_t unp = c.U32();
    e.hostOs = c.U8();
    e.crc32 = c.U32();
    e.hasCrc32 = true;
    e.dosTime = c.U32();
    e.unpackVersion = c.U8();
    e.method = c.U8();
    std::size_t nameSize = c.U16();
    e.attributes = c.U32();
    if (flags & kFileLarge) {
        pack |= static_cast<std::uint64_t>(c.U32()) << 32;
        unp |= static_cast<std::uint64_t>(c.U32()) << 32;
    } else if (unp == 0xFFFFFFFFu) {
        e.unpackedSizeUnknown = true;
    }
    std::string raw = c.Text(nameSize);
    if (!c.ok)
        return Fail(Status::Damaged, "file header shorter than its fields");
    e.flags = flags;
    e.packedSize = pack;
    e.unpackedSize = unp;
    e.splitBefore = flags & kFileSplitBefore;
    e.splitAfter = flags & kFileSplitAfter;
    e.encrypted = flags & kFileEncrypted;
    e.solid = flags & kFileSolid;
    e.isDirectory = (flags & kFileDictionaryMask) == kFileDirectory;
    if (e.hostOs <= HostWindows && e.unpackVersion < kVersion20 && (e.attributes & kDosDirectory))
        e.isDirectory = true;
    e.isSymlink = e.hostOs == HostUnix && (e.attributes & kUnixFileType) == kUnixSymlink;
    e.dictionarySize = e.isDirectory
                           ? 0
                           : kMinDictionarySize
                                 << ((flags & kFileDictionaryMask) >> kFileDictionaryShift);
    e.commentSize = 0;

    if (flags & kFileUnicode) {
        std::size_t zero = raw.find('\0');
        if (zero == std::string::npos) {
            e.name = CleanName(raw, true);
        } else {
            std::string ascii = raw.substr(0, zero);
            std::u16string wide = DecodeRar4UnicodeName(
                ascii, reinterpret_cast<const std::uint8_t*>(raw.data()) + zero + 1,
                raw.size() - zero - 1);
            e.name = CleanName(Utf16ToUtf8(wide), true);
        }
    } else {
        e.name = CleanName(Legacy8BitToUtf8(CleanName(raw, false), e.hostOs <= HostOs2), true);
    }

    if (flags & kFileSalt) {
        EncryptionParams p;
        p.format = Format::Rar4;
        p.saltSize = kSaltSize;
        if (!c.Bytes(p.salt.data(), kSaltSize))
            return Fail(Status::Damaged, "file header shorter than its salt");
        if (e.encrypted && e.unpackVersion >= kVersion29)
            e.encryption = p;
    } else if (e.encrypted && e.unpackVersion >= kVersion29) {
        EncryptionParams p;
        p.format = Format::Rar4;
        p.saltSize = 0;
        e.encryption = p;
    }
    if (std::optional<std::int64_t> base = DosToUnixTime(e.dosTime))
        e.mtimeNs = *base * 1000000000;
    if (flags & kFileExtTime) {
        // Extended times: modification, creation, access, archiving time, 4 bits of flags
        // each. The modification time refines the DOS time with a rounding second and up to
        // three bytes of 100 ns units; the others are skipped.
        std::uint16_t tflags = c.U16();
        for (int i = 0; i < 4 && c.ok; ++i) {
            unsigned mode = (tflags >> ((3 - i) * 4)) & 0xF;
            if ((mode & 8) == 0)
                continue;
            if (i != 0)
                c.U32();
            const unsigned count = mode & 3;
            std::uint32_t units = 0;
            for (unsigned j = 0; j < count; ++j)
                units |= static_cast<std::uint32_t>(c.U8()) << ((j + 3 - count) * 8);
            if (i == 0 && c.ok) {
                std::optional<std::int64_t> base = DosToUnixTime(e.dosTime);
                if (base)
                    e.mtimeNs = (*base + ((mode & 4) ? 1 : 0)) * 1000000000 +
                                static_cast<std::int64_t>(units) * 100;
            }
        }
    }
    return Status::Ok;
}

Status VolumeReader::ReadRar4Block(Entry& entry) {
    std::vector<std::uint8_t> h;
    std::uint64_t next = 0;
    for (;;) {
        const std::uint64_t pos = position_;
        Status s = LoadRar4Header(h, next);
        if (s != Status::Ok)
            return s;
        const std::uint8_t type = h[kTypeOffset];
        const std::uint16_t flags = Le16(h.data() + kFlagsOffset);
        std::uint64_t add = 0;
        if ((type == kFileBlock || type == kNewSubBlock || type == kEndBlock ||
             type == kMainBlock) &&
            !HeaderCrcMatches(h, kCrcSize))
            return Fail(archive_.headersEncrypted ? Status::BadPassword : Status::Damaged,
                        "header CRC mismatch");
        if (type == kFileBlock || type == kNewSubBlock) {
            if (h.size() < kFileHeaderMinSize)
                return Fail(Status::Damaged, "file header too small");
            Entry e;
            s = ParseRar4File(h, e);
            if (s != Status::Ok)
                return s;
            e.kind = type == kFileBlock ? EntryKind::File : EntryKind::Service;
            e.headerOffset = pos;
            e.dataOffset = next;
            if (e.packedSize > static_cast<std::uint64_t>(INT64_MAX) - next)
                return Fail(Status::Damaged, "packed size out of range");
            position_ = next + e.packedSize;
            entry = std::move(e);
            return Status::Ok;
        }
        if (type == kEndBlock) {
            endSeen_ = true;
            nextVolume_ = flags & kEndNextVolume;
            position_ = next;
            return Status::EndOfArchive;
        }
        if (type == kMainBlock)
            return Fail(Status::Damaged, "a second main header");
        // Other blocks (old comments, authenticity, recovery, sub-blocks): skipped, with the
        // data that a long block announces.
        if (flags & kLongBlock) {
            if (h.size() < kBaseHeaderSize + kDataSizeSize)
                return Fail(Status::Damaged, "block too small for its data size");
            Cursor d(h, kBaseHeaderSize, h.size());
            add = d.U32();
        }
        position_ = next + add;
    }
}

} // namespace rar
