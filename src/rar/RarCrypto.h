#pragma once

// RAR encryption, for headers and for stored data.
//
// RAR 4 (1.5-4.x, the 3.x scheme): AES-128-CBC. Key and IV come from the password (as
// UTF-16LE) and an 8-byte salt through 2^18 rounds of SHA-1 (DeriveRar4Key). Encrypted data
// is padded to a multiple of 16 bytes; the entry's packed size includes the padding.
//
// RAR 5.0: AES-256-CBC. The key comes from PBKDF2-HMAC-SHA256 over the UTF-8 password and a
// 16-byte salt with 2^kdfCount iterations; 16 and 32 further iterations give the key for the
// keyed checksums and the password check value (DeriveRar5Keys). Each entry carries its own
// IV (EncryptionParams::iv); each encrypted header is preceded by its IV.
//
// Decrypting a stored entry, for either generation:
//   auto keys = rar::DeriveKeys(password, *entry.encryption);   // slow: cache per salt
//   rar::AesCbc aes; aes.Init(keys.key.data(), keys.keySize, keys.iv.data(), false);
//   aes.Process(in, out, n);   // n a multiple of 16; call repeatedly over the data in order
// The last 16-byte block may hold padding beyond the entry's unpacked size: cut it off.

#include "rar/RarTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rar {

// Key sizes: AES-128 for RAR 4, AES-256 for RAR 5.0.
constexpr int kRar4KeySize = 16;
constexpr int kRar5KeySize = 32;

struct Rar4Key {
    std::array<std::uint8_t, kRar4KeySize> key{};
    std::array<std::uint8_t, 16> iv{};
};
// `password` in UTF-8 (converted to UTF-16LE here, as the archiver hashes it); salt 8 bytes,
// or none (saltSize 0) for the few 3.x archives written without one. Passwords are cut at 127
// UTF-16 units, as the archiver does. Passwords of 29 or more characters: the archiver's own
// SHA-1 of that era alters its input on long messages; that quirk is not reproduced, so such
// archives made by the archiver do not open here (our own packer writes the plain derivation).
Rar4Key DeriveRar4Key(const std::string& password, const std::uint8_t* salt,
                      std::size_t saltSize = 8);

struct Rar5Keys {
    std::array<std::uint8_t, kRar5KeySize> key{};
    std::array<std::uint8_t, 32> hashKey{};      // key of the keyed checksums
    std::array<std::uint8_t, 8> passwordCheck{}; // compare with EncryptionParams::passwordCheck
};
// `password` in UTF-8; salt 16 bytes; kdfCount the log2 of the iteration count (max 24).
Rar5Keys DeriveRar5Keys(const std::string& password, const std::uint8_t* salt,
                        std::uint8_t kdfCount);

// The largest kdfCount accepted (the archiver's own limit).
constexpr std::uint8_t kMaxRar5KdfCount = 24;

// Key material for one entry's data or for one encrypted header, ready for AesCbc.
struct DataKeys {
    std::array<std::uint8_t, 32> key{};
    int keySize = 0; // 16 (RAR 4) or 32 (RAR 5.0)
    std::array<std::uint8_t, 16> iv{};
    std::array<std::uint8_t, 32> hashKey{}; // RAR 5.0 only
    // False when the parameters carry a password check value that the password does not
    // match (RAR 5.0); RAR 4 has no check: a wrong password shows as a bad CRC.
    bool passwordOk = true;
};
DataKeys DeriveKeys(const std::string& password, const EncryptionParams& params);

// RAR 5.0 keyed checksums (EncryptionParams::tweakedChecksums): what the archive stores in
// place of the plain CRC32 / BLAKE2sp of the data.
std::uint32_t Rar5MacCrc32(const std::array<std::uint8_t, 32>& hashKey, std::uint32_t crc);
std::array<std::uint8_t, 32> Rar5MacBlake2(const std::array<std::uint8_t, 32>& hashKey,
                                           const std::array<std::uint8_t, 32>& digest);

// The 4-byte checksum stored after a RAR 5.0 password check value: SHA-256 of it, first 4.
std::array<std::uint8_t, 4> Rar5PasswordCheckSum(const std::array<std::uint8_t, 8>& check);

// AES works on blocks of this size: encrypted headers and data are padded to whole blocks.
constexpr std::size_t kAesBlockSize = 16;
// `n` bytes padded to whole AES blocks.
constexpr std::uint64_t RoundUp16(std::uint64_t n) {
    return (n + kAesBlockSize - 1) & ~std::uint64_t{kAesBlockSize - 1};
}

// AES-CBC without padding over a stream of 16-byte blocks.
class AesCbc {
public:
    AesCbc();
    ~AesCbc();
    AesCbc(const AesCbc&) = delete;
    AesCbc& operator=(const AesCbc&) = delete;

    // keySize 16 or 32 bytes; encrypt false to decrypt. False when OpenSSL refuses.
    bool Init(const std::uint8_t* key, int keySize, const std::uint8_t* iv, bool encrypt);
    // `size` must be a multiple of 16; in and out may be the same buffer.
    bool Process(const std::uint8_t* in, std::uint8_t* out, std::size_t size);

private:
    struct Ctx;
    std::unique_ptr<Ctx> ctx_;
};

// Fills `out` with random bytes (salts, IVs). False when the system has none to give.
bool RandomBytes(std::uint8_t* out, std::size_t size);

} // namespace rar
