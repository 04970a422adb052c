#pragma once

// Computes an entry's CRC32 or BLAKE2sp on a second thread while the extracting thread goes on
// reading and writing: the checksum pass costs about as much as copying the data, so on a
// complete set doing it beside the copy keeps extraction near the speed of a plain copy.
// Buffers come from a small pool; one handed to Submit is hashed and then given back.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rar/RarHash.h"

namespace extractor {

// File ranges waiting for the checksum thread at once, and its read size for them.
constexpr int kMaxFileJobs = 4;
constexpr std::size_t kHashReadSize = 256 * 1024;

class BackgroundHasher {
public:
    BackgroundHasher(std::size_t bufferSize, std::size_t buffers);
    ~BackgroundHasher();
    BackgroundHasher(const BackgroundHasher&) = delete;
    BackgroundHasher& operator=(const BackgroundHasher&) = delete;

    // Starts a new checksum (BLAKE2sp when `blake2`, CRC32 otherwise).
    void Begin(bool blake2);
    // A free buffer of bufferSize bytes (waits for one).
    std::uint8_t* Acquire();
    // Hashes the first `size` bytes of `buffer` (from Acquire) and then frees it.
    void Submit(std::uint8_t* buffer, std::size_t size);
    // Hashes `size` bytes of the file `fd` from `offset`, read on the checksum thread (the
    // descriptor is duplicated). False when the bytes could not be read.
    void SubmitFileRange(int fd, std::uint64_t offset, std::size_t size);
    // A read of a submitted file range failed: the checksum is void.
    bool ReadFailed();
    // Gives back a buffer from Acquire unused.
    void Release(std::uint8_t* buffer);
    // Waits for every submitted buffer; the checksum of all of them.
    std::uint32_t FinishCrc32();
    std::array<std::uint8_t, 32> FinishBlake2();

private:
    void Work();
    void Drain(std::unique_lock<std::mutex>& lock);

    std::vector<std::unique_ptr<std::uint8_t[]>> storage_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint8_t*> free_;
    struct Job {
        const std::uint8_t* data;
        std::size_t size;
        std::uint8_t* buffer; // from the pool, or null
        int fd;               // a file to read the bytes from (closed after), or -1
        std::uint64_t offset;
    };
    std::deque<Job> jobs_;
    int fileJobs_ = 0;
    bool readFailed_ = false;
    std::vector<std::uint8_t> readBuffer_;
    bool busy_ = false;
    bool stop_ = false;
    bool blake2_ = false;
    std::uint32_t crc_ = 0;
    rar::Blake2sp blake_;
    std::thread worker_;
};

} // namespace extractor
