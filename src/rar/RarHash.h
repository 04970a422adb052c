#pragma once

// The checksums of RAR entries: CRC32 (both generations) and BLAKE2sp (RAR 5.0 on request).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace rar {

// Running CRC32 (the zlib polynomial RAR uses). Start with 0.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);
// The CRC32 of A followed by B, from CRC32(A), CRC32(B) and B's length.
std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t sizeB);

// The CRC a RAR header stores in its first `crcSize` bytes (2 for RAR 4, 4 for RAR 5.0): the
// CRC32 of the rest of the header, cut to that many bytes. `size` is at least `crcSize`.
std::uint32_t HeaderCrc(const std::uint8_t* header, std::size_t size, std::size_t crcSize);

// Running BLAKE2sp with a 32-byte digest, as RAR 5.0 stores it.
class Blake2sp {
public:
    Blake2sp();
    ~Blake2sp();
    Blake2sp(const Blake2sp&) = delete;
    Blake2sp& operator=(const Blake2sp&) = delete;

    void Reset();
    void Update(const void* data, std::size_t size);
    std::array<std::uint8_t, 32> Final();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace rar
