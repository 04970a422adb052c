#pragma once

// Which bytes of the volumes of a set that is still being downloaded may be used, decided
// from the volume files that exist and from the client's progress file (see the rules at the
// top of main.cpp). One inotify queue watches the volumes' folder and the progress file's
// folder, so the order of "a volume file appeared" and "the progress file was written" is the
// order the kernel saw them in.

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace extractor {

// Without any change for this long the extraction gives up.
constexpr std::chrono::milliseconds kDefaultIdleTimeout{10 * 60 * 1000};

class ProgressWatcher {
public:
    // `initialCount`: the count the extractor was started with (-ss), leading bytes of the first
    // volume known complete.
    ProgressWatcher(std::string firstVolume, std::string progressFile, std::int64_t initialCount,
                    std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout);
    ~ProgressWatcher();
    ProgressWatcher(const ProgressWatcher&) = delete;
    ProgressWatcher& operator=(const ProgressWatcher&) = delete;

    // Sets up the watches and reads the progress file once. False (with `error`) when the
    // watches cannot be set up.
    bool Start(std::string& error);

    // Volume names follow the first volume's: name.partN.rar (new naming) or name.rar, .r00...
    // (rar/VolumeNaming.h). The naming is guessed from the first volume's name until set.
    void SetNewNaming(bool newNaming);
    const std::string& VolumeName(std::size_t index);

    // The file of volume `index` exists (it may still be growing).
    bool Exists(std::size_t index);
    // Every byte of volume `index` is on disk: a later volume exists, or the download ended
    // with this volume as its last.
    bool Complete(std::size_t index);
    // The leading bytes of volume `index` that may be read now.
    std::uint64_t Usable(std::size_t index);
    // The download ended (the client's last notification was seen) and `index` is the newest
    // volume: no further volume will come.
    bool Ended(std::size_t index);

    // The client ended the playback ("OK" or a negative value in the progress file).
    bool Stopped() const { return stopped_; }

    enum class Wake { Changed, Stopped, IdleTimeout };
    // Waits for the next change of the volumes' folder or the progress file. IdleTimeout when
    // nothing changed (and NoteProgress was not called) for the idle timeout.
    Wake Wait();
    // The extraction made progress: restarts the idle clock.
    void NoteProgress();

    // Events read so far (tests and the report).
    std::uint64_t ProgressWrites() const { return writes_; }

private:
    struct Volume {
        std::uint64_t value = 0;  // largest count attributed to this volume
        bool sawNonZero = false;  // a non-zero count was attributed to it
        int writes = 0;           // progress writes attributed to it
        bool ended = false;       // the final 0 was attributed to it
        bool exists = false;      // its file was seen
        // It existed before the watch began: its earlier progress writes were not seen.
        bool missedHistory = false;
    };
    Volume& At(std::size_t index);
    void DrainEvents();
    void OnCreated(const std::string& name);
    void OnProgressWritten(bool closed);
    bool ReadProgress(std::int64_t& value, bool& stop);
    void Attribute(std::int64_t value, bool counted);
    bool EndedWithoutHistory(std::size_t index);
    static bool FileExists(const std::string& path);
    static bool OpenForWriting(const std::string& path);
    static std::uint64_t FileSize(const std::string& path);

    std::string progressFile_;
    std::string volumeDir_, progressDir_, progressName_;
    std::vector<std::string> names_;
    bool newNaming_;
    std::vector<Volume> volumes_;
    // Names created in the volumes' folder since the watch began.
    std::set<std::string> created_;
    // The newest volume known to exist, in the order of the event queue: progress writes are
    // attributed to it.
    std::size_t newest_ = 0;
    // The event queue overflowed: the order is lost until the next volume appears.
    bool unordered_ = false;
    bool stopped_ = false;
    // The progress file read 0 the last time.
    bool lastValueZero_ = false;
    std::uint64_t writes_ = 0;
    // Reads of the event queue that found events, and their count when Wait last returned: a
    // change drained by some other call must still end the next Wait.
    std::uint64_t eventReads_ = 0;
    std::uint64_t eventReadsAtWake_ = 0;
    int fd_ = -1;
    int volumeWatch_ = -1, progressWatch_ = -1;
    std::chrono::milliseconds idleTimeout_;
    std::chrono::steady_clock::time_point lastChange_;
};

} // namespace extractor
