#include "playback/TGrowingFileSource.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace {

// The size of the file on disk now, or -1.
int64_t SizeOnDisk(const QString& fileName) {
    const QFileInfo info(fileName);
    return info.exists() ? info.size() : -1;
}

} // namespace

TGrowingFileSource::TGrowingFileSource(QString fileName)
    : fileName_(std::move(fileName)), file_(fileName_) {}

void TGrowingFileSource::SetFinalSize(int64_t size) {
    if (size < 0)
        return;
    std::lock_guard lock(stateMutex_);
    finalSize_ = size;
    writtenSize_ = std::min(writtenSize_, size);
    changed_.notify_all();
}

void TGrowingFileSource::SetWrittenSize(int64_t size) {
    std::lock_guard lock(stateMutex_);
    UpdateWrittenSize(size);
    changed_.notify_all();
}

void TGrowingFileSource::SetComplete() {
    std::lock_guard lock(stateMutex_);
    complete_ = true;
    changed_.notify_all();
}

void TGrowingFileSource::SetPollFileSize(bool poll) {
    std::lock_guard lock(stateMutex_);
    pollFileSize_ = poll;
    changed_.notify_all();
}

void TGrowingFileSource::SetOpened() {
    std::lock_guard lock(stateMutex_);
    opened_ = true;
}

void TGrowingFileSource::Abort() {
    std::lock_guard lock(stateMutex_);
    aborted_ = true;
    changed_.notify_all();
}

void TGrowingFileSource::ClearAbort() {
    std::lock_guard lock(stateMutex_);
    aborted_ = false;
}

bool TGrowingFileSource::Open() {
    std::lock_guard reader(readerMutex_);
    file_.close();
    {
        std::lock_guard lock(stateMutex_);
        fileOpen_ = false;
        opened_ = false;
        offset_ = 0;
        if (aborted_)
            return false;
    }
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    std::lock_guard lock(stateMutex_);
    fileOpen_ = true;
    return true;
}

int64_t TGrowingFileSource::Read(char* data, int64_t length) {
    if (length < 0 || data == nullptr)
        return -1;
    if (length == 0)
        return 0;
    std::lock_guard reader(readerMutex_);
    const TReadPlan plan = WaitForReadable(length);
    if (plan.length <= 0)
        return plan.length;
    return ReadFile(plan, data);
}

bool TGrowingFileSource::Seek(int64_t offset) {
    std::lock_guard reader(readerMutex_);
    std::lock_guard lock(stateMutex_);
    if (!fileOpen_ || aborted_ || offset < 0 || offset > ReadEnd())
        return false;
    offset_ = offset;
    return true;
}

void TGrowingFileSource::Close() {
    std::lock_guard reader(readerMutex_);
    file_.close();
    std::lock_guard lock(stateMutex_);
    fileOpen_ = false;
    opened_ = false;
}

int64_t TGrowingFileSource::FinalSize() const {
    std::lock_guard lock(stateMutex_);
    return finalSize_;
}

int64_t TGrowingFileSource::WrittenSize() const {
    std::lock_guard lock(stateMutex_);
    return writtenSize_;
}

bool TGrowingFileSource::Complete() const {
    std::lock_guard lock(stateMutex_);
    return complete_;
}

bool TGrowingFileSource::Opened() const {
    std::lock_guard lock(stateMutex_);
    return opened_;
}

bool TGrowingFileSource::Aborted() const {
    std::lock_guard lock(stateMutex_);
    return aborted_;
}

bool TGrowingFileSource::WaitingForData() const {
    std::lock_guard lock(stateMutex_);
    return waitingReads_ > 0;
}

TGrowingFileSource::TReadPlan TGrowingFileSource::WaitForReadable(int64_t length) {
    std::unique_lock lock(stateMutex_);
    if (!fileOpen_ || aborted_)
        return {offset_, -1};
    const int64_t end = ReadEnd();
    if (offset_ >= end)
        return {offset_, 0};
    const int64_t wanted = std::min(length, end - offset_);
    PollFileSize(lock);
    if (NotWrittenWhileOpening(offset_))
        return {offset_, 0};
    while (!aborted_ && !Readable(offset_ + wanted))
        WaitForMoreData(lock);
    if (aborted_)
        return {offset_, -1};
    return {offset_, wanted};
}

bool TGrowingFileSource::NotWrittenWhileOpening(int64_t offset) const {
    return !opened_ && !complete_ && offset > writtenSize_;
}

bool TGrowingFileSource::Readable(int64_t end) const {
    return complete_ || writtenSize_ >= end;
}

int64_t TGrowingFileSource::ReadEnd() const {
    return finalSize_ == UnknownSize ? std::numeric_limits<int64_t>::max() : finalSize_;
}

void TGrowingFileSource::WaitForMoreData(std::unique_lock<std::mutex>& lock) {
    ++waitingReads_;
    if (pollFileSize_)
        changed_.wait_for(lock, PollInterval);
    else
        changed_.wait(lock);
    PollFileSize(lock);
    --waitingReads_;
}

void TGrowingFileSource::PollFileSize(std::unique_lock<std::mutex>& lock) {
    if (!pollFileSize_)
        return;
    lock.unlock();
    const int64_t size = SizeOnDisk(fileName_);
    lock.lock();
    UpdateWrittenSize(size);
}

int64_t TGrowingFileSource::ReadFile(const TReadPlan& plan, char* data) {
    if (!file_.seek(plan.offset))
        return -1;
    int64_t done = 0;
    while (done < plan.length) {
        const int64_t count = file_.read(data + done, plan.length - done);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += count;
    }
    std::lock_guard lock(stateMutex_);
    offset_ = plan.offset + done;
    // The owner reported bytes the file does not hold: an error unless the file is complete.
    if (done == 0 && !complete_)
        return -1;
    return done;
}

void TGrowingFileSource::UpdateWrittenSize(int64_t size) {
    if (size < 0)
        return;
    if (finalSize_ != UnknownSize)
        size = std::min(size, finalSize_);
    writtenSize_ = std::max(writtenSize_, size);
}
