// Lists a volume set through libunrar.so the way the client's binding does (RAR_OM_LIST,
// every header read and skipped, volumes followed) and prints the best of N runs in ms.
// Usage: list_bench LIBUNRAR.so FIRST-VOLUME [RUNS]

#include "libunrar/UnrarInterface.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: list_bench LIBUNRAR.so FIRST-VOLUME [RUNS]\n");
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW);
    if (lib == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto open = reinterpret_cast<RAROpenArchiveEx_t>(dlsym(lib, "RAROpenArchiveEx"));
    auto read = reinterpret_cast<RARReadHeaderEx_t>(dlsym(lib, "RARReadHeaderEx"));
    auto process = reinterpret_cast<RARProcessFile_t>(dlsym(lib, "RARProcessFile"));
    auto close = reinterpret_cast<RARCloseArchive_t>(dlsym(lib, "RARCloseArchive"));
    const int runs = argc > 3 ? std::atoi(argv[3]) : 20;
    double best = 1e9;
    unsigned long long total = 0;
    int entries = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        RAROpenArchiveDataEx d;
        std::memset(&d, 0, sizeof d);
        d.ArcName = argv[2];
        d.OpenMode = RAR_OM_LIST;
        void* h = open(&d);
        if (h == nullptr) {
            std::fprintf(stderr, "open failed: %u\n", d.OpenResult);
            return 1;
        }
        auto header = std::make_unique<RARHeaderDataEx>();
        std::memset(header.get(), 0, sizeof *header);
        total = 0;
        entries = 0;
        int r;
        while ((r = read(h, header.get())) == 0) {
            total += (static_cast<unsigned long long>(header->UnpSizeHigh) << 32) | header->UnpSize;
            ++entries;
            if (process(h, RAR_SKIP, nullptr, nullptr) != 0)
                break;
        }
        close(h);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (ms < best)
            best = ms;
        if (r != ERAR_END_ARCHIVE) {
            std::fprintf(stderr, "listing ended with %d\n", r);
            return 1;
        }
    }
    std::printf("entries=%d unpacked=%llu best_ms=%.3f\n", entries, total, best);
    return 0;
}
