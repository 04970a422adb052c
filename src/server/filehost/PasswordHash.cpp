#include "server/filehost/PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <vector>

namespace filehost {

namespace {

constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string ToHex(const unsigned char* bytes, size_t count) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 15]);
    }
    return text;
}

std::vector<unsigned char> FromHex(const std::string& text) {
    std::vector<unsigned char> bytes;
    if (text.size() % 2 != 0)
        return bytes;
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return {};
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return bytes;
}

std::vector<unsigned char> Derive(const std::string& password,
                                  const std::vector<unsigned char>& salt, int iterations) {
    std::vector<unsigned char> key(kHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(key.size()), key.data()) != 1)
        throw std::runtime_error("PBKDF2 failed");
    return key;
}

} // namespace

std::string RandomHex(size_t count) {
    std::vector<unsigned char> bytes(count);
    if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        throw std::runtime_error("no random bytes");
    return ToHex(bytes.data(), count);
}

PasswordRecord HashPassword(const std::string& password, int iterations) {
    PasswordRecord record;
    record.iterations = iterations;
    record.salt = RandomHex(kSaltBytes);
    const auto key = Derive(password, FromHex(record.salt), iterations);
    record.hash = ToHex(key.data(), key.size());
    return record;
}

bool VerifyPassword(const PasswordRecord& record, const std::string& password) {
    if (record.iterations < kMinPasswordIterations || record.iterations > kMaxPasswordIterations)
        return false;
    const auto salt = FromHex(record.salt);
    const auto stored = FromHex(record.hash);
    if (salt.empty() || stored.size() != kHashBytes)
        return false;
    const auto key = Derive(password, salt, record.iterations);
    return CRYPTO_memcmp(key.data(), stored.data(), kHashBytes) == 0;
}

} // namespace filehost
