#pragma once

// Writes stored (unpacked) RAR archives, split into volumes of a given size, in RAR 5.0 or
// RAR 1.5-4.x form, with optional AES encryption of the data and of the headers.
//
// The layout is computed before anything is written, so the volume count (and with it the
// digit width of name.partN.rar) is known up front. A file whose size changes while it is
// packed is an error. Checksums: CRC32 by default, BLAKE2sp for RAR 5.0 on request. A piece
// that continues in the next volume carries the checksum of its own (stored) bytes, the last
// piece that of the whole file, as the archiver does.

#include "rar/RarTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace rar {

class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PackInput {
    std::string path; // file on disk
    std::string name; // name inside the archive (UTF-8, "/" between folders)
};

struct PackOptions {
    Format format = Format::Rar5;
    std::uint64_t volumeSize = 100ull * 1024 * 1024;
    std::string password; // empty: no encryption
    bool encryptHeaders = false;
    bool blake2 = false; // RAR 5.0 only
    // RAR 5.0: log2 of the PBKDF2 iterations (the archiver's default is 15).
    std::uint8_t kdfCount = 15;
};

// The smallest volume size accepted: room for the headers and some data.
constexpr std::uint64_t kMinVolumeSize = 1024;

// Writes baseName.part1.rar ... into outDir and returns their paths in order. A set that
// fits into one volume is written as a plain archive (no volume flags), still named
// baseName.part1.rar. Throws PackError.
std::vector<std::string> PackArchive(const std::vector<PackInput>& inputs,
                                     const std::string& outDir, const std::string& baseName,
                                     const PackOptions& options);

// Parses "100M", "64K", "2G", "12345" (bytes); 0 when the text is not a size.
std::uint64_t ParseVolumeSize(const std::string& text);

} // namespace rar
