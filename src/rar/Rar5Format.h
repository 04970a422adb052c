#pragma once

// The block layout of RAR 5.0 volumes, as the reader (Rar5Blocks.cpp) and the writer
// (ArchiveWriter.cpp) use it.
//
// Every header starts with the same preamble: the CRC32 of the rest of the header (4 bytes),
// the size of the rest as a vint, the header type, the header flags, the extra area size when
// kHeaderExtra is set and the data size when kHeaderData is set. The type's own fields follow;
// the extra area (records of size, type and fields) ends the header, and the data follows the
// header. Numbers are vints (7 bits a byte, low first, the high bit set on all but the last
// byte) unless said otherwise; fixed-size ones are little-endian. With encrypted headers
// (kCryptHeader) every header after it is stored as a 16-byte IV and the header padded to 16
// bytes, in AES-256.

#include <array>
#include <cstddef>
#include <cstdint>

namespace rar::rar5 {

// "Rar!" 1A 07 01 00: the signature.
inline constexpr std::array<std::uint8_t, 8> kMarker = {0x52, 0x61, 0x72, 0x21,
                                                        0x1A, 0x07, 0x01, 0x00};

// 10 bytes hold any 64-bit vint.
constexpr std::size_t kMaxVintSize = 10;
constexpr std::size_t kCrcSize = 4; // the stored header CRC

// Header types.
constexpr std::uint64_t kMainHeader = 1;
constexpr std::uint64_t kFileHeader = 2;
constexpr std::uint64_t kServiceHeader = 3; // "CMT", "QO", "RR", "ACL", "STM"
constexpr std::uint64_t kCryptHeader = 4;   // the headers after it are encrypted
constexpr std::uint64_t kEndHeader = 5;

// Header flags (every header).
constexpr std::uint64_t kHeaderExtra = 0x0001; // extra area size present
constexpr std::uint64_t kHeaderData = 0x0002;  // data size present
constexpr std::uint64_t kHeaderSplitBefore = 0x0008;
constexpr std::uint64_t kHeaderSplitAfter = 0x0010;

// Main header: archive flags, then the volume number when kArchiveVolumeNumber is set.
constexpr std::uint64_t kArchiveVolume = 0x0001;
constexpr std::uint64_t kArchiveVolumeNumber = 0x0002; // all volumes but the first
constexpr std::uint64_t kArchiveSolid = 0x0004;
constexpr std::uint64_t kArchiveRecovery = 0x0008;
constexpr std::uint64_t kArchiveLocked = 0x0010;

// End header: end flags.
constexpr std::uint64_t kEndNextVolume = 0x0001;

// Encryption fields, in the encryption header and in a file's encryption record: version,
// flags, kdfCount (1 byte), salt, the IV (file records only), then the password check value
// and its checksum when kCryptPasswordCheck is set.
constexpr std::uint64_t kCryptAes256 = 0; // the only version
constexpr std::uint64_t kCryptPasswordCheck = 0x0001;
constexpr std::uint64_t kCryptTweakedChecksums = 0x0002; // file records only
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kIvSize = 16;
constexpr std::size_t kPasswordCheckSize = 8;
constexpr std::size_t kPasswordCheckSumSize = 4;

// File and service headers: file flags, unpacked size, attributes, the modification time
// (Unix seconds, 4 bytes) and the CRC32 (4 bytes) when flagged, compression info, host system,
// name size and the name in UTF-8.
constexpr std::uint64_t kFileDirectory = 0x0001;
constexpr std::uint64_t kFileUnixTime = 0x0002;
constexpr std::uint64_t kFileCrc32 = 0x0004;
constexpr std::uint64_t kFileUnknownSize = 0x0008;

// Compression info: bits 0-5 the algorithm version (0 for 5.0, 1 for 7.0), bit 6 solid,
// bits 7-9 the method (0 stored .. 5 best), bits 10-14 (version 0: 10-13) the dictionary size
// 128 KiB << n, and for version 1 bits 15-19 a fraction n/32 of it to add.
constexpr std::uint64_t kCompVersionMask = 0x3F;
constexpr std::uint64_t kCompSolid = 0x40;
constexpr int kCompMethodShift = 7;
constexpr std::uint64_t kCompMethodMask = 7;
constexpr int kCompDictionaryShift = 10;
constexpr std::uint64_t kCompDictionaryMask0 = 0x0F;
constexpr std::uint64_t kCompDictionaryMask1 = 0x1F;
constexpr int kCompDictionaryFractionShift = 15;
constexpr std::uint64_t kCompDictionaryFractionMask = 0x1F;
constexpr std::uint64_t kMinDictionarySize = 128 * 1024;
// Compression info of stored data: version 0, method 0, the smallest dictionary.
constexpr std::uint64_t kCompStored = 0;

// Host systems.
constexpr std::uint64_t kHostWindows = 0;
constexpr std::uint64_t kHostUnix = 1;

// Extra records of file and service headers.
constexpr std::uint64_t kRecordCrypt = 0x01;
constexpr std::uint64_t kRecordHash = 0x02;    // hash type, then the digest
constexpr std::uint64_t kRecordTime = 0x03;    // time flags, then the times
constexpr std::uint64_t kRecordVersion = 0x04; // flags, then the file version
constexpr std::uint64_t kRecordRedirection = 0x05;

constexpr std::uint64_t kHashBlake2sp = 0;
constexpr std::size_t kBlake2Size = 32;

// Time record flags: Unix times (4 bytes, seconds) instead of Windows FILETIMEs (8 bytes,
// 100 ns), which times are present, and whether nanoseconds (4 bytes each) follow them.
constexpr std::uint64_t kTimeUnix = 0x0001;
constexpr std::uint64_t kTimeModified = 0x0002;
constexpr std::uint64_t kTimeCreated = 0x0004;
constexpr std::uint64_t kTimeAccessed = 0x0008;
constexpr std::uint64_t kTimeUnixNanoseconds = 0x0010;

// Redirection types that make a link: Unix symlink, Windows symlink, Windows junction.
constexpr std::uint64_t kRedirUnixSymlink = 1;
constexpr std::uint64_t kRedirJunction = 3;

} // namespace rar::rar5
