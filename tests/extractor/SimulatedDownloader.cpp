#include "SimulatedDownloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

#include "extract/TDecompressor.h"

namespace {

constexpr int kMinRanges = 100;
constexpr std::int64_t kRangeUnit = 1024 * 1024;
constexpr int kHeadRanges = 5;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

SimulatedDownloader::SimulatedDownloader(QStringList sourceVolumes, QString compressedDir,
                                         QString unrarDir, SimulationOptions options)
    : sources_(std::move(sourceVolumes)), unrarDir_(std::move(unrarDir)), options_(options) {
    for (const QString& s : sources_)
        targets_.append(QDir(compressedDir).filePath(QFileInfo(s).fileName()));
}

void SimulatedDownloader::Run(
    const std::function<void()>& check,
    const std::function<void(const QString&, std::int64_t)>& start) {
    std::mt19937 random(options_.seed);
    // Writes the progress file exactly as the client does; its destructor is not wanted here.
    auto* writer = new TDecompressor();
    writer->SetUnrarDirectory(unrarDir_);
    bool started = false;
    bool headReady = false;
    std::int64_t available = 0;
    int rangesDone = 0;
    auto notify = [&](int volume, std::int64_t value) {
        writer->WriteProgressFile(value);
        if (!started && volume == 0) {
            started = true;
            start(targets_[0], value);
        }
    };
    for (int v = 0; v < sources_.size() && !stopped_; ++v) {
        const QByteArray data = ReadAll(sources_[v]);
        const std::int64_t length = data.size();
        int parts = static_cast<int>(std::max<std::int64_t>(kMinRanges, length / kRangeUnit));
        parts = static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(parts, length)));
        std::vector<std::int64_t> startOf(parts + 1);
        for (int i = 0; i <= parts; ++i)
            startOf[i] = length * i / parts;
        if (v == options_.recreatedVolume) {
            QFile empty(targets_[v]);
            EXPECT_TRUE(empty.open(QIODevice::WriteOnly | QIODevice::Truncate));
            empty.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            QFile::remove(targets_[v]);
        }
        {
            QByteArray garbage(length, Qt::Uninitialized);
            for (auto& c : garbage)
                c = static_cast<char>(random());
            QFile f(targets_[v]);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(garbage);
        }
        check();
        QFile file(targets_[v]);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        std::vector<bool> done(parts, false), begun(parts, false);
        std::vector<int> running;
        int next = 0;
        auto fill = [&] {
            while (static_cast<int>(running.size()) < options_.parallel && next < parts) {
                begun[next] = true;
                running.push_back(next++);
            }
        };
        fill();
        const bool stale = v == options_.staleVolume;
        while (!running.empty()) {
            std::size_t pick = random() % running.size();
            if (stale && running[pick] == 0 && running.size() > 1)
                pick = (pick + 1) % running.size();
            const int r = running[pick];
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(pick));
            file.seek(startOf[r]);
            file.write(data.constData() + startOf[r], startOf[r + 1] - startOf[r]);
            done[r] = true;
            ++rangesDone;
            if (std::all_of(done.begin(), done.begin() + std::min(kHeadRanges, parts),
                            [](bool d) { return d; }))
                headReady = true;
            if (headReady) {
                int firstOpen = -1;
                for (int i = 1; i < parts; ++i)
                    if (!done[i]) {
                        firstOpen = i;
                        break;
                    }
                if (firstOpen > 0)
                    available = startOf[firstOpen - 1];
                else if (!stale)
                    available = length; // every range done: the whole volume
            }
            fill();
            bool leading = std::all_of(done.begin(), done.begin() + r + 1, [](bool d) { return d; });
            if (headReady && leading)
                notify(v, available);
            check();
            if (options_.stopAfterRanges >= 0 && rangesDone >= options_.stopAfterRanges) {
                writer->WriteProgressFile(-1);
                stopped_ = true;
                break;
            }
            if (options_.pauseMicroseconds > 0)
                std::this_thread::sleep_for(std::chrono::microseconds(options_.pauseMicroseconds));
        }
    }
    if (!stopped_) {
        available = 0;
        notify(static_cast<int>(sources_.size()) - 1, 0);
        check();
    }
    // Leaves the progress file as it is: the test decides when the client ends.
    writer->SetUnrarDirectory(QStringLiteral("/nonexistent/"));
    writer->Release();
}

void PrefixChecker::Add(const QString& output, const QString& original) {
    files_.push_back({output, original});
}

void PrefixChecker::Check() {
    for (File& f : files_) {
        if (f.failed)
            continue;
        QFile out(f.output);
        if (!out.open(QIODevice::ReadOnly)) {
            f.verified = 0;
            continue;
        }
        QFile original(f.original);
        if (!original.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "original missing: " << f.original.toStdString();
            f.failed = true;
            continue;
        }
        const std::int64_t size = out.size();
        if (size < f.verified)
            f.verified = 0; // created anew
        if (size > original.size()) {
            ADD_FAILURE() << f.output.toStdString() << " is longer than its original";
            f.failed = true;
            continue;
        }
        out.seek(f.verified);
        original.seek(f.verified);
        const QByteArray got = out.read(size - f.verified);
        const QByteArray want = original.read(got.size());
        if (got != want) {
            std::int64_t at = f.verified;
            for (qsizetype i = 0; i < got.size() && got[i] == want[i]; ++i)
                ++at;
            ADD_FAILURE() << f.output.toStdString() << " differs from its original at byte " << at;
            f.failed = true;
            continue;
        }
        f.verified += got.size();
    }
}

void PrefixChecker::ExpectComplete() {
    Check();
    for (const File& f : files_)
        EXPECT_EQ(f.verified, QFileInfo(f.original).size()) << f.output.toStdString();
}

std::int64_t PrefixChecker::Verified(const QString& output) const {
    for (const File& f : files_)
        if (f.output == output)
            return f.verified;
    return -1;
}
