#include "rar/VolumeReader.h"

#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/RarText.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace rar {

namespace {

const std::uint8_t kRar4Marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const std::uint8_t kRar5Marker[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
// The marker search reads the stub in pieces of this size.
constexpr std::size_t kSearchChunk = 64 * 1024;
// Key derivations kept per volume (RAR 4 derives one per header salt).
constexpr std::size_t kKeyCacheSize = 4;

// RAR 4 block types and flags.
constexpr std::uint8_t kR4Main = 0x73, kR4File = 0x74, kR4NewSub = 0x7A, kR4End = 0x7B;
constexpr std::uint16_t kR4LongBlock = 0x8000;
constexpr std::size_t kR4BaseSize = 7, kR4MainSize = 13, kR4FileMinSize = 32;

// RAR 5.0 header types and flags.
constexpr std::uint64_t kR5Main = 1, kR5File = 2, kR5Service = 3, kR5Crypt = 4, kR5End = 5;
constexpr std::uint64_t kR5HasExtra = 0x01, kR5HasData = 0x02, kR5SplitBefore = 0x08,
                        kR5SplitAfter = 0x10;
// 10 bytes hold any 64-bit vint.
constexpr std::size_t kMaxVintSize = 10;
// Windows FILETIME of the Unix epoch, in 100 ns units.
constexpr std::uint64_t kFileTimeEpoch = 116444736000000000ull;

std::uint64_t RoundUp16(std::uint64_t n) {
    return (n + 15) & ~std::uint64_t{15};
}

// Bounded little-endian reads over one header. A read past the end sets `ok` false and
// yields 0, so a parser can read a group of fields and check once.
class Cursor {
public:
    Cursor(const std::vector<std::uint8_t>& data, std::size_t pos, std::size_t end)
        : data_(data.data()), end_(std::min(end, data.size())), pos_(pos) {}
    bool ok = true;
    std::size_t Pos() const { return pos_; }
    std::size_t Left() const { return pos_ <= end_ ? end_ - pos_ : 0; }
    std::uint64_t Le(std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::uint64_t U64() { return Le(8); }
    std::uint64_t VInt() {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < kMaxVintSize; ++i) {
            if (!ok || Left() < 1) {
                ok = false;
                return 0;
            }
            std::uint8_t b = data_[pos_++];
            v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
            if ((b & 0x80) == 0)
                return v;
        }
        ok = false;
        return 0;
    }
    bool Bytes(void* out, std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return false;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    std::string Text(std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    bool Skip(std::uint64_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return false;
        }
        pos_ += static_cast<std::size_t>(n);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t end_;
    std::size_t pos_;
};

std::uint32_t UnixToDosTime(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year < 80 || tm.tm_year > 207)
        return 0;
    auto u = [](int v) {
        return static_cast<std::uint32_t>(v);
    };
    return u(tm.tm_year - 80) << 25 | u(tm.tm_mon + 1) << 21 | u(tm.tm_mday) << 16 |
           u(tm.tm_hour) << 11 | u(tm.tm_min) << 5 | u(tm.tm_sec / 2);
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

std::string CleanName(std::string name, bool backslashes) {
    // Names end at an embedded zero.
    std::size_t zero = name.find('\0');
    if (zero != std::string::npos)
        name.resize(zero);
    if (backslashes)
        std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::uint32_t DictBitsFlags(const Entry& e) {
    if (e.isDirectory)
        return 0xE0;
    std::uint32_t bits = 0;
    while (bits < 6 && (std::uint64_t{65536} << bits) < e.dictionarySize)
        ++bits;
    return bits << 5;
}

} // namespace

const char* StatusText(Status status) {
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::NeedMore:
        return "the archive ends early";
    case Status::EndOfArchive:
        return "end of archive";
    case Status::NotRar:
        return "not a RAR archive";
    case Status::Damaged:
        return "the archive is damaged";
    case Status::PasswordRequired:
        return "a password is required";
    case Status::BadPassword:
        return "the password is incorrect";
    case Status::Unsupported:
        return "unsupported archive format";
    }
    return "unknown";
}

std::uint32_t ArchiveInfo::DllFlags() const {
    std::uint32_t f = 0;
    if (isVolume)
        f |= 0x01;
    if (hasComment)
        f |= 0x02;
    if (locked)
        f |= 0x04;
    if (solid)
        f |= 0x08;
    if (newNaming)
        f |= 0x10;
    if (signedArchive)
        f |= 0x20;
    if (hasRecovery)
        f |= 0x40;
    if (headersEncrypted)
        f |= 0x80;
    if (firstVolume)
        f |= 0x100;
    return f;
}

struct VolumeReader::KeyCache {
    struct Item {
        std::array<std::uint8_t, 16> salt;
        Rar4Key key;
    };
    std::vector<Item> items;
    bool haveRar5 = false;
    Rar5Keys rar5;
    const Rar4Key& Rar4(const std::string& password, const std::uint8_t* salt) {
        for (const Item& i : items)
            if (std::memcmp(i.salt.data(), salt, 8) == 0)
                return i.key;
        if (items.size() >= kKeyCacheSize)
            items.erase(items.begin());
        Item item{};
        std::memcpy(item.salt.data(), salt, 8);
        item.key = DeriveRar4Key(password, salt);
        items.push_back(item);
        return items.back().key;
    }
};

VolumeReader::VolumeReader(ByteSource& source) : source_(source), keys_(new KeyCache) {}
VolumeReader::~VolumeReader() {
    delete keys_;
}

void VolumeReader::SetPassword(const std::string& password) {
    if (password != password_) {
        keys_->items.clear();
        keys_->haveRar5 = false;
    }
    password_ = password;
}

Status VolumeReader::Need(std::uint64_t end) {
    needed_ = end;
    return Status::NeedMore;
}

Status VolumeReader::Fail(Status status, const std::string& text) {
    failed_ = true;
    failStatus_ = status;
    error_ = text;
    return status;
}

bool VolumeReader::Fetch(std::uint64_t offset, void* buffer, std::size_t length) {
    return source_.ReadAt(offset, buffer, length) == length;
}

Status VolumeReader::FindMarker() {
    std::uint64_t size = source_.Size();
    std::vector<std::uint8_t> buf;
    std::uint64_t offset = 0;
    const std::uint64_t limit = std::min<std::uint64_t>(size, kMaxSfxSize + sizeof kRar5Marker);
    while (offset < limit) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kSearchChunk + 8, limit - offset));
        buf.resize(n);
        if (!Fetch(offset, buf.data(), n))
            return Need(offset + n);
        for (std::size_t i = 0; i + 7 <= n; ++i) {
            if (buf[i] != 0x52 || std::memcmp(&buf[i], kRar4Marker, 6) != 0)
                continue;
            if (i + 8 <= n && std::memcmp(&buf[i], kRar5Marker, 8) == 0) {
                archive_.format = Format::Rar5;
                archive_.markerOffset = offset + i;
                position_ = offset + i + 8;
                return Status::Ok;
            }
            if (buf[i + 6] == 0x00) {
                archive_.format = Format::Rar4;
                archive_.markerOffset = offset + i;
                position_ = offset + i + 7;
                return Status::Ok;
            }
            if (buf[i + 6] == 0x01 && i + 8 > n)
                break; // the RAR 5.0 marker may be cut at the chunk end: read on from here
        }
        if (n < 8)
            break;
        offset += n - 7;
    }
    if (size < kMaxSfxSize + sizeof kRar5Marker)
        return Need(size + 1);
    return Fail(Status::NotRar, "no RAR marker found");
}

