#pragma once

// Text conversions for RAR names and passwords.

#include <cstdint>
#include <string>

namespace rar {

// UTF-8 to UTF-16; invalid or cut sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& s);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& s);
// UTF-32 (wchar_t on Linux) to UTF-8 and back.
std::string Utf32ToUtf8(const std::u32string& s);
std::u32string Utf8ToUtf32(const std::string& s);
// True when `s` is well-formed UTF-8.
bool IsValidUtf8(const std::string& s);
// An 8-bit name of an old archive: kept when it is valid UTF-8 (Unix hosts), otherwise read
// in the DOS code page 437 (DOS and OS/2 hosts) or Windows-1252 (the others).
std::string Legacy8BitToUtf8(const std::string& s, bool dosCodePage);

} // namespace rar
