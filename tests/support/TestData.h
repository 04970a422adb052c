#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <cstdint>

namespace testenv {

// How long a test waits for an asynchronous outcome before it gives up.
constexpr int DefaultWaitMs = 60000;

// Serves events until `done()` holds or `ms` have passed; the final value of `done()`.
template <typename Pred> bool WaitUntil(Pred done, int ms = DefaultWaitMs) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// `size` bytes of a repeatable pseudo-random pattern: every offset holds a telling byte, so a
// misplaced or missing range shows in a comparison.
inline QByteArray PatternBytes(int64_t size, uint32_t seed = 7) {
    QByteArray data(static_cast<qsizetype>(size), Qt::Uninitialized);
    uint32_t state = seed;
    for (qsizetype i = 0; i < data.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = static_cast<char>(state >> 24);
    }
    return data;
}

// The whole file, or "<missing>" when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace testenv