Status VolumeReader::ReadArchiveHeader() {
    archive_ = ArchiveInfo{};
    archiveRead_ = false;
    failed_ = false;
    error_.clear();
    nextVolume_ = endSeen_ = cleanEnd_ = false;
    Status s = FindMarker();
    if (s != Status::Ok)
        return s;
    // After a stub, the marker may be a chance match: the main header must follow.
    s = archive_.format == Format::Rar4 ? ReadRar4Main() : ReadRar5Main();
    if (s != Status::Ok)
        return s;
    archiveRead_ = true;

    // Look at the block after the main header: a stored archive comment is read from it, and
    // encrypted headers show here whether the password fits. The position stays where it is.
    const std::uint64_t start = position_;
    Entry first;
    Status peek = ReadNext(first);
    const bool atCleanEnd = cleanEnd_;
    const bool nextVolume = nextVolume_, endSeen = endSeen_;
    position_ = start;
    nextVolume_ = endSeen_ = cleanEnd_ = false;
    if (peek == Status::NeedMore && !atCleanEnd)
        return Status::NeedMore;
    if (peek == Status::BadPassword || peek == Status::PasswordRequired) {
        archiveRead_ = false;
        return peek;
    }
    if (peek == Status::Damaged || peek == Status::Unsupported) {
        // Reported again by ReadNext; the archive header itself was fine.
        failed_ = false;
        error_.clear();
        return Status::Ok;
    }
    (void)nextVolume;
    (void)endSeen;
    if (peek == Status::Ok && first.kind == EntryKind::Service && first.name == "CMT") {
        archive_.hasComment = true;
        if (!first.IsStored() || first.encrypted) {
            archive_.commentPacked = true;
        } else {
            std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(first.packedSize, kMaxCommentSize));
            if (source_.Size() < first.dataOffset + n)
                return Need(first.dataOffset + n);
            std::string text(n, '\0');
            if (!Fetch(first.dataOffset, text.data(), n))
                return Need(first.dataOffset + n);
            archive_.comment = CleanName(text, false);
            archive_.commentRead = true;
        }
    }
    return Status::Ok;
}

