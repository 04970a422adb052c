#include "rar/VolumeNaming.h"

#include <cctype>

namespace rar {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The file name of `path` (after its last "/"), in lower case.
std::string LowerFileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The digits N of a lower-case name.partN.rar, or empty for any other name.
std::string PartNumber(const std::string& name) {
    if (!EndsWith(name, ".rar"))
        return std::string();
    const std::size_t end = name.size() - 4;
    std::size_t first = end;
    while (first > 0 && IsDigit(name[first - 1]))
        --first;
    if (first == end || first < 5 || name.compare(first - 5, 5, ".part") != 0)
        return std::string();
    return name.substr(first, end - first);
}

std::string OldNextName(const std::string& path, std::size_t nameStart) {
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return path + ".r00";
    std::string ext = path.substr(dot + 1);
    if (ext.size() == 3 && std::isalpha(static_cast<unsigned char>(ext[0])) && IsDigit(ext[1]) &&
        IsDigit(ext[2]) && ext != "000") {
        int n = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
        char letter = ext[0];
        if (n > 99) {
            n = 0;
            ++letter;
        }
        std::string out = path.substr(0, dot + 1);
        out.push_back(letter);
        out.push_back(static_cast<char>('0' + n / 10));
        out.push_back(static_cast<char>('0' + n % 10));
        return out;
    }
    bool upper = !ext.empty() && std::isupper(static_cast<unsigned char>(ext[0]));
    return path.substr(0, dot) + (upper ? ".R00" : ".r00");
}

} // namespace

std::string NextVolumeName(const std::string& path, bool newNaming) {
    std::size_t slash = path.rfind('/');
    std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (!newNaming)
        return OldNextName(path, nameStart);
    std::size_t dot = path.rfind('.');
    std::size_t end = (dot == std::string::npos || dot < nameStart) ? path.size() : dot;
    // The last group of digits before the extension.
    std::size_t last = end;
    while (last > nameStart && !IsDigit(path[last - 1]))
        --last;
    if (last == nameStart)
        return OldNextName(path, nameStart);
    std::size_t first = last;
    while (first > nameStart && IsDigit(path[first - 1]))
        --first;
    std::string out = path;
    std::size_t i = last;
    while (i > first) {
        --i;
        if (out[i] == '9') {
            out[i] = '0';
        } else {
            ++out[i];
            return out;
        }
    }
    return out.substr(0, first) + "1" + out.substr(first); // 99 -> 100: one more digit
}

std::string VolumeName(const std::string& base, std::uint64_t index, int digits) {
    std::string number = std::to_string(index + 1);
    while (static_cast<int>(number.size()) < digits)
        number.insert(number.begin(), '0');
    return base + ".part" + number + ".rar";
}

int VolumeDigits(std::uint64_t count) {
    int digits = 1;
    for (std::uint64_t n = count; n >= 10; n /= 10)
        ++digits;
    return digits;
}

bool IsVolumeName(const std::string& path) {
    const std::string name = LowerFileName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string ext = name.substr(dot);
    if (ext == ".rar")
        return true;
    return ext.size() == 4 && ext[1] >= 'r' && ext[1] <= 'z' && IsDigit(ext[2]) && IsDigit(ext[3]);
}

bool IsFirstVolumeName(const std::string& path) {
    const std::string name = LowerFileName(path);
    const std::string number = PartNumber(name);
    if (number.empty())
        return EndsWith(name, ".rar");
    const std::size_t significant = number.find_first_not_of('0');
    return significant != std::string::npos &&
           number.compare(significant, std::string::npos, "1") == 0;
}

bool LooksLikeNewNaming(const std::string& path) {
    return !PartNumber(LowerFileName(path)).empty();
}

} // namespace rar
