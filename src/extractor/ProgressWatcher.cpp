#include "extractor/ProgressWatcher.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rar/ExtractorProtocol.h"
#include "rar/VolumeNaming.h"

namespace extractor {

namespace {

// A value is taken only when two reads in a row agree (a read racing a write may be torn).
constexpr int kMaxProgressReads = 20;
constexpr std::size_t kEventBuffer = 64 * 1024;

std::string DirName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

ProgressWatcher::ProgressWatcher(std::string firstVolume, std::string progressFile,
                                 std::int64_t initialCount, std::chrono::milliseconds idleTimeout)
    : progressFile_(std::move(progressFile)), newNaming_(rar::LooksLikeNewNaming(firstVolume)),
      idleTimeout_(idleTimeout) {
    volumeDir_ = DirName(firstVolume);
    progressDir_ = DirName(progressFile_);
    progressName_ = BaseName(progressFile_);
    names_.push_back(std::move(firstVolume));
    Volume& first = At(0);
    first.exists = true;
    if (initialCount > 0) {
        first.value = static_cast<std::uint64_t>(initialCount);
        first.sawNonZero = true;
    }
    lastChange_ = std::chrono::steady_clock::now();
}

ProgressWatcher::~ProgressWatcher() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ProgressWatcher::Start(std::string& error) {
    // Volumes present before the watch begins are older than every event in the queue.
    while (FileExists(VolumeName(newest_ + 1))) {
        ++newest_;
        At(newest_).exists = true;
        At(newest_).missedHistory = true;
    }
    fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ < 0) {
        error = std::string("inotify: ") + std::strerror(errno);
        return false;
    }
    const std::uint32_t volumeMask = IN_CREATE | IN_MOVED_TO;
    const std::uint32_t progressMask = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE;
    volumeWatch_ = ::inotify_add_watch(fd_, volumeDir_.c_str(), volumeMask);
    if (volumeWatch_ < 0) {
        error = volumeDir_ + ": " + std::strerror(errno);
        return false;
    }
    progressWatch_ = ::inotify_add_watch(fd_, progressDir_.c_str(), progressMask | IN_MASK_ADD);
    if (progressWatch_ < 0) {
        error = progressDir_ + ": " + std::strerror(errno);
        return false;
    }
    // A volume that appeared between the scan and the watch is only seen through its file; it
    // still tells that the volumes before it are complete (Complete asks the file system).
    std::int64_t value = 0;
    bool stop = false;
    if (ReadProgress(value, stop)) {
        if (stop)
            stopped_ = true;
        else if (newest_ == 0)
            Attribute(value, false);
        else
            lastValueZero_ = value == 0; // may be an older volume's: not attributed
    }
    return true;
}

void ProgressWatcher::SetNewNaming(bool newNaming) {
    if (newNaming == newNaming_)
        return;
    newNaming_ = newNaming;
    names_.resize(1);
    for (std::size_t i = 1; i < volumes_.size(); ++i)
        volumes_[i].exists = false;
    // Re-derive which volumes the events have shown.
    std::size_t newest = 0;
    while (created_.count(BaseName(VolumeName(newest + 1))) != 0 ||
           (newest + 1 <= newest_ && FileExists(VolumeName(newest + 1))))
        At(++newest).exists = true;
    newest_ = newest;
}

const std::string& ProgressWatcher::VolumeName(std::size_t index) {
    while (names_.size() <= index)
        names_.push_back(rar::NextVolumeName(names_.back(), newNaming_));
    return names_[index];
}

ProgressWatcher::Volume& ProgressWatcher::At(std::size_t index) {
    if (volumes_.size() <= index)
        volumes_.resize(index + 1);
    return volumes_[index];
}

bool ProgressWatcher::FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint64_t ProgressWatcher::FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool ProgressWatcher::Exists(std::size_t index) {
    DrainEvents();
    Volume& v = At(index);
    if (!v.exists && FileExists(VolumeName(index)))
        v.exists = true;
    return v.exists;
}

bool ProgressWatcher::OpenForWriting(const std::string& path) {
    // A read lease is refused while any process has the file open for writing.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    bool writing = ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0;
    if (!writing)
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    return writing;
}

bool ProgressWatcher::EndedWithoutHistory(std::size_t index) {
    // A volume that appeared before the watch began (the extractor started late): the writes
    // that would tell its early 0 from the last one were not seen. Its download is over when
    // the client reads 0 and nobody has the volume open for writing any more.
    Volume& v = At(index);
    if (v.ended || !v.missedHistory || index != newest_ || unordered_ || !lastValueZero_)
        return v.ended;
    if (!OpenForWriting(VolumeName(index)))
        v.ended = true;
    return v.ended;
}

bool ProgressWatcher::Complete(std::size_t index) {
    DrainEvents();
    if (EndedWithoutHistory(index))
        return true;
    // Volumes are downloaded strictly in order: once the next one exists this one is done.
    return Exists(index + 1);
}

std::uint64_t ProgressWatcher::Usable(std::size_t index) {
    DrainEvents();
    if (!Exists(index))
        return 0;
    const std::uint64_t size = FileSize(VolumeName(index));
    if (Complete(index))
        return size;
    return std::min(At(index).value, size);
}

bool ProgressWatcher::Ended(std::size_t index) {
    DrainEvents();
    return EndedWithoutHistory(index) && !Exists(index + 1);
}

bool ProgressWatcher::ReadProgress(std::int64_t& value, bool& stop) {
    std::string last;
    bool haveLast = false;
    for (int attempt = 0; attempt < kMaxProgressReads; ++attempt) {
        FILE* f = std::fopen(progressFile_.c_str(), "rb");
        if (f == nullptr)
            return false;
        char buffer[kMaxProgressText];
        std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        std::fclose(f);
        std::string text(buffer, n);
        if (haveLast && text == last) {
            // NoCount: empty (being created) or not a number.
            const ProgressReading reading = ReadProgressText(text, value);
            if (reading == ProgressReading::Stop)
                stop = true;
            return reading != ProgressReading::NoCount;
        }
        last = std::move(text);
        haveLast = true;
    }
    return false;
}

void ProgressWatcher::Attribute(std::int64_t value, bool counted) {
    lastValueZero_ = value == 0;
    if (unordered_)
        return;
    Volume& v = At(newest_);
    if (counted)
        ++v.writes;
    if (value > 0) {
        v.value = std::max(v.value, static_cast<std::uint64_t>(value));
        v.sawNonZero = true;
        return;
    }
    // A 0: early in a volume after the first (its second range not done yet), or the client's
    // last notification after the last volume. The early one is the first write of its volume
    // and the first volume has none; after any other write a 0 is the last one.
    if (newest_ == 0 || v.sawNonZero || v.writes >= 2)
        v.ended = true;
}

void ProgressWatcher::OnCreated(const std::string& name) {
    created_.insert(name);
    bool advanced = false;
    while (created_.count(BaseName(VolumeName(newest_ + 1))) != 0) {
        ++newest_;
        At(newest_).exists = true;
        advanced = true;
    }
    if (advanced)
        unordered_ = false;
}

void ProgressWatcher::OnProgressWritten(bool closed) {
    std::int64_t value = 0;
    bool stop = false;
    if (!ReadProgress(value, stop)) {
        if (closed && !unordered_)
            ++At(newest_).writes;
        return;
    }
    if (stop) {
        stopped_ = true;
        return;
    }
    Attribute(value, closed);
}

void ProgressWatcher::DrainEvents() {
    if (fd_ < 0)
        return;
    alignas(struct inotify_event) char buffer[kEventBuffer];
    for (;;) {
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        ++eventReads_;
        lastChange_ = std::chrono::steady_clock::now();
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<struct inotify_event*>(p);
            p += sizeof(struct inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                unordered_ = true;
                continue;
            }
            std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if (event->wd == progressWatch_ && name == progressName_ &&
                (event->mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO)) != 0) {
                ++writes_;
                OnProgressWritten((event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0);
            }
            if (event->wd == volumeWatch_ && (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0)
                OnCreated(name);
        }
    }
}

ProgressWatcher::Wake ProgressWatcher::Wait() {
    for (;;) {
        DrainEvents();
        if (stopped_)
            return Wake::Stopped;
        if (eventReads_ != eventReadsAtWake_) {
            eventReadsAtWake_ = eventReads_;
            return Wake::Changed;
        }
        auto now = std::chrono::steady_clock::now();
        auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastChange_);
        if (idle >= idleTimeout_)
            return Wake::IdleTimeout;
        pollfd p{fd_, POLLIN, 0};
        int timeout = static_cast<int>(std::min<std::int64_t>((idleTimeout_ - idle).count(), 1000));
        int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR)
            return Wake::IdleTimeout;
        // Once a second anyway: a volume that appeared without an event, or a volume whose
        // writer went away (rule 7), is found by asking the file system.
        if (r == 0)
            return Wake::Changed;
    }
}

void ProgressWatcher::NoteProgress() { lastChange_ = std::chrono::steady_clock::now(); }

} // namespace extractor
