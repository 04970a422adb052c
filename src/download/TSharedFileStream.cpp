#include "download/TSharedFileStream.h"

#include "core/Errors.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

std::unique_ptr<TSharedFileStream> TSharedFileStream::OpenWith(const QString& fileName, int flags) {
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0)
        throw Exception(QStringLiteral("Cannot open file \"%1\": %2")
                            .arg(fileName, QString::fromLocal8Bit(std::strerror(errno))));
    return std::unique_ptr<TSharedFileStream>(new TSharedFileStream(fileName, fd));
}

std::unique_ptr<TSharedFileStream> TSharedFileStream::Create(const QString& fileName) {
    return OpenWith(fileName, O_TRUNC);
}

std::unique_ptr<TSharedFileStream> TSharedFileStream::Open(const QString& fileName) {
    return OpenWith(fileName, 0);
}

TSharedFileStream::~TSharedFileStream() {
    ::close(fd_);
}

bool TSharedFileStream::WriteAt(int64_t offset, const char* data, int64_t length) {
    if (offset < 0 || length < 0)
        return false;
    while (length > 0) {
        const ssize_t written = ::pwrite(fd_, data, static_cast<size_t>(length), offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        offset += written;
        length -= written;
    }
    return true;
}

int64_t TSharedFileStream::ReadAt(int64_t offset, char* data, int64_t length) const {
    if (offset < 0 || length < 0)
        return -1;
    int64_t total = 0;
    while (total < length) {
        const ssize_t got =
            ::pread(fd_, data + total, static_cast<size_t>(length - total), offset + total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

int64_t TSharedFileStream::Size() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}
