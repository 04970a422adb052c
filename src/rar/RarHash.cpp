#include "rar/RarHash.h"

#include <algorithm>
#include <blake2.h>
#include <climits>
#include <zlib.h>

namespace rar {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const Bytef*>(data);
    // zlib takes an unsigned int length: feed large buffers in pieces.
    while (size > 0) {
        uInt n = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX / 2));
        crc = static_cast<std::uint32_t>(::crc32(crc, p, n));
        p += n;
        size -= n;
    }
    return crc;
}

std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t sizeB) {
    return static_cast<std::uint32_t>(::crc32_combine(crcA, crcB, static_cast<z_off_t>(sizeB)));
}

std::uint32_t HeaderCrc(const std::uint8_t* header, std::size_t size, std::size_t crcSize) {
    const std::uint32_t crc = Crc32(0, header + crcSize, size - crcSize);
    return crcSize >= sizeof crc ? crc : crc & ((std::uint32_t{1} << (8 * crcSize)) - 1);
}

struct Blake2sp::State {
    blake2sp_state s;
};

Blake2sp::Blake2sp() : state_(std::make_unique<State>()) {
    Reset();
}
Blake2sp::~Blake2sp() = default;

void Blake2sp::Reset() {
    blake2sp_init(&state_->s, BLAKE2S_OUTBYTES);
}

void Blake2sp::Update(const void* data, std::size_t size) {
    if (size > 0)
        blake2sp_update(&state_->s, static_cast<const std::uint8_t*>(data), size);
}

std::array<std::uint8_t, 32> Blake2sp::Final() {
    std::array<std::uint8_t, 32> out{};
    blake2sp_final(&state_->s, out.data(), out.size());
    return out;
}

} // namespace rar
