#include "extractor/SafePath.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace extractor {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

std::vector<std::string> Components(const std::string& name) {
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
    std::vector<std::string> parts = Components(name);
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
    for (const std::string& part : Components(name)) {
        if (!out.empty())
            out.push_back('/');
        out += part;
    }
    return out;
}

int OpenParentFolder(int rootFd, const std::string& name, bool lastIsFolder, std::string& error) {
    std::vector<std::string> parts = Components(name);
    std::size_t folders = lastIsFolder ? parts.size() : parts.size() - 1;
    int dir = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    if (dir < 0) {
        error = std::strerror(errno);
        return -1;
    }
    for (std::size_t i = 0; i < folders; ++i) {
        if (::mkdirat(dir, parts[i].c_str(), kFolderMode) != 0 && errno != EEXIST) {
            error = parts[i] + ": " + std::strerror(errno);
            ::close(dir);
            return -1;
        }
        int next = ::openat(dir, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir);
        if (next < 0) {
            error = parts[i] + ": " + std::strerror(errno);
            return -1;
        }
        dir = next;
    }
    return dir;
}

int CreateOutputFile(int rootFd, const std::string& name, std::string& error) {
    int dir = OpenParentFolder(rootFd, name, false, error);
    if (dir < 0)
        return -1;
    std::vector<std::string> parts = Components(name);
    // An existing file is replaced, not written through: it may be a hard link to a file
    // elsewhere.
    if (::unlinkat(dir, parts.back().c_str(), 0) != 0 && errno != ENOENT && errno != EISDIR) {
        error = name + ": " + std::strerror(errno);
        ::close(dir);
        return -1;
    }
    int fd = ::openat(dir, parts.back().c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0)
        error = name + ": " + std::strerror(errno);
    ::close(dir);
    return fd;
}

} // namespace extractor
