#pragma once

#include <QString>
#include <cstdint>
#include <memory>

// A file opened for reading and writing, shared with every other opener (the extractor reads a
// volume while it is being written), written with positioned writes at 64-bit offsets, so
// blocks arriving over parallel connections go straight to their place.
class TSharedFileStream {
public:
    // Creates the file empty (truncating an existing one). Raises on failure.
    static std::unique_ptr<TSharedFileStream> Create(const QString& fileName);
    // Opens an existing file, or creates it when missing, keeping its content. Raises on failure.
    static std::unique_ptr<TSharedFileStream> Open(const QString& fileName);

    ~TSharedFileStream();
    TSharedFileStream(const TSharedFileStream&) = delete;
    TSharedFileStream& operator=(const TSharedFileStream&) = delete;

    // Writes all `length` bytes at `offset`; false on failure (disk full, bad offset).
    bool WriteAt(int64_t offset, const char* data, int64_t length);
    // Reads up to `length` bytes at `offset`; the count read, or -1 on failure.
    int64_t ReadAt(int64_t offset, char* data, int64_t length) const;
    // Current size of the file, or -1.
    int64_t Size() const;
    const QString& FileName() const { return fileName_; }

private:
    TSharedFileStream(QString fileName, int fd) : fileName_(std::move(fileName)), fd_(fd) {}
    static std::unique_ptr<TSharedFileStream> OpenWith(const QString& fileName, int flags);

    QString fileName_;
    int fd_;
};
