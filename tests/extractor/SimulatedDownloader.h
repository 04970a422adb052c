#pragma once

// A stand-in for the volume downloader, for the extractor's tests: it "downloads" finished
// volumes into a folder the way the client does. Each volume file is created at its full
// length filled with garbage; its byte ranges (at least 100, one per MiB) are then written in
// a random order, up to eleven running at once and always the earliest ones; after each range
// it computes the client's count of complete leading bytes and, where the client notifies,
// writes the progress file through TDecompressor::WriteProgressFile. The first notification
// starts the extractor (through the callback).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

struct SimulationOptions {
    unsigned seed = 1;
    // Ranges running at once.
    int parallel = 11;
    // This volume (0-based) finishes all its ranges before its first notification, which then
    // carries the previous volume's count.
    int staleVolume = -1;
    // This volume's first request fails once: its file is created empty, then removed and
    // created anew, as the client retries it.
    int recreatedVolume = -1;
    // After this many finished ranges the client ends the playback ("OK"); -1: never.
    int stopAfterRanges = -1;
    // Pause after every range, to let the extractor run meanwhile.
    int pauseMicroseconds = 200;
};

class SimulatedDownloader {
public:
    SimulatedDownloader(QStringList sourceVolumes, QString compressedDir, QString unrarDir,
                        SimulationOptions options);

    // Runs the download to its end (or to the stop). `check` runs after every change;
    // `start` gets the first volume's path and count at the first notification.
    void Run(const std::function<void()>& check,
             const std::function<void(const QString& firstVolume, std::int64_t available)>& start);

    // The volume paths in the compressed folder.
    const QStringList& Targets() const { return targets_; }
    bool Stopped() const { return stopped_; }

private:
    QStringList sources_;
    QStringList targets_;
    QString unrarDir_;
    SimulationOptions options_;
    bool stopped_ = false;
};

// Checks that files grow as prefixes of their originals, reading only what is new each time.
class PrefixChecker {
public:
    void Add(const QString& output, const QString& original);
    // Fails the running test (gtest ADD_FAILURE) when some output is not a prefix.
    void Check();
    // Every output exists and equals its original.
    void ExpectComplete();
    std::int64_t Verified(const QString& output) const;

private:
    struct File {
        QString output, original;
        std::int64_t verified = 0;
        bool failed = false;
    };
    std::vector<File> files_;
};
