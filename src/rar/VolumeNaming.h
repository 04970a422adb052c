#pragma once

// Names of the volumes of a set.
//
// New naming (RAR 5.0 always, RAR 3.x+ when ArchiveInfo::newNaming): name.partN.rar, N
// keeping the digit width of the first volume's number (part01 .. part99, then part100).
// Old naming: name.rar, name.r00, name.r01, ... name.r99, name.s00, ...
//
// The tests on a volume's name (IsVolumeName, IsFirstVolumeName, LooksLikeNewNaming) ignore the
// letter case and look at the file name only, never at the folders before it.

#include <cstdint>
#include <string>

namespace rar {

// The name of the volume after `path`. For new naming the last group of digits before the
// extension is counted up; a name without digits falls back to the old scheme.
std::string NextVolumeName(const std::string& path, bool newNaming);

// The name of volume `index` (0-based) of a set whose base is `base` (without ".rar"),
// written with new naming and `digits` digits at least.
std::string VolumeName(const std::string& base, std::uint64_t index, int digits);

// The digit width the packer uses for `count` volumes: 1 for up to 9, 2 up to 99, ...
int VolumeDigits(std::uint64_t count);

// A volume of a set: name.rar (name.partN.rar among them) or a later volume of the old naming,
// name.r00 ... name.z99.
bool IsVolumeName(const std::string& path);

// The set's first volume: name.partN.rar with N = 1 (any number of leading zeros) or, without
// a part number, name.rar; never name.partN.rar with N > 1, nor name.rNN.
bool IsFirstVolumeName(const std::string& path);

// Guesses the naming from a volume's name: true for name.partN.rar.
bool LooksLikeNewNaming(const std::string& path);

} // namespace rar
