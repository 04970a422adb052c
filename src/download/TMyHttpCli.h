#pragma once

#include "net/THttpCli.h"

#include <QElapsedTimer>
#include <cstdint>

class QTimer;

// The HTTP client of one byte range of a multipart transfer. Created, configured and owned by
// TMultipartHttpDownloader; its users start a part that is not Started yet with GetASync.
class TMyHttpCli : public THttpCli {
    Q_OBJECT

public:
    explicit TMyHttpCli(QObject* owner = nullptr) : THttpCli(owner) {}

    // First byte of the range.
    int64_t StartOffset = 0;
    // Last byte of the range, inclusive; below StartOffset for an empty range.
    int64_t EndOffset = -1;
    // Position in the part list.
    int Index = 0;
    // Bytes of the range received and written since the range was (re)started.
    int64_t DataCount = 0;
    // The range's request has ended (with success, or by an abort).
    bool Done = false;

    // Bytes the range holds.
    int64_t RangeLength() const {
        return EndOffset >= StartOffset ? EndOffset - StartOffset + 1 : 0;
    }
    // An empty range is done from the start; starting it only sets Started.
    void GetASync() override;

private:
    friend class TMultipartHttpDownloader;

    // Set by the split for a range with no bytes: done at once, never requested.
    bool emptyRange_ = false;
    // The current answer is a 206 for the range asked for: its body goes to the file.
    bool accepting_ = false;
    // Failed attempts in a row that received no byte of a 206 answer.
    int fruitlessRestarts_ = 0;
    // The pending restart after a failure, or nullptr.
    QTimer* restartTimer_ = nullptr;
    // Since the last sign of life of the connection (start, header, data).
    QElapsedTimer activity_;
};
