#pragma once

#include <QFile>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// A video file that is still being written, read as a byte stream by the player's input thread
// while its owner (the GUI thread) reports how far the file is written.
//
// Owner side: SetFinalSize once the whole size is known, SetWrittenSize whenever a further
// leading part of the file holds its final bytes (for an extracted file its size on disk; for a
// download with holes only its unbroken head, never the file size), SetComplete once nothing
// more comes. SetOpened once the media is open, Abort before the reader is stopped.
//
// Reader side: Open, Read, Seek, Close. A read waits until all the bytes it asks for are
// written, so it never ends short or early except at the true end of a complete file, with one
// exception while the media is opening (from Open until SetOpened): a read that starts beyond
// the written part ends at once as if the file ended there. A demuxer that looks for an index
// at the end of the file then plays without it instead of waiting for the whole download. (The
// seek itself succeeds: libVLC's prefetch layer, which makes the seek, takes a failed seek for a
// broken stream and ends the playback.) Once open, a read beyond the written part waits.
//
// Every member is safe to call from any thread; the reader side is meant for one thread at a
// time (calls from several are serialized).
class TGrowingFileSource {
public:
    // A size not known yet.
    static constexpr int64_t UnknownSize = -1;
    // How often a waiting read looks at the file's size on disk when polling is on.
    static constexpr std::chrono::milliseconds PollInterval{100};

    explicit TGrowingFileSource(QString fileName);
    TGrowingFileSource(const TGrowingFileSource&) = delete;
    TGrowingFileSource& operator=(const TGrowingFileSource&) = delete;

    // Owner side.
    // The file's whole size; reads end and seeks are bounded there. Negative sizes are ignored.
    void SetFinalSize(int64_t size);
    // The bytes from offset 0 up to `size` are written; the count never goes back.
    void SetWrittenSize(int64_t size);
    // Nothing more is written: reads no longer wait and end at the file's end.
    void SetComplete();
    // A waiting read also takes the file's size on disk as its written size (for a file that
    // is written in order and has no owner to report it).
    void SetPollFileSize(bool poll);
    // The media is open: from now on a read beyond the written part waits for its bytes.
    void SetOpened();
    // Ends a waiting read at once with an error; reads, seeks and opens fail until ClearAbort.
    void Abort();
    // Allows reading again once the aborted reader has been stopped.
    void ClearAbort();

    // Reader side.
    // (Re)opens the file for reading at offset 0; the media is opening again. False on failure.
    bool Open();
    // Reads `length` bytes at the read offset, waiting for them to be written. The count read
    // (less than `length` only at the end of the file), 0 at the end (or beyond the written part
    // while opening), -1 on abort or failure.
    int64_t Read(char* data, int64_t length);
    // Moves the read offset; false when the offset is negative or lies beyond the final size, or
    // the source is aborted or closed.
    bool Seek(int64_t offset);
    void Close();

    // Observation.
    const QString& FileName() const { return fileName_; }
    int64_t FinalSize() const;
    int64_t WrittenSize() const;
    bool Complete() const;
    bool Opened() const;
    bool Aborted() const;
    // A read is waiting for bytes not written yet.
    bool WaitingForData() const;

private:
    // What a read may do once it has waited.
    struct TReadPlan {
        int64_t offset = 0;
        int64_t length = 0; // bytes to read; 0 at the end, -1 on abort or failure
    };

    TReadPlan WaitForReadable(int64_t length);
    bool NotWrittenWhileOpening(int64_t offset) const;
    bool Readable(int64_t end) const;
    int64_t ReadEnd() const;
    void WaitForMoreData(std::unique_lock<std::mutex>& lock);
    void PollFileSize(std::unique_lock<std::mutex>& lock);
    int64_t ReadFile(const TReadPlan& plan, char* data);
    void UpdateWrittenSize(int64_t size);

    const QString fileName_;

    // The file and the read offset: touched by the reader side only, serialized by readerMutex_.
    std::mutex readerMutex_;
    QFile file_;

    // What owner and reader share, under stateMutex_.
    mutable std::mutex stateMutex_;
    std::condition_variable changed_;
    int64_t offset_ = 0;
    int64_t finalSize_ = UnknownSize;
    int64_t writtenSize_ = 0;
    bool complete_ = false;
    bool pollFileSize_ = false;
    bool opened_ = false;
    bool aborted_ = false;
    bool fileOpen_ = false;
    int waitingReads_ = 0;
};
