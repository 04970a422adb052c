#pragma once

// Reads the blocks of one RAR volume (RAR 1.5-4.x or RAR 5.0) from a ByteSource.
//
// The reader never reads entry data; it walks the headers and tells where each entry's data
// lies in the volume (Entry::dataOffset, Entry::packedSize). Every field is checked against
// the bytes present and against fixed limits before use; damaged input gives
// Status::Damaged with a text in ErrorText(), never a crash or an allocation larger than
// kMaxHeaderSize.
//
// Reading a complete volume:
//
//   rar::FileSource src; src.Open(path);
//   rar::VolumeReader reader(src);
//   reader.SetPassword(password);               // only needed for encrypted headers
//   if (reader.ReadArchiveHeader() != rar::Status::Ok) ... ;
//   rar::Entry e;
//   for (;;) {
//       rar::Status s = reader.ReadNext(e);
//       if (s == rar::Status::Ok) { ...use e...; continue; }
//       if (s == rar::Status::NeedMore && reader.AtCleanEnd()) break;   // no end block
//       if (s == rar::Status::EndOfArchive) break;   // reader.NextVolumeExpected() for sets
//       ...error: s, reader.ErrorText()
//   }
//
// Reading a volume that is still growing (a download in progress):
//
//   Every call that returns Status::NeedMore has consumed nothing: the reader stays at the
//   same block, and the same call can be repeated once the source has grown. NeedMore means
//   "the bytes present are a valid prefix so far"; Damaged means "the bytes present are
//   wrong" and is final. ReadArchiveHeader may return NeedMore (marker, main header or
//   encryption block incomplete); ReadNext returns NeedMore while the next header (or, to
//   reach it, the previous entry's data) is not complete. NeededSize() tells up to which
//   byte the source must reach for the pending step to make progress (a lower bound: a
//   header whose size field is not yet present asks for the size field first).
//
//   ReadNext returns an entry as soon as its header is complete; its data may still be
//   arriving. To stream the data, read [dataOffset, dataOffset + packedSize) of the volume
//   as it grows; a piece with splitAfter continues in the next volume (VolumeNaming.h), whose
//   reader yields the same entry again with splitBefore set (RAR 4: the CRC32 of the last
//   piece is that of the whole file; RAR 5.0: the hash sits in the last piece).
//
// Each call of ReadNext moves past the data of the entry it returned before, so an entry's
// data is never parsed as headers. Service headers (comments, recovery records, quick-open
// data) are returned as EntryKind::Service; callers that only want files skip them.

#include "rar/ByteSource.h"
#include "rar/RarTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rar {

// A self-extracting stub is searched for the marker up to this many bytes.
constexpr std::uint64_t kMaxSfxSize = 4 * 1024 * 1024;
// No header (RAR 5.0 headers carry a variable size) is read if larger than this.
constexpr std::uint64_t kMaxHeaderSize = 2 * 1024 * 1024;
// Names longer than this (in bytes) are damage.
constexpr std::size_t kMaxNameSize = 8192;
// An archive comment is read up to this size; a longer one is cut there.
constexpr std::size_t kMaxCommentSize = 65536;

class AesCbc;

class VolumeReader {
public:
    explicit VolumeReader(ByteSource& source);
    ~VolumeReader();
    VolumeReader(const VolumeReader&) = delete;
    VolumeReader& operator=(const VolumeReader&) = delete;

    // The password (UTF-8) for encrypted headers. Set before ReadArchiveHeader, or after it
    // returned PasswordRequired / BadPassword and then call ReadArchiveHeader again.
    void SetPassword(const std::string& password);

    // Finds the marker (also after a self-extracting stub), reads the main archive header,
    // for RAR 5.0 an encryption block, and a stored archive comment that follows directly.
    Status ReadArchiveHeader();
    const ArchiveInfo& Archive() const { return archive_; }

    // The next file or service header. EndOfArchive after the end block.
    Status ReadNext(Entry& entry);

    // After EndOfArchive: the end block says another volume follows.
    bool NextVolumeExpected() const { return nextVolume_; }
    // An end-of-archive block was read.
    bool EndBlockSeen() const { return endSeen_; }
    // The last ReadNext returned NeedMore exactly at a block boundary with the whole source
    // consumed (an archive that ends without an end block ends here when it is complete).
    bool AtCleanEnd() const { return cleanEnd_; }

    // The offset of the block the next ReadNext starts at.
    std::uint64_t Position() const { return position_; }
    // See the incremental reading above.
    std::uint64_t NeededSize() const { return needed_; }
    const std::string& ErrorText() const { return error_; }

private:
    Status FindMarker();
    Status ReadRar4Main();
    Status ReadRar5Main();
    Status ReadRar4Block(Entry& entry);
    Status ReadRar5Block(Entry& entry);
    Status LoadRar4Header(std::vector<std::uint8_t>& header, std::uint64_t& next);
    Status LoadRar5Header(std::vector<std::uint8_t>& header, std::uint64_t& next);
    Status LoadSealedRest(AesCbc& aes, const std::uint8_t* first, std::uint64_t blocksAt,
                          std::size_t size, std::vector<std::uint8_t>& header, std::uint64_t& next);
    Status ParseRar4File(const std::vector<std::uint8_t>& h, Entry& e);
    Status ParseRar5File(const std::vector<std::uint8_t>& h, std::size_t pos, std::size_t extraSize,
                         Entry& e);
    Status Need(std::uint64_t end);
    Status Fail(Status status, const std::string& text);
    bool Fetch(std::uint64_t offset, void* buffer, std::size_t length);

    ByteSource& source_;
    std::string password_;
    ArchiveInfo archive_;
    bool archiveRead_ = false;
    std::uint64_t position_ = 0;
    std::uint64_t needed_ = 0;
    bool nextVolume_ = false;
    bool endSeen_ = false;
    bool cleanEnd_ = false;
    bool failed_ = false;
    Status failStatus_ = Status::Ok;
    std::string error_;
    struct KeyCache;
    KeyCache* keys_;
};

} // namespace rar
