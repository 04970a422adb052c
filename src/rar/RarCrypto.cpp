#include "rar/RarCrypto.h"

#include "rar/RarText.h"

#include <cstring>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <vector>

namespace rar {

namespace {

// RAR 3.x key derivation: rounds of SHA-1, and every 2^14th round gives one byte of the IV.
constexpr std::uint32_t kRar4KdfRounds = 1u << 18;
// The archiver hashes at most this many UTF-16 units of a password.
constexpr std::size_t kMaxPasswordUnits = 127;

struct MdCtx {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~MdCtx() { EVP_MD_CTX_free(ctx); }
    MdCtx() = default;
    MdCtx(const MdCtx&) = delete;
    MdCtx& operator=(const MdCtx&) = delete;
};

// HMAC-SHA256 with the pads hashed once and copied per message.
class HmacSha256 {
public:
    HmacSha256(const std::uint8_t* key, std::size_t keySize) {
        std::uint8_t block[64] = {};
        if (keySize > 64) {
            unsigned int n = 0;
            EVP_Digest(key, keySize, block, &n, EVP_sha256(), nullptr);
        } else if (keySize > 0) {
            std::memcpy(block, key, keySize);
        }
        std::uint8_t pad[64];
        for (int i = 0; i < 64; ++i)
            pad[i] = block[i] ^ 0x36;
        EVP_DigestInit_ex(inner_.ctx, EVP_sha256(), nullptr);
        EVP_DigestUpdate(inner_.ctx, pad, 64);
        for (int i = 0; i < 64; ++i)
            pad[i] = block[i] ^ 0x5C;
        EVP_DigestInit_ex(outer_.ctx, EVP_sha256(), nullptr);
        EVP_DigestUpdate(outer_.ctx, pad, 64);
    }
    void Mac(const std::uint8_t* msg, std::size_t size, std::uint8_t* out) {
        unsigned int n = 0;
        EVP_MD_CTX_copy_ex(work_.ctx, inner_.ctx);
        EVP_DigestUpdate(work_.ctx, msg, size);
        EVP_DigestFinal_ex(work_.ctx, out, &n);
        EVP_MD_CTX_copy_ex(work_.ctx, outer_.ctx);
        EVP_DigestUpdate(work_.ctx, out, 32);
        EVP_DigestFinal_ex(work_.ctx, out, &n);
    }

private:
    MdCtx inner_, outer_, work_;
};

} // namespace

Rar4Key DeriveRar4Key(const std::string& password, const std::uint8_t* salt, std::size_t saltSize) {
    std::u16string units = Utf8ToUtf16(password);
    if (units.size() > kMaxPasswordUnits)
        units.resize(kMaxPasswordUnits);
    std::vector<std::uint8_t> raw;
    raw.reserve(units.size() * 2 + 8);
    for (char16_t u : units) {
        raw.push_back(static_cast<std::uint8_t>(u & 0xFF));
        raw.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    raw.insert(raw.end(), salt, salt + saltSize);

    Rar4Key out;
    MdCtx sha, tmp;
    EVP_DigestInit_ex(sha.ctx, EVP_sha1(), nullptr);
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    for (std::uint32_t i = 0; i < kRar4KdfRounds; ++i) {
        EVP_DigestUpdate(sha.ctx, raw.data(), raw.size());
        std::uint8_t counter[3] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                   static_cast<std::uint8_t>(i >> 16)};
        EVP_DigestUpdate(sha.ctx, counter, 3);
        if (i % (kRar4KdfRounds / 16) == 0) {
            EVP_MD_CTX_copy_ex(tmp.ctx, sha.ctx);
            EVP_DigestFinal_ex(tmp.ctx, digest, &n);
            out.iv[i / (kRar4KdfRounds / 16)] = digest[19];
        }
    }
    EVP_DigestFinal_ex(sha.ctx, digest, &n);
    // The key is the first four digest words, each stored little-endian.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out.key[i * 4 + j] = digest[i * 4 + 3 - j];
    return out;
}

Rar5Keys DeriveRar5Keys(const std::string& password, const std::uint8_t* salt,
                        std::uint8_t kdfCount) {
    Rar5Keys out;
    if (kdfCount > kMaxRar5KdfCount)
        kdfCount = kMaxRar5KdfCount;
    HmacSha256 mac(reinterpret_cast<const std::uint8_t*>(password.data()), password.size());
    std::uint8_t first[20];
    std::memcpy(first, salt, 16);
    first[16] = 0;
    first[17] = 0;
    first[18] = 0;
    first[19] = 1;
    std::uint8_t u[32], fn[32];
    mac.Mac(first, sizeof first, u);
    std::memcpy(fn, u, 32);
    // The key after 2^kdfCount iterations; the same chain goes on 16 more for the checksum
    // key and 16 more for the password check.
    const std::uint32_t counts[3] = {(1u << kdfCount) - 1, 16, 16};
    std::uint8_t values[3][32];
    for (int stage = 0; stage < 3; ++stage) {
        for (std::uint32_t i = 0; i < counts[stage]; ++i) {
            mac.Mac(u, 32, u);
            for (int k = 0; k < 32; ++k)
                fn[k] ^= u[k];
        }
        std::memcpy(values[stage], fn, 32);
    }
    std::memcpy(out.key.data(), values[0], 32);
    std::memcpy(out.hashKey.data(), values[1], 32);
    for (int i = 0; i < 32; ++i)
        out.passwordCheck[i % 8] ^= values[2][i];
    return out;
}

DataKeys DeriveKeys(const std::string& password, const EncryptionParams& params) {
    DataKeys keys;
    if (params.format == Format::Rar4) {
        Rar4Key k = DeriveRar4Key(password, params.salt.data(), params.saltSize);
        std::memcpy(keys.key.data(), k.key.data(), kRar4KeySize);
        keys.keySize = kRar4KeySize;
        keys.iv = k.iv;
        return keys;
    }
    Rar5Keys k = DeriveRar5Keys(password, params.salt.data(), params.kdfCount);
    keys.key = k.key;
    keys.keySize = kRar5KeySize;
    keys.iv = params.iv;
    keys.hashKey = k.hashKey;
    keys.passwordOk = !params.hasPasswordCheck || k.passwordCheck == params.passwordCheck;
    return keys;
}

std::uint32_t Rar5MacCrc32(const std::array<std::uint8_t, 32>& hashKey, std::uint32_t crc) {
    std::uint8_t raw[4] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                           static_cast<std::uint8_t>(crc >> 16),
                           static_cast<std::uint8_t>(crc >> 24)};
    std::uint8_t digest[32];
    HmacSha256(hashKey.data(), hashKey.size()).Mac(raw, 4, digest);
    std::uint32_t out = 0;
    for (int i = 0; i < 32; ++i)
        out ^= static_cast<std::uint32_t>(digest[i]) << ((i & 3) * 8);
    return out;
}

