#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rar {

// Random access to the bytes of one volume. The size may grow between calls (a volume that
// is still being downloaded); it never shrinks.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The number of bytes available now.
    virtual std::uint64_t Size() = 0;
    // Copies up to `length` bytes from `offset`; returns how many were copied (fewer only at
    // the current end). Never throws; a read error counts as the end.
    virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
};

// A file on disk, opened read-only. Size() asks the file system each time, so a file that
// another process keeps appending to is seen growing.
class FileSource : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // False when the file cannot be opened (errno tells why).
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    std::uint64_t Size() override;
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    int fd_ = -1;
};

// Bytes in memory (tests, the fuzzer). `limit` pretends the source is shorter, to exercise
// the incremental reading.
class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size);
    explicit MemorySource(std::vector<std::uint8_t> data);
    void SetLimit(std::uint64_t limit) { limit_ = limit; }

    std::uint64_t Size() override;
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    std::vector<std::uint8_t> owned_;
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t limit_ = UINT64_MAX;
};

} // namespace rar
