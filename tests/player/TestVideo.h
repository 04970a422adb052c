#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <ostream>

namespace testenv {

// A sample video made with ffmpeg from its test sources.
struct TTestVideo {
    const char* name;         // for test names: "avi", "mkv"
    const char* extension;    // ".avi"
    const char* videoEncoder; // ffmpeg encoder names
    const char* audioEncoder;
    bool lengthInHeader;      // the player knows the length before the file is complete
    const char* muxerOptions; // ffmpeg options of the container, blank-separated
};

inline void PrintTo(const TTestVideo& video, std::ostream* os) {
    *os << video.name;
}

// The ffmpeg encoder is there (libx264 is not in every ffmpeg).
bool HasEncoder(const QString& encoder);

// Makes `seconds` of 320x240 test picture with a tone into `path`; the error text, or empty.
QString MakeTestVideo(const TTestVideo& video, const QString& path, int seconds);

// Writes a finished file into a growing copy the way the extractor does, in order: at once up
// to a size, or a chunk every interval. Every write is reported with the copy's new size.
class TGrowingFileWriter {
public:
    using TWrittenEvent = std::function<void(int64_t size)>;

    // Reads `from` whole; the copy at `to` starts empty.
    TGrowingFileWriter(const QString& from, QString to, TWrittenEvent onWritten);

    const QString& FileName() const { return to_; }
    int64_t FinalSize() const { return content_.size(); }
    int64_t WrittenSize() const { return written_; }
    bool Complete() const { return written_ == FinalSize(); }

    // Appends the bytes up to `size` (bounded by the final size) now.
    void WriteUpTo(int64_t size);
    // Appends `chunk` bytes every `intervalMs` (served by the event loop) until complete.
    void Trickle(int64_t chunk, int intervalMs);
    // Writes nothing more until told again.
    void Stall() { trickle_.stop(); }

private:
    QByteArray content_;
    QString to_;
    TWrittenEvent onWritten_;
    int64_t written_ = 0;
    int64_t trickleChunk_ = 1;
    QTimer trickle_;
};

} // namespace testenv
