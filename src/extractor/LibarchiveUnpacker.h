#pragma once

// Unpacks packed (compressed) entries with libarchive. libarchive reads the volumes through
// one read callback that walks them itself, as one stream: it waits for data the download has
// not completed, and returns 0 (libarchive's end of input) only after the last volume.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extractor/Extractor.h"
#include "rar/ByteSource.h"

struct archive;

namespace extractor {

class LibarchiveUnpacker {
public:
    // Skips the first `skip` entries (already extracted) and extracts the rest below `rootFd`.
    LibarchiveUnpacker(Extractor& extractor, int rootFd, std::size_t skip);
    // The exit code of this part; raises ExtractionEnd for "OK" and the idle timeout.
    int Run();

private:
    static long ReadCallback(::archive* a, void* self, const void** buffer);
    long Read(const void** buffer);

    Extractor& extractor_;
    int rootFd_;
    std::size_t skip_;
    std::size_t index_ = 0;
    std::unique_ptr<WatchedVolume> volume_;
    std::uint64_t offset_ = 0;
    std::vector<std::uint8_t> buffer_;
    // An end raised inside the callback, raised again once libarchive has returned.
    std::optional<ExtractionEnd> end_;
};

} // namespace extractor
