#pragma once

#include <string>
#include <string_view>

// The bytes of a form or query value: "+" is a blank, %XX the byte XX; a "%" without two hex
// digits stays as it is. The caller decides how to read the bytes as text.
std::string PercentDecode(std::string_view text);
