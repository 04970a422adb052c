#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace filehost {

// One decoded field of an application/x-www-form-urlencoded body.
using FormField = std::pair<std::string, std::string>;

// Decodes one form value: "+" is a blank and "%XX" a byte. Each well-formed UTF-8 sequence of
// the bytes is taken as UTF-8 and every other byte as a Latin-1 character, so that a client
// that encodes characters up to 255 as single bytes and the rest as UTF-8 is understood, also
// when one value mixes both. The result is UTF-8.
// A "%" not followed by two hex digits stays as it is.
std::string DecodeFormValue(std::string_view text);

// The fields of a form body in their order; a piece without "=" is a field with an empty value.
std::vector<FormField> ParseForm(std::string_view body);

// The value of the first field named `name`, or empty.
std::string FormValue(const std::vector<FormField>& fields, std::string_view name);

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Percent-encodes every byte outside A-Z a-z 0-9 "-._~", for a path segment.
std::string EncodePathSegment(std::string_view text);

} // namespace filehost
