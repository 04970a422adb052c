// The blocks of RAR 5.0 volumes: main header, encryption header, file and service headers with
// their extra records, end block, and encrypted headers.

#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/RarText.h"
#include "rar/VolumeReader.h"
#include "rar/VolumeReaderInternal.h"

#include <cstring>
#include <ctime>

namespace rar {

using detail::CleanName;
using detail::Cursor;
using detail::kMaxVintSize;
using detail::RoundUp16;

namespace {

// RAR 5.0 header types and flags.
constexpr std::uint64_t kR5Main = 1, kR5File = 2, kR5Service = 3, kR5Crypt = 4, kR5End = 5;
constexpr std::uint64_t kR5HasExtra = 0x01, kR5HasData = 0x02, kR5SplitBefore = 0x08,
                        kR5SplitAfter = 0x10;
// Windows FILETIME of the Unix epoch, in 100 ns units.
constexpr std::uint64_t kFileTimeEpoch = 116444736000000000ull;

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

std::uint32_t DictBitsFlags(const Entry& e) {
    if (e.isDirectory)
        return 0xE0;
    std::uint32_t bits = 0;
    while (bits < 6 && (std::uint64_t{65536} << bits) < e.dictionarySize)
        ++bits;
    return bits << 5;
}

} // namespace

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

} // namespace rar
