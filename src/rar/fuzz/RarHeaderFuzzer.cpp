// libFuzzer target over the RAR header reader: the input is one volume. It is read whole,
// then again as a volume that grows in steps (the extractor's way), and both readings must
// end without a crash, a hang or a large allocation. Built and run by scripts/fuzz.

#include "rar/VolumeReader.h"

#include <cstddef>
#include <cstdint>

namespace {

// No input can hold more blocks than bytes; this only guards against a reader that loops.
constexpr int kMaxBlocks = 1 << 20;

void ReadAll(rar::MemorySource& src, bool growing, std::size_t size) {
    rar::VolumeReader reader(src);
    std::uint64_t limit = growing ? 1 : size;
    src.SetLimit(limit);
    auto grow = [&] {
        if (limit >= size)
            return false;
        limit = limit * 2 + 1 > size ? size : limit * 2 + 1;
        src.SetLimit(limit);
        return true;
    };
    rar::Status s;
    while ((s = reader.ReadArchiveHeader()) == rar::Status::NeedMore)
        if (!grow())
            return;
    if (s != rar::Status::Ok)
        return;
    std::uint64_t last = reader.Position();
    for (int i = 0; i < kMaxBlocks; ++i) {
        rar::Entry e;
        s = reader.ReadNext(e);
        if (s == rar::Status::NeedMore) {
            if (!grow())
                return;
            continue;
        }
        if (s != rar::Status::Ok)
            return;
        if (reader.Position() <= last)
            __builtin_trap(); // the reader must always move on
        last = reader.Position();
    }
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rar::MemorySource whole(data, size);
    ReadAll(whole, false, size);
    rar::MemorySource growing(data, size);
    ReadAll(growing, true, size);
    return 0;
}
