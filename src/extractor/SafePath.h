#pragma once

// Writing below the output directory only. Names are checked and normalized first (see
// rar/EntryName.h); files and folders are then created component by component below an open
// descriptor of the output directory, never following a symbolic link.

#include <string>

namespace extractor {

// Creates the folders of `name` (a safe, normalized name) below `rootFd`, and `name` itself when
// `lastIsFolder`. Returns a descriptor of the folder that holds the last component (the caller
// closes it), or -1 with `error`.
int OpenParentFolder(int rootFd, const std::string& name, bool lastIsFolder, std::string& error);

// Creates (or truncates) the file `name` below `rootFd` for writing. -1 with `error`.
int CreateOutputFile(int rootFd, const std::string& name, std::string& error);

} // namespace extractor
