#pragma once

#include <string>

namespace filehost {

// A password as the store keeps it: PBKDF2-HMAC-SHA256 of the password's UTF-8 bytes with a
// random salt. Salt and hash are lower-case hex.
struct PasswordRecord {
    int iterations = 0;
    std::string salt;
    std::string hash;
};

// Iterations for new accounts; `add-user --iterations` overrides it.
constexpr int kDefaultPasswordIterations = 100000;
// Bounds accepted from the command line and from the accounts file.
constexpr int kMinPasswordIterations = 1000;
constexpr int kMaxPasswordIterations = 10000000;

PasswordRecord HashPassword(const std::string& password, int iterations);
// Constant-time comparison of the derived key with the stored one.
bool VerifyPassword(const PasswordRecord& record, const std::string& password);

// `count` random bytes as lower-case hex (OpenSSL's generator).
std::string RandomHex(size_t count);

} // namespace filehost
