// Extraction while volumes arrive: a stored 1-file RAR 5.0 set is "downloaded" at a fixed rate
// into a folder the way the client does it (ranges of 1 MiB or a hundredth of a volume, eleven
// at a time, out of order, the rest of each volume garbage), the progress file written as the
// client writes it; the extractor runs on it. Every few milliseconds the bench compares the
// extracted file's size with the part of the video the progress file declares complete, and
// prints the distribution of the lag.
//
// Usage: arrival_bench UNRAR WORKDIR [VIDEO_MIB] [VOLUME_MIB] [RATE_MIB_PER_S]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "rar/ArchiveWriter.h"
#include "rar/ByteSource.h"
#include "rar/VolumeReader.h"

extern char** environ;

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr int kParallel = 11;
constexpr int kMinRanges = 100;
constexpr auto kSampleEvery = std::chrono::milliseconds(5);

void Die(const std::string& what) {
    std::fprintf(stderr, "arrival_bench: %s\n", what.c_str());
    std::exit(1);
}

std::vector<char> ReadAll(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        Die(path);
    std::vector<char> data(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::pread(fd, data.data() + got, data.size() - got, static_cast<off_t>(got));
        if (n <= 0)
            Die("read " + path);
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return data;
}

void WriteProgress(const std::string& path, std::int64_t value) {
    struct stat st {};
    std::string text = std::to_string(value);
    int fd;
    if (::stat(path.c_str(), &st) != 0) {
        text += "\r\n";
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    } else {
        text.append(15, '\0');
        fd = ::open(path.c_str(), O_RDWR);
    }
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        Die("progress file");
    ::close(fd);
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        Die("usage: arrival_bench UNRAR WORKDIR [VIDEO_MIB] [VOLUME_MIB] [RATE_MIB_PER_S]");
    const std::string unrar = argv[1], work = argv[2];
    const std::int64_t videoSize = (argc > 3 ? std::atoll(argv[3]) : 300) * kMiB;
    const std::int64_t volumeSize = (argc > 4 ? std::atoll(argv[4]) : 100) * kMiB;
    const double rate = (argc > 5 ? std::atof(argv[5]) : 10.0) * kMiB;
    for (const char* d : {"/data", "/packed", "/downloads", "/out", "/unrar"})
        ::mkdir((work + d).c_str(), 0755);

    {
        std::vector<char> video(static_cast<std::size_t>(videoSize));
        std::mt19937_64 random(5);
        for (std::size_t i = 0; i + 8 <= video.size(); i += 8) {
            std::uint64_t v = random();
            std::memcpy(video.data() + i, &v, 8);
        }
        int fd = ::open((work + "/data/movie.avi").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, video.data(), video.size()) != static_cast<ssize_t>(video.size()))
            Die("video");
        ::close(fd);
    }
    rar::PackOptions options;
    options.volumeSize = static_cast<std::uint64_t>(volumeSize);
    const std::vector<std::string> volumes = rar::PackArchive(
        {{work + "/data/movie.avi", "movie.avi"}}, work + "/packed", "movie", options);

    // Where the video's bytes lie in each volume.
    std::vector<std::int64_t> dataOffset, dataSize, before;
    std::int64_t sum = 0;
    for (const std::string& v : volumes) {
        rar::FileSource src;
        src.Open(v);
        rar::VolumeReader reader(src);
        rar::Entry e;
        if (reader.ReadArchiveHeader() != rar::Status::Ok || reader.ReadNext(e) != rar::Status::Ok)
            Die("layout of " + v);
        dataOffset.push_back(static_cast<std::int64_t>(e.dataOffset));
        dataSize.push_back(static_cast<std::int64_t>(e.packedSize));
        before.push_back(sum);
        sum += static_cast<std::int64_t>(e.packedSize);
    }

    const std::string unrarCopy = work + "/unrar/unrar";
    {
        std::vector<char> exe = ReadAll(unrar);
        int fd = ::open(unrarCopy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
        if (fd < 0 || ::write(fd, exe.data(), exe.size()) != static_cast<ssize_t>(exe.size()))
            Die("copy of the extractor");
        ::close(fd);
    }
    const std::string progress = work + "/unrar/unrar.txt";
    ::unlink(progress.c_str());
    const std::string output = work + "/out/movie.avi";

    std::atomic<std::int64_t> declared{0};
    std::atomic<bool> done{false};
    std::vector<std::int64_t> samples;
    // The lag just before each new count: how far behind the extractor still was when the next
    // data was declared.
    std::vector<std::int64_t> settled;
    std::thread sampler([&] {
        while (!done) {
            std::this_thread::sleep_for(kSampleEvery);
            const std::int64_t d = declared.load();
            if (d > 0)
                samples.push_back(std::max<std::int64_t>(0, d - FileSize(output)));
        }
    });

    std::mt19937 random(9);
    pid_t child = -1;
    const auto start = std::chrono::steady_clock::now();
    std::int64_t sent = 0;
    bool headReady = false;
    std::int64_t available = 0;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        const std::vector<char> data = ReadAll(volumes[v]);
        const std::int64_t length = static_cast<std::int64_t>(data.size());
        const int parts = static_cast<int>(std::max<std::int64_t>(kMinRanges, length / kMiB));
        std::vector<std::int64_t> startOf(parts + 1);
        for (int i = 0; i <= parts; ++i)
            startOf[i] = length * i / parts;
        const std::string target = work + "/downloads/" + volumes[v].substr(volumes[v].rfind('/') + 1);
        int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        {
            std::vector<char> garbage(static_cast<std::size_t>(length), '\x5a');
            if (::pwrite(fd, garbage.data(), garbage.size(), 0) != length)
                Die("garbage");
        }
        std::vector<bool> finished(parts, false);
        std::vector<int> running;
        int next = 0;
        auto fill = [&] {
            while (static_cast<int>(running.size()) < kParallel && next < parts)
                running.push_back(next++);
        };
        fill();
        while (!running.empty()) {
            const std::size_t pick = random() % running.size();
            const int r = running[pick];
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(pick));
            const std::int64_t n = startOf[r + 1] - startOf[r];
            if (::pwrite(fd, data.data() + startOf[r], static_cast<std::size_t>(n), startOf[r]) != n)
                Die("range");
            finished[r] = true;
            sent += n;
            if (std::all_of(finished.begin(), finished.begin() + 5, [](bool b) { return b; }))
                headReady = true;
            if (headReady) {
                int open = -1;
                for (int i = 1; i < parts; ++i)
                    if (!finished[i]) {
                        open = i;
                        break;
                    }
                available = open > 0 ? startOf[open - 1] : length;
            }
            fill();
            if (headReady &&
                std::all_of(finished.begin(), finished.begin() + r + 1, [](bool b) { return b; })) {
                if (declared > 0)
                    settled.push_back(std::max<std::int64_t>(0, declared - FileSize(output)));
                WriteProgress(progress, available);
                declared = before[v] +
                           std::clamp<std::int64_t>(available - dataOffset[v], 0, dataSize[v]);
                if (child < 0) {
                    std::string ss = "-ss" + std::to_string(available);
                    std::string out = work + "/out";
                    const char* args[] = {unrarCopy.c_str(), "x", "-y", "-dh", "-kb", "-idp",
                                          ss.c_str(), target.c_str(), out.c_str(), nullptr};
                    if (posix_spawn(&child, unrarCopy.c_str(), nullptr, nullptr,
                                    const_cast<char**>(args), environ) != 0)
                        Die("spawn");
                }
            }
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<std::int64_t>(sent / rate * 1e6)));
        }
        ::close(fd);
    }
    WriteProgress(progress, 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    done = true;
    sampler.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto report = [&](std::vector<std::int64_t>& v, const char* what) {
        std::sort(v.begin(), v.end());
        auto at = [&](double q) {
            return v.empty() ? 0.0 : v[static_cast<std::size_t>(q * (v.size() - 1))] / double(kMiB);
        };
        std::printf("lag (MiB) %s, %zu samples: p50 %.3f  p90 %.3f  p99 %.3f  max %.3f\n", what,
                    v.size(), at(0.5), at(0.9), at(0.99), at(1.0));
    };
    std::printf("arrival: %lld MiB in %zu volumes at %.1f MiB/s, %.1f s, extractor exit %d; "
                "limit 1 MiB + one 256 KiB read = 1.25 MiB\n",
                static_cast<long long>(videoSize / kMiB), volumes.size(), rate / kMiB, seconds,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    report(samples, "every 5 ms (includes the moment right after a count jumps)");
    report(settled, "just before each new count");
    std::printf("output complete: %s\n", FileSize(output) == videoSize ? "yes" : "NO");
    return 0;
}
