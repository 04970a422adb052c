#pragma once

// Entry names from an archive are untrusted: an entry may only ever be written below the folder
// it is extracted to. A name is refused when it is absolute, holds a ".." component, a drive
// letter ("C:"), a device name of the archive's home platform (CON, NUL, COM1, ...), a backslash
// or a control character. Used by the extractor for every entry it writes and by the client's
// decompressor for the entry it plays.

#include <string>
#include <vector>

namespace rar {

// True when `name` (UTF-8, "/" between folders) may be extracted; otherwise `why` says why.
bool IsSafeEntryName(const std::string& name, std::string& why);

// The name with "." and empty components removed ("a//./b" -> "a/b").
std::string NormalizedEntryName(const std::string& name);

// The components of `name` between its "/", without the empty and "." ones.
std::vector<std::string> EntryNameComponents(const std::string& name);

} // namespace rar