// ---- RAR 1.5-4.x ----------------------------------------------------------------------

Status VolumeReader::LoadRar4Header(std::vector<std::uint8_t>& h, std::uint64_t& next) {
    const std::uint64_t pos = position_;
    if (!archive_.headersEncrypted || !archiveRead_) {
        std::uint8_t base[kR4BaseSize];
        if (!Fetch(pos, base, sizeof base))
            return Need(pos + sizeof base);
        std::size_t size = base[5] | (base[6] << 8);
        if (size < kR4BaseSize)
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
    std::uint8_t head[8 + 16];
    if (!Fetch(pos, head, sizeof head))
        return Need(pos + sizeof head);
    const Rar4Key& key = keys_->Rar4(password_, head);
    AesCbc aes;
    std::uint8_t first[16];
    if (!aes.Init(key.key.data(), 16, key.iv.data(), false) || !aes.Process(head + 8, first, 16))
        return Fail(Status::Damaged, "decryption failed");
    std::size_t size = first[5] | (first[6] << 8);
    // A wrong key gives noise: a block type outside the known range shows it before the
    // (possibly huge) size is trusted.
    if (size < kR4BaseSize || first[2] < 0x72 || first[2] > kR4End)
        return Fail(Status::BadPassword, "the password is incorrect");
    const std::size_t padded = static_cast<std::size_t>(RoundUp16(size));
    h.resize(padded);
    std::memcpy(h.data(), first, 16);
    if (padded > 16) {
        if (!Fetch(pos + 24, h.data() + 16, padded - 16))
            return Need(pos + 8 + padded);
        if (!aes.Process(h.data() + 16, h.data() + 16, padded - 16))
            return Fail(Status::Damaged, "decryption failed");
    }
    h.resize(size);
    std::uint16_t crc = static_cast<std::uint16_t>(Crc32(0, h.data() + 2, size - 2) & 0xFFFF);
    if (crc != (h[0] | (h[1] << 8)))
        return Fail(Status::BadPassword, "the password is incorrect or the header is damaged");
    next = pos + 8 + padded;
    return Status::Ok;
}

Status VolumeReader::ReadRar4Main() {
    std::vector<std::uint8_t> h;
    std::uint64_t next = 0;
    Status s = LoadRar4Header(h, next);
    if (s != Status::Ok)
        return s;
    if (h[2] != kR4Main || h.size() < kR4MainSize)
        return Fail(Status::Damaged, "no main archive header");
    std::uint16_t crc = static_cast<std::uint16_t>(Crc32(0, h.data() + 2, h.size() - 2) & 0xFFFF);
    if (crc != (h[0] | (h[1] << 8)))
        return Fail(Status::Damaged, "main header CRC mismatch");
    const std::uint16_t flags = static_cast<std::uint16_t>(h[3] | (h[4] << 8));
    archive_.isVolume = flags & 0x0001;
    archive_.hasComment = flags & 0x0002;
    archive_.locked = flags & 0x0004;
    archive_.solid = flags & 0x0008;
    archive_.newNaming = flags & 0x0010;
    archive_.signedArchive = flags & 0x0020;
    archive_.hasRecovery = flags & 0x0040;
    archive_.headersEncrypted = flags & 0x0080;
    archive_.firstVolume = flags & 0x0100;
    // A 2.x comment sits inside the main header, as a comment block after its fixed part.
    std::size_t at = kR4MainSize + ((flags & 0x0200) ? 1 : 0);
    if (archive_.hasComment && h.size() >= at + 13 && h[at + 2] == 0x75) {
        std::size_t csize = h[at + 5] | (h[at + 6] << 8);
        std::uint8_t method = h[at + 10];
        if (csize >= 13 && at + csize <= h.size()) {
            if (method == 0x30) {
                std::size_t n = std::min(csize - 13, kMaxCommentSize);
                archive_.comment = CleanName(
                    std::string(reinterpret_cast<const char*>(h.data() + at + 13), n), false);
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
    Cursor c(h, 3, h.size());
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
    if (flags & 0x0100) {
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
    e.splitBefore = flags & 0x01;
    e.splitAfter = flags & 0x02;
    e.encrypted = flags & 0x04;
    e.solid = flags & 0x10;
    e.isDirectory = (flags & 0xE0) == 0xE0;
    if (e.hostOs <= HostWindows && e.unpackVersion < 20 && (e.attributes & 0x10))
        e.isDirectory = true;
    e.isSymlink = e.hostOs == HostUnix && (e.attributes & 0xF000) == 0xA000;
    e.dictionarySize = e.isDirectory ? 0 : std::uint64_t{65536} << ((flags >> 5) & 7);
    e.commentSize = 0;

    if (flags & 0x0200) {
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

    if (flags & 0x0400) {
        EncryptionParams p;
        p.format = Format::Rar4;
        p.saltSize = 8;
        if (!c.Bytes(p.salt.data(), 8))
            return Fail(Status::Damaged, "file header shorter than its salt");
        if (e.encrypted && e.unpackVersion >= 29)
            e.encryption = p;
    } else if (e.encrypted && e.unpackVersion >= 29) {
        EncryptionParams p;
        p.format = Format::Rar4;
        p.saltSize = 0;
        e.encryption = p;
    }
    if (std::optional<std::int64_t> base = DosToUnixTime(e.dosTime))
        e.mtimeNs = *base * 1000000000;
    if (flags & 0x1000) {
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
        const std::uint8_t type = h[2];
        const std::uint16_t flags = static_cast<std::uint16_t>(h[3] | (h[4] << 8));
        std::uint64_t add = 0;
        if (type == kR4File || type == kR4NewSub || type == kR4End || type == kR4Main) {
            std::uint16_t crc =
                static_cast<std::uint16_t>(Crc32(0, h.data() + 2, h.size() - 2) & 0xFFFF);
            if (crc != (h[0] | (h[1] << 8)))
                return Fail(archive_.headersEncrypted ? Status::BadPassword : Status::Damaged,
                            "header CRC mismatch");
        }
        if (type == kR4File || type == kR4NewSub) {
            if (h.size() < kR4FileMinSize)
                return Fail(Status::Damaged, "file header too small");
            Entry e;
            s = ParseRar4File(h, e);
            if (s != Status::Ok)
                return s;
            e.kind = type == kR4File ? EntryKind::File : EntryKind::Service;
            e.headerOffset = pos;
            e.dataOffset = next;
            if (e.packedSize > static_cast<std::uint64_t>(INT64_MAX) - next)
                return Fail(Status::Damaged, "packed size out of range");
            position_ = next + e.packedSize;
            entry = std::move(e);
            return Status::Ok;
        }
        if (type == kR4End) {
            endSeen_ = true;
            nextVolume_ = flags & 0x0001;
            position_ = next;
            return Status::EndOfArchive;
        }
        if (type == kR4Main)
            return Fail(Status::Damaged, "a second main header");
        // Other blocks (old comments, authenticity, recovery, sub-blocks): skipped, with the
        // data that a long block announces.
        if (flags & kR4LongBlock) {
            if (h.size() < kR4BaseSize + 4)
                return Fail(Status::Damaged, "block too small for its data size");
            add = h[7] | (h[8] << 8) | (h[9] << 16) | (static_cast<std::uint64_t>(h[10]) << 24);
        }
        position_ = next + add;
    }
}

// ---- RAR 5.0 --------------------------------------------------------------------------

Status VolumeReader::LoadRar5Header(std::vector<std::uint8_t>& h, std::uint64_t& next) {
    const std::uint64_t pos = position_;
    const bool encrypted = archive_.headersEncrypted && archive_.headerEncryption.has_value();
    if (!encrypted) {
        std::uint8_t head[4 + kMaxVintSize];
        std::size_t got = source_.ReadAt(pos, head, sizeof head);
        std::vector<std::uint8_t> tmp(head, head + got);
        Cursor c(tmp, 4, got);
        std::uint64_t size = c.VInt();
        if (!c.ok)
            return got >= sizeof head ? Fail(Status::Damaged, "bad header size field")
                                      : Need(pos + got + 1);
        if (size == 0 || size > kMaxHeaderSize)
            return Fail(Status::Damaged, "header size out of range");
        const std::size_t total = c.Pos() + static_cast<std::size_t>(size);
        // Nothing is allocated for bytes the source does not hold.
        if (source_.Size() < pos + total)
            return Need(pos + total);
        h.resize(total);
        if (!Fetch(pos, h.data(), total))
            return Need(pos + total);
        std::uint32_t crc =
            h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<std::uint32_t>(h[3]) << 24);
        if (Crc32(0, h.data() + 4, total - 4) != crc)
            return Fail(Status::Damaged, "header CRC mismatch");
        next = pos + total;
        return Status::Ok;
    }
    // Encrypted: a 16-byte IV, then the header padded to 16 bytes.
    std::uint8_t head[32];
    if (!Fetch(pos, head, sizeof head))
        return Need(pos + sizeof head);
    AesCbc aes;
    std::uint8_t first[16];
    if (!aes.Init(keys_->rar5.key.data(), 32, head, false) || !aes.Process(head + 16, first, 16))
        return Fail(Status::Damaged, "decryption failed");
    std::vector<std::uint8_t> tmp(first, first + 16);
    Cursor c(tmp, 4, 16);
    std::uint64_t size = c.VInt();
    const Status wrong =
        archive_.headerEncryption->hasPasswordCheck ? Status::Damaged : Status::BadPassword;
    if (!c.ok || size == 0 || size > kMaxHeaderSize)
        return Fail(wrong, "header size out of range");
    const std::size_t total = c.Pos() + static_cast<std::size_t>(size);
    const std::size_t padded = static_cast<std::size_t>(RoundUp16(total));
    if (source_.Size() < pos + 16 + padded)
        return Need(pos + 16 + padded);
    h.resize(padded);
    std::memcpy(h.data(), first, 16);
    if (padded > 16) {
        if (!Fetch(pos + 32, h.data() + 16, padded - 16))
            return Need(pos + 16 + padded);
        if (!aes.Process(h.data() + 16, h.data() + 16, padded - 16))
            return Fail(Status::Damaged, "decryption failed");
    }
    h.resize(total);
    std::uint32_t crc =
        h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<std::uint32_t>(h[3]) << 24);
    if (Crc32(0, h.data() + 4, total - 4) != crc)
        return Fail(wrong, "header CRC mismatch");
    next = pos + 16 + padded;
    return Status::Ok;
}

Status VolumeReader::ReadRar5Main() {
    for (int step = 0; step < 2; ++step) {
        std::vector<std::uint8_t> h;
        std::uint64_t next = 0;
        Status s = LoadRar5Header(h, next);
        if (s != Status::Ok)
            return s;
        Cursor c(h, 4, h.size());
        c.VInt(); // size
        std::uint64_t type = c.VInt();
        std::uint64_t hflags = c.VInt();
        std::uint64_t extra = (hflags & kR5HasExtra) ? c.VInt() : 0;
        std::uint64_t data = (hflags & kR5HasData) ? c.VInt() : 0;
        if (!c.ok || extra > c.Left())
            return Fail(Status::Damaged, "main header fields out of range");
        if (type == kR5Crypt && step == 0) {
            std::uint64_t version = c.VInt();
            std::uint64_t cflags = c.VInt();
            EncryptionParams p;
            p.format = Format::Rar5;
            p.kdfCount = c.U8();
            p.saltSize = 16;
            c.Bytes(p.salt.data(), 16);
            std::array<std::uint8_t, 4> sum{};
            if (cflags & 0x0001) {
                p.hasPasswordCheck = true;
                c.Bytes(p.passwordCheck.data(), 8);
                c.Bytes(sum.data(), 4);
            }
            if (!c.ok)
                return Fail(Status::Damaged, "encryption header too small");
            if (version != 0 || p.kdfCount > kMaxRar5KdfCount)
                return Fail(Status::Unsupported, "unknown header encryption");
            if (p.hasPasswordCheck && Rar5PasswordCheckSum(p.passwordCheck) != sum)
                p.hasPasswordCheck = false; // a damaged check value is not used
            archive_.headersEncrypted = true;
            archive_.headerEncryption = p;
            position_ = next;
            if (password_.empty())
                return Fail(Status::PasswordRequired, "the headers are encrypted");
            if (!keys_->haveRar5) {
                keys_->rar5 = DeriveRar5Keys(password_, p.salt.data(), p.kdfCount);
                keys_->haveRar5 = true;
            }
            if (p.hasPasswordCheck && keys_->rar5.passwordCheck != p.passwordCheck) {
                keys_->haveRar5 = false;
                return Fail(Status::BadPassword, "the password is incorrect");
            }
            continue;
        }
        if (type != kR5Main)
            return Fail(Status::Damaged, "no main archive header");
        std::uint64_t aflags = c.VInt();
        archive_.isVolume = aflags & 0x0001;
        if (aflags & 0x0002)
            archive_.volumeNumber = c.VInt();
        if (!c.ok)
            return Fail(Status::Damaged, "main header too small");
        archive_.solid = aflags & 0x0004;
        archive_.hasRecovery = aflags & 0x0008;
        archive_.locked = aflags & 0x0010;
        archive_.newNaming = true;
        archive_.firstVolume = archive_.isVolume && !archive_.volumeNumber.has_value();
        if (data > static_cast<std::uint64_t>(INT64_MAX) - next)
            return Fail(Status::Damaged, "data size out of range");
        position_ = next + data;
        return Status::Ok;
    }
    return Fail(Status::Damaged, "no main archive header");
}

Status VolumeReader::ParseRar5File(const std::vector<std::uint8_t>& h, std::size_t pos,
                                   std::size_t extraSize, Entry& e) {
    const std::size_t extraStart = h.size() - extraSize;
    Cursor c(h, pos, extraStart);
    std::uint64_t fflags = c.VInt();
    e.unpackedSize = c.VInt();
    e.unpackedSizeUnknown = fflags & 0x0008;
    std::uint64_t attr = c.VInt();
    e.attributes = static_cast<std::uint32_t>(attr);
    std::optional<std::int64_t> mtime;
    if (fflags & 0x0002)
        mtime = static_cast<std::int64_t>(c.U32()) * 1000000000;
    if (fflags & 0x0004) {
        e.crc32 = c.U32();
        e.hasCrc32 = true;
    }
    std::uint64_t ci = c.VInt();
    std::uint64_t host = c.VInt();
    std::uint64_t nameSize = c.VInt();
    if (!c.ok)
        return Fail(Status::Damaged, "file header shorter than its fields");
    if (nameSize > kMaxNameSize || nameSize > c.Left())
        return Fail(Status::Damaged, "name size out of range");
    e.name = CleanName(c.Text(static_cast<std::size_t>(nameSize)), false);
    if (!IsValidUtf8(e.name))
        e.name = Utf16ToUtf8(Utf8ToUtf16(e.name));
    e.isDirectory = fflags & 0x0001;
    e.hostOs = host == 0 ? HostWindows : HostUnix;
    const std::uint64_t version = ci & 0x3F;
    e.solid = ci & 0x40;
    e.method = 0x30 + static_cast<std::uint32_t>((ci >> 7) & 7);
    e.unpackVersion = version == 0 ? 50 : 70;
    if (version == 0) {
        e.dictionarySize = std::uint64_t{128 * 1024} << ((ci >> 10) & 0xF);
    } else {
        std::uint64_t base = std::uint64_t{128 * 1024} << ((ci >> 10) & 0x1F);
        e.dictionarySize = base + base / 32 * ((ci >> 15) & 0x1F);
    }
    if (e.isDirectory)
        e.dictionarySize = 0;
    if (host == 1)
        e.isSymlink = (attr & 0xF000) == 0xA000;

    // The extra area: records of size, type, data.
    c = Cursor(h, extraStart, h.size());
    while (c.ok && c.Left() > 0) {
        std::uint64_t rsize = c.VInt();
        if (!c.ok || rsize == 0 || rsize > c.Left())
            return Fail(Status::Damaged, "extra record out of range");
        const std::size_t rend = c.Pos() + static_cast<std::size_t>(rsize);
        Cursor r(h, c.Pos(), rend);
        std::uint64_t rtype = r.VInt();
        if (rtype == 0x01) {
            e.encrypted = true;
            std::uint64_t version = r.VInt();
            std::uint64_t cflags = r.VInt();
            EncryptionParams p;
            p.format = Format::Rar5;
            p.kdfCount = r.U8();
            p.saltSize = 16;
            r.Bytes(p.salt.data(), 16);
            r.Bytes(p.iv.data(), 16);
            p.hasIv = true;
            std::array<std::uint8_t, 4> sum{};
            if (cflags & 0x0001) {
                p.hasPasswordCheck = true;
                r.Bytes(p.passwordCheck.data(), 8);
                r.Bytes(sum.data(), 4);
            }
            p.tweakedChecksums = cflags & 0x0002;
            if (!r.ok)
                return Fail(Status::Damaged, "encryption record too small");
            if (p.hasPasswordCheck && Rar5PasswordCheckSum(p.passwordCheck) != sum)
                p.hasPasswordCheck = false;
            if (version == 0 && p.kdfCount <= kMaxRar5KdfCount)
                e.encryption = p;
        } else if (rtype == 0x02) {
            std::uint64_t htype = r.VInt();
            if (htype == 0 && r.Bytes(e.blake2.data(), 32))
                e.hasBlake2 = true;
        } else if (rtype == 0x03) {
            std::uint64_t tflags = r.VInt();
            const bool unix = tflags & 0x0001;
            std::optional<std::int64_t> t;
            if (tflags & 0x0002) {
                if (unix) {
                    t = static_cast<std::int64_t>(r.U32()) * 1000000000;
                } else {
                    std::uint64_t ft = r.U64();
                    if (r.ok && ft >= kFileTimeEpoch)
                        t = static_cast<std::int64_t>((ft - kFileTimeEpoch) * 100);
                }
            }
            if (unix && (tflags & 0x0010) && (tflags & 0x0002) && t) {
                // Nanoseconds follow all the times present; skip ctime and atime.
                if (tflags & 0x0004)
                    r.U32();
                if (tflags & 0x0008)
                    r.U32();
                std::uint32_t ns = r.U32();
                if (r.ok && ns < 1000000000)
                    *t += ns;
            }
            if (r.ok && t)
                mtime = t;
        } else if (rtype == 0x04) {
            // An older version of a file of the same name: shown as "name;N".
            r.VInt();
            std::uint64_t version = r.VInt();
            if (r.ok && version > 0)
                e.name += ";" + std::to_string(version);
        } else if (rtype == 0x05) {
            std::uint64_t redir = r.VInt();
            if (r.ok && redir >= 1 && redir <= 3)
                e.isSymlink = true;
        }
        c.Skip(rsize);
    }
    e.mtimeNs = mtime;
    if (mtime)
        e.dosTime = UnixToDosTime(*mtime / 1000000000);
    return Status::Ok;
}

Status VolumeReader::ReadRar5Block(Entry& entry) {
    for (;;) {
        std::vector<std::uint8_t> h;
        std::uint64_t next = 0;
        const std::uint64_t pos = position_;
        Status s = LoadRar5Header(h, next);
        if (s != Status::Ok)
            return s;
        Cursor c(h, 4, h.size());
        c.VInt(); // size
        std::uint64_t type = c.VInt();
        std::uint64_t hflags = c.VInt();
        std::uint64_t extra = (hflags & kR5HasExtra) ? c.VInt() : 0;
        std::uint64_t data = (hflags & kR5HasData) ? c.VInt() : 0;
        if (!c.ok || extra > c.Left())
            return Fail(Status::Damaged, "header fields out of range");
        if (data > static_cast<std::uint64_t>(INT64_MAX) - next)
            return Fail(Status::Damaged, "data size out of range");
        if (type == kR5File || type == kR5Service) {
            Entry e;
            s = ParseRar5File(h, c.Pos(), static_cast<std::size_t>(extra), e);
            if (s != Status::Ok)
                return s;
            e.kind = type == kR5File ? EntryKind::File : EntryKind::Service;
            e.packedSize = data;
            e.splitBefore = hflags & kR5SplitBefore;
            e.splitAfter = hflags & kR5SplitAfter;
            e.headerOffset = pos;
            e.dataOffset = next;
            e.flags = (e.splitBefore ? 0x01u : 0u) | (e.splitAfter ? 0x02u : 0u) |
                      (e.encrypted ? 0x04u : 0u) | (e.solid ? 0x10u : 0u) | DictBitsFlags(e);
            position_ = next + data;
            entry = std::move(e);
            return Status::Ok;
        }
        if (type == kR5End) {
            std::uint64_t eflags = c.VInt();
            endSeen_ = true;
            nextVolume_ = c.ok && (eflags & 0x0001);
            position_ = next;
            return Status::EndOfArchive;
        }
        if (type == kR5Main || type == kR5Crypt)
            return Fail(Status::Damaged, "a second archive header");
        position_ = next + data;
    }
}

Status VolumeReader::ReadNext(Entry& entry) {
    if (failed_)
        return failStatus_;
    if (!archiveRead_)
        return Fail(Status::Damaged, "the archive header was not read");
    cleanEnd_ = false;
    const std::uint64_t start = position_;
    Status s = archive_.format == Format::Rar4 ? ReadRar4Block(entry) : ReadRar5Block(entry);
    if (s == Status::NeedMore) {
        // A header that would start exactly at the end of the bytes present: the volume may
        // simply end here. Skipped blocks are read again next time.
        cleanEnd_ = position_ == source_.Size();
        position_ = start;
    }
    return s;
}

} // namespace rar
