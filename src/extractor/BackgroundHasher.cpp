#include "extractor/BackgroundHasher.h"

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
        jobs_.emplace_back(buffer, size);
    }
    changed_.notify_all();
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
        auto [buffer, size] = jobs_.front();
        jobs_.pop_front();
        busy_ = true;
        const bool blake2 = blake2_;
        lock.unlock();
        // Only this thread touches the running checksum between Begin and Finish.
        if (blake2)
            blake_.Update(buffer, size);
        else
            crc_ = rar::Crc32(crc_, buffer, size);
        lock.lock();
        busy_ = false;
        free_.push_back(buffer);
        changed_.notify_all();
    }
}

} // namespace extractor
