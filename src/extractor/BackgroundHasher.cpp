#include "extractor/BackgroundHasher.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace extractor {

BackgroundHasher::BackgroundHasher(std::size_t bufferSize, std::size_t buffers) {
    for (std::size_t i = 0; i < buffers; ++i) {
        storage_.push_back(std::make_unique<std::uint8_t[]>(bufferSize));
        free_.push_back(storage_.back().get());
    }
    worker_ = std::thread([this] { Work(); });
}

BackgroundHasher::~BackgroundHasher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void BackgroundHasher::Begin(bool blake2) {
    std::unique_lock<std::mutex> lock(mutex_);
    Drain(lock);
    blake2_ = blake2;
    readFailed_ = false;
    crc_ = 0;
    blake_.Reset();
}

std::uint8_t* BackgroundHasher::Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty(); });
    std::uint8_t* b = free_.back();
    free_.pop_back();
    return b;
}

void BackgroundHasher::Submit(std::uint8_t* buffer, std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back({buffer, size, buffer, -1, 0});
    }
    changed_.notify_all();
}

void BackgroundHasher::SubmitFileRange(int fd, std::uint64_t offset, std::size_t size) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (copy < 0) {
            readFailed_ = true;
            return;
        }
        changed_.wait(lock, [this] { return fileJobs_ < kMaxFileJobs; });
        ++fileJobs_;
        jobs_.push_back({nullptr, size, nullptr, copy, offset});
    }
    changed_.notify_all();
}

bool BackgroundHasher::ReadFailed() {
    std::unique_lock<std::mutex> lock(mutex_);
    Drain(lock);
    return readFailed_;
}

void BackgroundHasher::Release(std::uint8_t* buffer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }
    changed_.notify_all();
}

void BackgroundHasher::Drain(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

std::uint32_t BackgroundHasher::FinishCrc32() {
    std::unique_lock<std::mutex> lock(mutex_);
    Drain(lock);
    return crc_;
}

std::array<std::uint8_t, 32> BackgroundHasher::FinishBlake2() {
    std::unique_lock<std::mutex> lock(mutex_);
    Drain(lock);
    return blake_.Final();
}

void BackgroundHasher::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping
        const Job job = jobs_.front();
        jobs_.pop_front();
        busy_ = true;
        const bool blake2 = blake2_;
        lock.unlock();
        // Only this thread touches the running checksum between Begin and Finish.
        auto hash = [&](const std::uint8_t* data, std::size_t size) {
            if (blake2)
                blake_.Update(data, size);
            else
                crc_ = rar::Crc32(crc_, data, size);
        };
        bool failed = false;
        if (job.fd >= 0) {
            readBuffer_.resize(kHashReadSize);
            std::size_t done = 0;
            while (done < job.size) {
                const std::size_t want = std::min(kHashReadSize, job.size - done);
                ssize_t n = ::pread(job.fd, readBuffer_.data(), want,
                                    static_cast<off_t>(job.offset + done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    failed = true;
                    break;
                }
                hash(readBuffer_.data(), static_cast<std::size_t>(n));
                done += static_cast<std::size_t>(n);
            }
            ::close(job.fd);
        } else {
            hash(job.data, job.size);
        }
        lock.lock();
        busy_ = false;
        if (job.buffer != nullptr)
            free_.push_back(job.buffer);
        if (job.fd >= 0)
            --fileJobs_;
        if (failed)
            readFailed_ = true;
        changed_.notify_all();
    }
}

} // namespace extractor
