// The marker search, the sequence of the first blocks and the bookkeeping that lets a volume
// be read while it grows. The blocks themselves are read in Rar4Blocks.cpp (RAR 1.5-4.x) and
// Rar5Blocks.cpp (RAR 5.0).

#include "rar/VolumeReader.h"

#include "rar/Rar4Format.h"
#include "rar/Rar5Format.h"
#include "rar/VolumeReaderInternal.h"

#include <algorithm>
#include <cstring>

namespace rar {

namespace {

constexpr std::size_t kRar4MarkerSize = rar4::kMarker.size();
constexpr std::size_t kRar5MarkerSize = rar5::kMarker.size();
// The two markers share their first bytes ("Rar!" 1A 07) and differ in the next one.
constexpr std::size_t kMarkerPrefix = 6;
static_assert(std::equal(rar4::kMarker.begin(), rar4::kMarker.begin() + kMarkerPrefix,
                         rar5::kMarker.begin()));
// The marker search reads the stub in pieces of this size.
constexpr std::size_t kSearchChunk = 64 * 1024;

} // namespace

using namespace detail;

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

// The header of either generation when headers are encrypted: its AES blocks start at
// `blocksAt`, the first of them already decrypted by `aes` into `first`. Reads and decrypts the
// others of the `size` bytes padded to whole blocks, and cuts the header to `size`.
Status VolumeReader::LoadSealedRest(AesCbc& aes, const std::uint8_t* first, std::uint64_t blocksAt,
                                    std::size_t size, std::vector<std::uint8_t>& h,
                                    std::uint64_t& next) {
    const std::size_t padded = static_cast<std::size_t>(RoundUp16(size));
    // Nothing is allocated for bytes the source does not hold.
    if (source_.Size() < blocksAt + padded)
        return Need(blocksAt + padded);
    h.resize(padded);
    std::memcpy(h.data(), first, kAesBlockSize);
    if (padded > kAesBlockSize) {
        const std::size_t rest = padded - kAesBlockSize;
        if (!Fetch(blocksAt + kAesBlockSize, h.data() + kAesBlockSize, rest))
            return Need(blocksAt + padded);
        if (!aes.Process(h.data() + kAesBlockSize, h.data() + kAesBlockSize, rest))
            return Fail(Status::Damaged, "decryption failed");
    }
    h.resize(size);
    next = blocksAt + padded;
    return Status::Ok;
}

Status VolumeReader::FindMarker() {
    std::uint64_t size = source_.Size();
    std::vector<std::uint8_t> buf;
    std::uint64_t offset = 0;
    const std::uint64_t limit = std::min<std::uint64_t>(size, kMaxSfxSize + kRar5MarkerSize);
    while (offset < limit) {
        std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(kSearchChunk + kRar5MarkerSize, limit - offset));
        buf.resize(n);
        if (!Fetch(offset, buf.data(), n))
            return Need(offset + n);
        for (std::size_t i = 0; i + kRar4MarkerSize <= n; ++i) {
            if (buf[i] != rar4::kMarker[0] ||
                std::memcmp(&buf[i], rar4::kMarker.data(), kMarkerPrefix) != 0)
                continue;
            if (i + kRar5MarkerSize <= n &&
                std::memcmp(&buf[i], rar5::kMarker.data(), kRar5MarkerSize) == 0) {
                archive_.format = Format::Rar5;
                archive_.markerOffset = offset + i;
                position_ = offset + i + kRar5MarkerSize;
                return Status::Ok;
            }
            if (buf[i + kMarkerPrefix] == rar4::kMarker[kMarkerPrefix]) {
                archive_.format = Format::Rar4;
                archive_.markerOffset = offset + i;
                position_ = offset + i + kRar4MarkerSize;
                return Status::Ok;
            }
            if (buf[i + kMarkerPrefix] == rar5::kMarker[kMarkerPrefix] && i + kRar5MarkerSize > n)
                break; // the RAR 5.0 marker may be cut at the chunk end: read on from here
        }
        if (n < kRar5MarkerSize)
            break;
        offset += n - kRar4MarkerSize;
    }
    if (size < kMaxSfxSize + kRar5MarkerSize)
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
