#pragma once

// What the readers of the two archive generations (Rar4Blocks.cpp, Rar5Blocks.cpp) share with
// VolumeReader.cpp: bounded reads over a loaded header, the header CRC check, name clean-up
// and the key cache.
// Internal to src/rar.

#include "rar/Rar4Format.h"
#include "rar/Rar5Format.h"
#include "rar/RarCrypto.h"
#include "rar/RarHash.h"
#include "rar/VolumeReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rar {

namespace detail {

// The file type bits of a Unix mode, and their value for a symlink.
constexpr std::uint32_t kUnixFileType = 0xF000, kUnixSymlink = 0xA000;

// Bounded little-endian reads over one header. A read past the end sets `ok` false and
// yields 0, so a parser can read a group of fields and check once.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t pos, std::size_t end)
        : data_(data), end_(end), pos_(pos) {}
    Cursor(const std::vector<std::uint8_t>& data, std::size_t pos, std::size_t end)
        : Cursor(data.data(), pos, std::min(end, data.size())) {}
    bool ok = true;
    std::size_t Pos() const { return pos_; }
    std::size_t Left() const { return pos_ <= end_ ? end_ - pos_ : 0; }
    std::uint64_t Le(std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::uint64_t U64() { return Le(8); }
    std::uint64_t VInt() {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < rar5::kMaxVintSize; ++i) {
            if (!ok || Left() < 1) {
                ok = false;
                return 0;
            }
            std::uint8_t b = data_[pos_++];
            v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
            if ((b & 0x80) == 0)
                return v;
        }
        ok = false;
        return 0;
    }
    bool Bytes(void* out, std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return false;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    std::string Text(std::size_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    bool Skip(std::uint64_t n) {
        if (!ok || Left() < n) {
            ok = false;
            return false;
        }
        pos_ += static_cast<std::size_t>(n);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t end_;
    std::size_t pos_;
};

// The CRC stored in the first `crcSize` bytes of a loaded header (2 for RAR 4, 4 for RAR 5.0)
// matches the rest of it.
inline bool HeaderCrcMatches(const std::vector<std::uint8_t>& h, std::size_t crcSize) {
    if (h.size() < crcSize)
        return false;
    Cursor c(h, 0, crcSize);
    return c.Le(crcSize) == HeaderCrc(h.data(), h.size(), crcSize);
}

inline std::string CleanName(std::string name, bool backslashes) {
    // Names end at an embedded zero.
    std::size_t zero = name.find('\0');
    if (zero != std::string::npos)
        name.resize(zero);
    if (backslashes)
        std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Key derivations kept per volume (RAR 4 derives one per header salt).
constexpr std::size_t kKeyCacheSize = 4;

} // namespace detail

struct VolumeReader::KeyCache {
    struct Item {
        std::array<std::uint8_t, rar4::kSaltSize> salt;
        Rar4Key key;
    };
    std::vector<Item> items;
    bool haveRar5 = false;
    Rar5Keys rar5;
    const Rar4Key& Rar4(const std::string& password, const std::uint8_t* salt) {
        for (const Item& i : items)
            if (std::memcmp(i.salt.data(), salt, i.salt.size()) == 0)
                return i.key;
        if (items.size() >= detail::kKeyCacheSize)
            items.erase(items.begin());
        Item item{};
        std::memcpy(item.salt.data(), salt, item.salt.size());
        item.key = DeriveRar4Key(password, salt);
        items.push_back(item);
        return items.back().key;
    }
};

} // namespace rar
