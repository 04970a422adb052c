// The blocks of RAR 5.0 volumes: main header, encryption header, file and service headers with
// their extra records, end block, and encrypted headers.

#include "rar/Rar4Format.h"
#include "rar/Rar5Format.h"
#include "rar/RarCrypto.h"
#include "rar/RarText.h"
#include "rar/VolumeReader.h"
#include "rar/VolumeReaderInternal.h"

#include <ctime>
#include <string>
#include <tuple>

namespace rar {

using namespace detail;
using namespace rar5;

namespace {

// Windows FILETIME of the Unix epoch, in 100 ns units.
constexpr std::uint64_t kFileTimeEpoch = 116444736000000000ull;
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// The unpack versions reported for the two algorithm versions (RarTypes.h).
constexpr std::uint32_t kUnpackVersion50 = 50, kUnpackVersion70 = 70;

// The dictionary bits of the RAR 4 file flags for Entry::flags: the smallest RAR 4 size that
// holds the window, 4 MiB (6) at most; all set for a directory.
std::uint32_t DictBitsFlags(const Entry& e) {
    constexpr std::uint32_t kLargest = 6;
    if (e.isDirectory)
        return rar4::kFileDirectory;
    std::uint32_t bits = 0;
    while (bits < kLargest && (rar4::kMinDictionarySize << bits) < e.dictionarySize)
        ++bits;
    return bits << rar4::kFileDictionaryShift;
}

// The preamble every header starts with (Rar5Format.h). The CRC before it is checked by
// HeaderCrcMatches.
struct Preamble {
    std::size_t sizeEnd = 0;    // where the size field ends
    std::size_t headerSize = 0; // of the whole header: CRC, size field and the size it gives
    std::uint64_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t extraSize = 0; // the extra area, which ends the header
    std::uint64_t dataSize = 0;  // the data after the header
    std::size_t fieldsPos = 0;   // where the type's own fields start
};

enum class SizeField { Cut, OutOfRange, Ok };

// The size field from the first `length` bytes of a header: Cut when it does not end within
// them, OutOfRange for an empty header or one larger than kMaxHeaderSize.
SizeField ReadHeaderSize(const std::uint8_t* header, std::size_t length, Preamble& p) {
    Cursor c(header, kCrcSize, length);
    const std::uint64_t size = c.VInt();
    if (!c.ok)
        return SizeField::Cut;
    if (size == 0 || size > kMaxHeaderSize)
        return SizeField::OutOfRange;
    p.sizeEnd = c.Pos();
    p.headerSize = p.sizeEnd + static_cast<std::size_t>(size);
    return SizeField::Ok;
}

// The whole preamble of a loaded header: false when a field runs past the header or the
// extra area is larger than what follows the preamble.
bool ReadPreamble(const std::vector<std::uint8_t>& h, Preamble& p) {
    if (ReadHeaderSize(h.data(), h.size(), p) != SizeField::Ok)
        return false;
    Cursor c(h, p.sizeEnd, h.size());
    p.type = c.VInt();
    p.flags = c.VInt();
    p.extraSize = (p.flags & kHeaderExtra) ? c.VInt() : 0;
    p.dataSize = (p.flags & kHeaderData) ? c.VInt() : 0;
    p.fieldsPos = c.Pos();
    return c.ok && p.extraSize <= c.Left();
}

static_assert(std::tuple_size_v<decltype(EncryptionParams::salt)> >= kSaltSize &&
              std::tuple_size_v<decltype(EncryptionParams::iv)> >= kIvSize &&
              std::tuple_size_v<decltype(EncryptionParams::passwordCheck)> == kPasswordCheckSize);

enum class CryptFields { Short, Unknown, Known };

// The encryption fields (Rar5Format.h) of the encryption header or, with `fileRecord`, of a
// file's encryption record, which also carries the IV and the keyed-checksum flag. Short when
// they run past the cursor's end, Unknown for a version or a KDF count this reader does not
// know. A password check value whose checksum does not match is dropped.
CryptFields ReadEncryption(Cursor& c, bool fileRecord, EncryptionParams& p) {
    const std::uint64_t version = c.VInt();
    const std::uint64_t flags = c.VInt();
    p = EncryptionParams{};
    p.format = Format::Rar5;
    p.kdfCount = c.U8();
    p.saltSize = kSaltSize;
    c.Bytes(p.salt.data(), kSaltSize);
    if (fileRecord) {
        c.Bytes(p.iv.data(), kIvSize);
        p.hasIv = true;
        p.tweakedChecksums = flags & kCryptTweakedChecksums;
    }
    std::array<std::uint8_t, kPasswordCheckSumSize> sum{};
    if (flags & kCryptPasswordCheck) {
        p.hasPasswordCheck = true;
        c.Bytes(p.passwordCheck.data(), kPasswordCheckSize);
        c.Bytes(sum.data(), sum.size());
    }
    if (!c.ok)
        return CryptFields::Short;
    if (p.hasPasswordCheck && Rar5PasswordCheckSum(p.passwordCheck) != sum)
        p.hasPasswordCheck = false; // a damaged check value is not used
    if (version != kCryptAes256 || p.kdfCount > kMaxRar5KdfCount)
        return CryptFields::Unknown;
    return CryptFields::Known;
}

} // namespace

Status VolumeReader::LoadRar5Header(std::vector<std::uint8_t>& h, std::uint64_t& next) {
    const std::uint64_t pos = position_;
    const bool encrypted = archive_.headersEncrypted && archive_.headerEncryption.has_value();
    if (!encrypted) {
        std::uint8_t head[kCrcSize + kMaxVintSize];
        std::size_t got = source_.ReadAt(pos, head, sizeof head);
        Preamble p;
        switch (ReadHeaderSize(head, got, p)) {
        case SizeField::Cut:
            return got >= sizeof head ? Fail(Status::Damaged, "bad header size field")
                                      : Need(pos + got + 1);
        case SizeField::OutOfRange:
            return Fail(Status::Damaged, "header size out of range");
        case SizeField::Ok:
            break;
        }
        const std::size_t total = p.headerSize;
        // Nothing is allocated for bytes the source does not hold.
        if (source_.Size() < pos + total)
            return Need(pos + total);
        h.resize(total);
        if (!Fetch(pos, h.data(), total))
            return Need(pos + total);
        if (!HeaderCrcMatches(h, kCrcSize))
            return Fail(Status::Damaged, "header CRC mismatch");
        next = pos + total;
        return Status::Ok;
    }
    // Encrypted: a 16-byte IV, then the header padded to 16 bytes.
    std::uint8_t head[kIvSize + kAesBlockSize];
    if (!Fetch(pos, head, sizeof head))
        return Need(pos + sizeof head);
    AesCbc aes;
    std::uint8_t first[kAesBlockSize];
    if (!aes.Init(keys_->rar5.key.data(), kRar5KeySize, head, false) ||
        !aes.Process(head + kIvSize, first, kAesBlockSize))
        return Fail(Status::Damaged, "decryption failed");
    const Status wrong =
        archive_.headerEncryption->hasPasswordCheck ? Status::Damaged : Status::BadPassword;
    Preamble p;
    if (ReadHeaderSize(first, sizeof first, p) != SizeField::Ok)
        return Fail(wrong, "header size out of range");
    if (Status s = LoadSealedRest(aes, first, pos + kIvSize, p.headerSize, h, next);
        s != Status::Ok)
        return s;
    if (!HeaderCrcMatches(h, kCrcSize))
        return Fail(wrong, "header CRC mismatch");
    return Status::Ok;
}

Status VolumeReader::ReadRar5Main() {
    for (int step = 0; step < 2; ++step) {
        std::vector<std::uint8_t> h;
        std::uint64_t next = 0;
        Status s = LoadRar5Header(h, next);
        if (s != Status::Ok)
            return s;
        Preamble pre;
        if (!ReadPreamble(h, pre))
            return Fail(Status::Damaged, "main header fields out of range");
        Cursor c(h, pre.fieldsPos, h.size());
        if (pre.type == kCryptHeader && step == 0) {
            EncryptionParams p;
            switch (ReadEncryption(c, false, p)) {
            case CryptFields::Short:
                return Fail(Status::Damaged, "encryption header too small");
            case CryptFields::Unknown:
                return Fail(Status::Unsupported, "unknown header encryption");
            case CryptFields::Known:
                break;
            }
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
        if (pre.type != kMainHeader)
            return Fail(Status::Damaged, "no main archive header");
        std::uint64_t aflags = c.VInt();
        archive_.isVolume = aflags & kArchiveVolume;
        if (aflags & kArchiveVolumeNumber)
            archive_.volumeNumber = c.VInt();
        if (!c.ok)
            return Fail(Status::Damaged, "main header too small");
        archive_.solid = aflags & kArchiveSolid;
        archive_.hasRecovery = aflags & kArchiveRecovery;
        archive_.locked = aflags & kArchiveLocked;
        archive_.newNaming = true;
        archive_.firstVolume = archive_.isVolume && !archive_.volumeNumber.has_value();
        if (pre.dataSize > static_cast<std::uint64_t>(INT64_MAX) - next)
            return Fail(Status::Damaged, "data size out of range");
        position_ = next + pre.dataSize;
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
    e.unpackedSizeUnknown = fflags & kFileUnknownSize;
    std::uint64_t attr = c.VInt();
    e.attributes = static_cast<std::uint32_t>(attr);
    std::optional<std::int64_t> mtime;
    if (fflags & kFileUnixTime)
        mtime = static_cast<std::int64_t>(c.U32()) * kNanosecondsPerSecond;
    if (fflags & kFileCrc32) {
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
    e.isDirectory = fflags & kFileDirectory;
    e.hostOs = host == kHostWindows ? HostWindows : HostUnix;
    const std::uint64_t version = ci & kCompVersionMask;
    e.solid = ci & kCompSolid;
    e.method = rar4::kMethodStored +
               static_cast<std::uint32_t>((ci >> kCompMethodShift) & kCompMethodMask);
    e.unpackVersion = version == 0 ? kUnpackVersion50 : kUnpackVersion70;
    if (version == 0) {
        e.dictionarySize = kMinDictionarySize
                           << ((ci >> kCompDictionaryShift) & kCompDictionaryMask0);
    } else {
        std::uint64_t base = kMinDictionarySize
                             << ((ci >> kCompDictionaryShift) & kCompDictionaryMask1);
        e.dictionarySize =
            base + base / 32 * ((ci >> kCompDictionaryFractionShift) & kCompDictionaryFractionMask);
    }
    if (e.isDirectory)
        e.dictionarySize = 0;
    if (host == kHostUnix)
        e.isSymlink = (attr & kUnixFileType) == kUnixSymlink;

    // The extra area: records of size, type, data.
    c = Cursor(h, extraStart, h.size());
    while (c.ok && c.Left() > 0) {
        std::uint64_t rsize = c.VInt();
        if (!c.ok || rsize == 0 || rsize > c.Left())
            return Fail(Status::Damaged, "extra record out of range");
        const std::size_t rend = c.Pos() + static_cast<std::size_t>(rsize);
        Cursor r(h, c.Pos(), rend);
        std::uint64_t rtype = r.VInt();
        if (rtype == kRecordCrypt) {
            e.encrypted = true;
            EncryptionParams p;
            const CryptFields fields = ReadEncryption(r, true, p);
            if (fields == CryptFields::Short)
                return Fail(Status::Damaged, "encryption record too small");
            if (fields == CryptFields::Known)
                e.encryption = p;
        } else if (rtype == kRecordHash) {
            std::uint64_t htype = r.VInt();
            if (htype == kHashBlake2sp && r.Bytes(e.blake2.data(), kBlake2Size))
                e.hasBlake2 = true;
        } else if (rtype == kRecordTime) {
            std::uint64_t tflags = r.VInt();
            const bool unix = tflags & kTimeUnix;
            std::optional<std::int64_t> t;
            if (tflags & kTimeModified) {
                if (unix) {
                    t = static_cast<std::int64_t>(r.U32()) * kNanosecondsPerSecond;
                } else {
                    std::uint64_t ft = r.U64();
                    if (r.ok && ft >= kFileTimeEpoch)
                        t = static_cast<std::int64_t>((ft - kFileTimeEpoch) * 100);
                }
            }
            if (unix && (tflags & kTimeUnixNanoseconds) && (tflags & kTimeModified) && t) {
                // Nanoseconds follow all the times present; skip ctime and atime.
                if (tflags & kTimeCreated)
                    r.U32();
                if (tflags & kTimeAccessed)
                    r.U32();
                std::uint32_t ns = r.U32();
                if (r.ok && ns < kNanosecondsPerSecond)
                    *t += ns;
            }
            if (r.ok && t)
                mtime = t;
        } else if (rtype == kRecordVersion) {
            // An older version of a file of the same name: shown as "name;N".
            r.VInt();
            std::uint64_t version = r.VInt();
            if (r.ok && version > 0)
                e.name += ";" + std::to_string(version);
        } else if (rtype == kRecordRedirection) {
            std::uint64_t redir = r.VInt();
            if (r.ok && redir >= kRedirUnixSymlink && redir <= kRedirJunction)
                e.isSymlink = true;
        }
        c.Skip(rsize);
    }
    e.mtimeNs = mtime;
    if (mtime)
        e.dosTime = rar4::DosTime(static_cast<std::time_t>(*mtime / kNanosecondsPerSecond), 0);
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
        Preamble pre;
        if (!ReadPreamble(h, pre))
            return Fail(Status::Damaged, "header fields out of range");
        const std::uint64_t type = pre.type, data = pre.dataSize;
        if (data > static_cast<std::uint64_t>(INT64_MAX) - next)
            return Fail(Status::Damaged, "data size out of range");
        Cursor c(h, pre.fieldsPos, h.size());
        if (type == kFileHeader || type == kServiceHeader) {
            Entry e;
            s = ParseRar5File(h, pre.fieldsPos, static_cast<std::size_t>(pre.extraSize), e);
            if (s != Status::Ok)
                return s;
            e.kind = type == kFileHeader ? EntryKind::File : EntryKind::Service;
            e.packedSize = data;
            e.splitBefore = pre.flags & kHeaderSplitBefore;
            e.splitAfter = pre.flags & kHeaderSplitAfter;
            e.headerOffset = pos;
            e.dataOffset = next;
            e.flags = (e.splitBefore ? rar4::kFileSplitBefore : 0u) |
                      (e.splitAfter ? rar4::kFileSplitAfter : 0u) |
                      (e.encrypted ? rar4::kFileEncrypted : 0u) |
                      (e.solid ? rar4::kFileSolid : 0u) | DictBitsFlags(e);
            position_ = next + data;
            entry = std::move(e);
            return Status::Ok;
        }
        if (type == kEndHeader) {
            std::uint64_t eflags = c.VInt();
            endSeen_ = true;
            nextVolume_ = c.ok && (eflags & kEndNextVolume);
            position_ = next;
            return Status::EndOfArchive;
        }
        if (type == kMainHeader || type == kCryptHeader)
            return Fail(Status::Damaged, "a second archive header");
        position_ = next + data;
    }
}

} // namespace rar
