#pragma once

// The records the RAR reader hands out. Both archive generations (RAR 1.5-4.x, "RAR 4" here,
// and RAR 5.0) are described by the same records; fields a generation does not have keep
// their defaults.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace rar {

enum class Format { Rar4, Rar5 };

// The outcome of every reading step.
enum class Status {
    Ok,
    // The bytes present end before the item being read does: call again once the source
    // has grown. The reader's position is unchanged.
    NeedMore,
    // The end-of-archive block was read (see VolumeReader::NextVolumeExpected), or, for a
    // file that ends exactly at a block boundary without one, the caller decided so.
    EndOfArchive,
    // No RAR marker within the first kMaxSfxSize bytes.
    NotRar,
    // The bytes present contradict the format: a bad CRC, a size out of bounds, a field
    // running past its header. Final for this volume.
    Damaged,
    // Headers are encrypted and no password is set.
    PasswordRequired,
    // The password does not fit the archive (check value mismatch, or undecryptable header).
    BadPassword,
    // A format version or an encryption method this reader does not know.
    Unsupported,
};

const char* StatusText(Status status);

// Encryption of one entry's data or of the headers that follow an encryption block.
struct EncryptionParams {
    Format format = Format::Rar5;
    // RAR 5.0: log2 of the PBKDF2 iteration count (the archiver writes 15 by default).
    std::uint8_t kdfCount = 0;
    // RAR 4: 8 bytes of salt; RAR 5.0: 16 bytes.
    std::array<std::uint8_t, 16> salt{};
    std::uint8_t saltSize = 0;
    // RAR 5.0 entries: the CBC IV of the data. RAR 4 derives its IV from password and salt.
    std::array<std::uint8_t, 16> iv{};
    bool hasIv = false;
    // RAR 5.0: the 8-byte password check value (its 4-byte checksum was verified on reading).
    bool hasPasswordCheck = false;
    std::array<std::uint8_t, 8> passwordCheck{};
    // RAR 5.0: the CRC32 / BLAKE2sp of the entry are keyed with the password (see
    // RarCrypto.h, Rar5MacCrc32 / Rar5MacBlake2). RAR 4 never does this.
    bool tweakedChecksums = false;
};

// Host systems as the listing library reports them (the RAR 4 codes; RAR 5.0's two codes
// are mapped onto them).
enum HostOs : std::uint8_t {
    HostMsDos = 0,
    HostOs2 = 1,
    HostWindows = 2,
    HostUnix = 3,
    HostMacOs = 4,
    HostBeOs = 5,
};

enum class EntryKind {
    File,    // a file or directory
    Service, // RAR 3.x NEWSUB / RAR 5.0 service header ("CMT", "QO", "RR", "ACL", "STM")
};

// One file or service header.
struct Entry {
    EntryKind kind = EntryKind::File;
    // The name in UTF-8 with "/" between folders (RAR 4's "\" is converted).
    std::string name;

    std::uint64_t packedSize = 0;   // bytes of data that follow the header in this volume
    std::uint64_t unpackedSize = 0; // of the whole file (all pieces)
    bool unpackedSizeUnknown = false;

    std::uint8_t hostOs = HostWindows; // see HostOs
    std::uint32_t attributes = 0;      // DOS attributes, or Unix mode for Unix hosts

    bool hasCrc32 = false;
    std::uint32_t crc32 = 0; // RAR 4: of the whole file in the last piece, of this piece else
    bool hasBlake2 = false;
    std::array<std::uint8_t, 32> blake2{};

    std::uint32_t dosTime = 0;           // modification time, DOS format, local time
    std::optional<std::int64_t> mtimeNs; // modification time, Unix nanoseconds, when known

    // The version needed to unpack as the listing library reports it: 15..29 for RAR 4,
    // 50 for RAR 5.0 (70 for the 7.0 extension).
    std::uint32_t unpackVersion = 0;
    // 0x30 (stored) .. 0x35 (best), for both generations.
    std::uint32_t method = 0x30;
    bool IsStored() const { return method == 0x30; }
    // Window size in bytes (0 for directories).
    std::uint64_t dictionarySize = 0;

    bool isDirectory = false;
    bool isSymlink = false;
    bool splitBefore = false; // this piece continues an entry of the previous volume
    bool splitAfter = false;  // the entry continues in the next volume
    bool solid = false;
    bool encrypted = false;
    std::optional<EncryptionParams> encryption;
    std::uint32_t commentSize = 0; // RAR 4 old-style file comment (never read)

    // RAR 4: the 16-bit header flags as stored; RAR 5.0: mapped onto the same meaning for the
    // bits 0x01 0x02 0x04 0x10, the dictionary bits 5-7 (0xE0 for directories).
    std::uint32_t flags = 0;

    // Offsets within the volume (after any self-extracting stub, counted from the file start).
    std::uint64_t headerOffset = 0;
    std::uint64_t dataOffset = 0;
};

// The archive as its first blocks describe it.
struct ArchiveInfo {
    Format format = Format::Rar5;
    std::uint64_t markerOffset = 0; // > 0 after a self-extracting stub
    bool isVolume = false;
    bool firstVolume = false; // RAR 4: flag 0x100 (3.0 and later); RAR 5.0: no volume number
    bool newNaming = false;   // name.partN.rar (always for RAR 5.0)
    std::optional<std::uint64_t> volumeNumber; // 0-based, when the archive says it
    bool solid = false;
    bool locked = false;
    bool hasRecovery = false;
    bool signedArchive = false; // RAR 4 authenticity information
    bool headersEncrypted = false;
    std::optional<EncryptionParams> headerEncryption; // RAR 5.0
    // An archive comment is present (in the main header or as a "CMT" service header).
    bool hasComment = false;
    // Its text when stored; a packed comment is not unpacked: commentPacked is set and
    // comment stays empty.
    bool commentRead = false;
    bool commentPacked = false;
    std::string comment;

    // The archive flags as the listing library reports them: 0x01 volume, 0x02 comment,
    // 0x04 locked, 0x08 solid, 0x10 new naming, 0x20 signed, 0x40 recovery, 0x80 encrypted
    // headers, 0x100 first volume.
    std::uint32_t DllFlags() const;
};

} // namespace rar
