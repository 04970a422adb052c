#include "rar/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rar {

FileSource::~FileSource() {
    Close();
}

bool FileSource::Open(const std::string& path) {
    Close();
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0)
        return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        errno = EISDIR;
        return false;
    }
    return true;
}

void FileSource::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::uint64_t FileSource::Size() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t FileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (fd_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX))
        return 0;
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < length) {
        ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

MemorySource::MemorySource(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

MemorySource::MemorySource(std::vector<std::uint8_t> data)
    : owned_(std::move(data)), data_(owned_.data()), size_(owned_.size()) {}

std::uint64_t MemorySource::Size() {
    return std::min<std::uint64_t>(size_, limit_);
}

std::size_t MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    std::uint64_t size = Size();
    if (offset >= size)
        return 0;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
    std::memcpy(buffer, data_ + offset, n);
    return n;
}

} // namespace rar
