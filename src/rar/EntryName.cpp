#include "rar/EntryName.h"

#include <cctype>

namespace rar {

namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, also with an extension ("nul.txt").
bool IsDeviceName(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.'))
        stem.pop_back();
    stem = Upper(stem);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
        stem[3] >= '1' && stem[3] <= '9')
        return true;
    return false;
}

} // namespace

std::vector<std::string> EntryNameComponents(const std::string& name) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        std::string part = name.substr(start, slash - start);
        if (!part.empty() && part != ".")
            parts.push_back(part);
        start = slash + 1;
    }
    return parts;
}

bool IsSafeEntryName(const std::string& name, std::string& why) {
    if (name.empty()) {
        why = "empty name";
        return false;
    }
    if (name[0] == '/') {
        why = "absolute path";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f) {
            why = "control character in the name";
            return false;
        }
        if (c == '\\') {
            why = "backslash in the name";
            return false;
        }
    }
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') {
        why = "drive letter";
        return false;
    }
    std::vector<std::string> parts = EntryNameComponents(name);
    if (parts.empty()) {
        why = "empty name";
        return false;
    }
    for (const std::string& part : parts) {
        if (part == "..") {
            why = "\"..\" in the path";
            return false;
        }
        if (part.find(':') != std::string::npos) {
            why = "drive letter or stream name";
            return false;
        }
        if (IsDeviceName(part)) {
            why = "device name";
            return false;
        }
    }
    return true;
}

std::string NormalizedEntryName(const std::string& name) {
    std::string out;
    for (const std::string& part : EntryNameComponents(name)) {
        if (!out.empty())
            out.push_back('/');
        out += part;
    }
    return out;
}

} // namespace rar