std::array<std::uint8_t, 32> Rar5MacBlake2(const std::array<std::uint8_t, 32>& hashKey,
                                           const std::array<std::uint8_t, 32>& digest) {
    std::array<std::uint8_t, 32> out{};
    HmacSha256(hashKey.data(), hashKey.size()).Mac(digest.data(), digest.size(), out.data());
    return out;
}

std::array<std::uint8_t, 4> Rar5PasswordCheckSum(const std::array<std::uint8_t, 8>& check) {
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(check.data(), check.size(), digest, &n, EVP_sha256(), nullptr);
    return {digest[0], digest[1], digest[2], digest[3]};
}

struct AesCbc::Ctx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~Ctx() { EVP_CIPHER_CTX_free(ctx); }
};

AesCbc::AesCbc() : ctx_(std::make_unique<Ctx>()) {}
AesCbc::~AesCbc() = default;

bool AesCbc::Init(const std::uint8_t* key, int keySize, const std::uint8_t* iv, bool encrypt) {
    const EVP_CIPHER* cipher = keySize == 16   ? EVP_aes_128_cbc()
                               : keySize == 32 ? EVP_aes_256_cbc()
                                               : nullptr;
    if (cipher == nullptr || ctx_->ctx == nullptr)
        return false;
    if (EVP_CipherInit_ex(ctx_->ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx_->ctx, 0);
    return true;
}

bool AesCbc::Process(const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
    if (size % 16 != 0)
        return false;
    while (size > 0) {
        int chunk = static_cast<int>(size > (1u << 30) ? (1u << 30) : size);
        int n = 0;
        if (EVP_CipherUpdate(ctx_->ctx, out, &n, in, chunk) != 1 || n != chunk)
            return false;
        in += chunk;
        out += chunk;
        size -= static_cast<std::size_t>(chunk);
    }
    return true;
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

} // namespace rar
