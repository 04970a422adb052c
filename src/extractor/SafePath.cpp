#include "extractor/SafePath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "rar/EntryName.h"

namespace extractor {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

} // namespace

int OpenParentFolder(int rootFd, const std::string& name, bool lastIsFolder, std::string& error) {
    std::vector<std::string> parts = rar::EntryNameComponents(name);
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
    std::vector<std::string> parts = rar::EntryNameComponents(name);
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
