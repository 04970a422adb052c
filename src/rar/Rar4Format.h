#pragma once

// The block layout of RAR 1.5-4.x volumes ("RAR 4" here), as the reader (Rar4Blocks.cpp) and
// the writer (ArchiveWriter.cpp) use it.
//
// Every block starts with the same 7 bytes: the low 16 bits of the CRC32 of the rest of the
// header, the block type, 16 bits of flags and the 16-bit header size. A block with
// kLongBlock set has 32 bits of data size after them; the data follows the header. All
// numbers are little-endian. With encrypted headers (kMainEncryptedHeaders) every block after
// the main header is stored as an 8-byte salt and the header padded to 16 bytes, in AES-128.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace rar::rar4 {

// "Rar!" 1A 07 00: the marker block.
inline constexpr std::array<std::uint8_t, 7> kMarker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// Block types.
constexpr std::uint8_t kMarkerBlock = 0x72;
constexpr std::uint8_t kMainBlock = 0x73;
constexpr std::uint8_t kFileBlock = 0x74;
constexpr std::uint8_t kCommentBlock = 0x75; // 2.x comment, inside the main header
constexpr std::uint8_t kNewSubBlock = 0x7A;  // 3.x service header ("CMT", "RR", ...)
constexpr std::uint8_t kEndBlock = 0x7B;     // the highest type there is

// The common part of every header.
constexpr std::size_t kCrcSize = 2; // the stored header CRC
constexpr std::size_t kTypeOffset = 2;
constexpr std::size_t kFlagsOffset = 3;
constexpr std::size_t kSizeOffset = 5;
constexpr std::size_t kBaseHeaderSize = 7;
// Flag of every block: a 32-bit data size follows the common part.
constexpr std::uint16_t kLongBlock = 0x8000;
constexpr std::size_t kDataSizeSize = 4;

// Main header: the common part and 6 reserved bytes.
constexpr std::size_t kMainHeaderSize = 13;
constexpr std::uint16_t kMainVolume = 0x0001;
constexpr std::uint16_t kMainComment = 0x0002;
constexpr std::uint16_t kMainLocked = 0x0004;
constexpr std::uint16_t kMainSolid = 0x0008;
constexpr std::uint16_t kMainNewNaming = 0x0010; // name.partN.rar
constexpr std::uint16_t kMainAuthenticity = 0x0020;
constexpr std::uint16_t kMainRecovery = 0x0040;
constexpr std::uint16_t kMainEncryptedHeaders = 0x0080;
constexpr std::uint16_t kMainFirstVolume = 0x0100; // 3.0 and later
// An encryption version byte follows the fixed part of the main header.
constexpr std::uint16_t kMainEncryptVersion = 0x0200;

// 2.x comment block inside the main header: the common part, unpacked size (2), unpack
// version (1), method (1), comment CRC (2), then the comment.
constexpr std::size_t kCommentHeaderSize = 13;
constexpr std::size_t kCommentMethodOffset = 10;

// File and NEWSUB headers: the fixed fields up to the name.
constexpr std::size_t kFileHeaderMinSize = 32;
constexpr std::uint16_t kFileSplitBefore = 0x0001;
constexpr std::uint16_t kFileSplitAfter = 0x0002;
constexpr std::uint16_t kFileEncrypted = 0x0004;
constexpr std::uint16_t kFileComment = 0x0008;
constexpr std::uint16_t kFileSolid = 0x0010;
// Bits 5-7: the dictionary size 64 KiB << n; all three set marks a directory.
constexpr std::uint16_t kFileDictionaryMask = 0x00E0;
constexpr int kFileDictionaryShift = 5;
constexpr std::uint16_t kFileDirectory = 0x00E0;
constexpr std::uint64_t kMinDictionarySize = 64 * 1024;
constexpr std::uint16_t kFileLarge = 0x0100;   // high 32 bits of both sizes follow
constexpr std::uint16_t kFileUnicode = 0x0200; // Unicode name (see Rar4Blocks.cpp)
constexpr std::uint16_t kFileSalt = 0x0400;    // an 8-byte salt follows the name
constexpr std::uint16_t kFileExtTime = 0x1000; // extended times follow

// End block.
constexpr std::uint16_t kEndNextVolume = 0x0001;

// Compression methods: stored, then fastest (0x31) to best (0x35).
constexpr std::uint8_t kMethodStored = 0x30;

// Unpack versions (major * 10 + minor). Before 2.0 a directory is marked only by its DOS
// attribute; 2.9 brings the 3.x encryption (AES-128 with salt).
constexpr std::uint8_t kVersion20 = 20;
constexpr std::uint8_t kVersion29 = 29;

// Host systems are the HostOs codes of RarTypes.h.

// File times are DOS date and time: local time in 2-second steps, 1980 to 2107. `t` in that
// form, or `outOfRange` when it lies outside.
inline std::uint32_t DosTime(std::time_t t, std::uint32_t outOfRange) {
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year < 80 || tm.tm_year > 207)
        return outOfRange;
    auto u = [](int v) {
        return static_cast<std::uint32_t>(v);
    };
    return u(tm.tm_year - 80) << 25 | u(tm.tm_mon + 1) << 21 | u(tm.tm_mday) << 16 |
           u(tm.tm_hour) << 11 | u(tm.tm_min) << 5 | u(tm.tm_sec / 2);
}
// 1980-01-01 00:00, the earliest DOS time.
constexpr std::uint32_t kDosTimeEarliest = (1 << 21) | (1 << 16);

// Encryption: the salt of a file or of an encrypted header.
constexpr std::size_t kSaltSize = 8;

} // namespace rar::rar4
