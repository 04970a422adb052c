#pragma once

// Entry names from an archive are untrusted: nothing may be written outside the output
// directory. A name is refused when it is absolute, holds a ".." component, a drive letter
// ("C:"), a device name of the archive's home platform (CON, NUL, COM1, ...), a backslash or a
// control character. Files and folders are created component by component below an open
// descriptor of the output directory, never following a symbolic link.

#include <string>

namespace extractor {

// True when `name` (UTF-8, "/" between folders) may be extracted; otherwise `why` says why.
bool IsSafeEntryName(const std::string& name, std::string& why);

// The name with "." and empty components removed ("a//./b" -> "a/b").
std::string NormalizedEntryName(const std::string& name);

// Creates the folders of `name` (a safe, normalized name) below `rootFd`, and `name` itself when
// `lastIsFolder`. Returns a descriptor of the folder that holds the last component (the caller
// closes it), or -1 with `error`.
int OpenParentFolder(int rootFd, const std::string& name, bool lastIsFolder, std::string& error);

// Creates (or truncates) the file `name` below `rootFd` for writing. -1 with `error`.
int CreateOutputFile(int rootFd, const std::string& name, std::string& error);

} // namespace extractor
