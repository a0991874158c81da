#include "passwords.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <vector>

#include "asciiText.h"

namespace tonvert::service {

namespace {

std::vector<unsigned char> randomBytes(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    if (RAND_bytes(bytes.data(), static_cast<int>(n)) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

std::string toHex(const unsigned char* data, std::size_t n) {
    return ascii::hexText(std::string_view(reinterpret_cast<const char*>(data), n),
                          ascii::HexCase::lower);
}

std::string derive(const std::string& password, const std::string& salt, int rounds) {
    unsigned char key[32];
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()),
                      static_cast<int>(salt.size()), rounds, EVP_sha256(), sizeof key, key);
    return toHex(key, sizeof key);
}

} // namespace

std::string generatePassword() {
    static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";
    const std::size_t size = sizeof alphabet - 1;
    std::string password;
    while (password.size() < 10) {
        for (unsigned char byte : randomBytes(16)) {
            // Only bytes below a multiple of the alphabet's size keep the draw even.
            if (byte < 256 - 256 % size && password.size() < 10)
                password += alphabet[byte % size];
        }
    }
    return password;
}

std::string randomHex(std::size_t bytes) {
    const auto random = randomBytes(bytes);
    return toHex(random.data(), random.size());
}

std::string hashPassword(const std::string& password, int rounds) {
    const std::string salt = randomHex(16);
    return "pbkdf2-sha256$" + std::to_string(rounds) + "$" + salt + "$" +
           derive(password, salt, rounds);
}

bool passwordMatches(const std::string& password, const std::string& stored) {
    const auto a = stored.find('$'), b = stored.find('$', a + 1), c = stored.find('$', b + 1);
    if (a == std::string::npos || b == std::string::npos || c == std::string::npos ||
        stored.substr(0, a) != "pbkdf2-sha256")
        return false;
    const int rounds = std::stoi(stored.substr(a + 1, b - a - 1));
    const std::string expected = stored.substr(c + 1);
    const std::string actual = derive(password, stored.substr(b + 1, c - b - 1), rounds);
    return actual.size() == expected.size() &&
           CRYPTO_memcmp(actual.data(), expected.data(), actual.size()) == 0;
}

} // namespace tonvert::service
