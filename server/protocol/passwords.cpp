#include "protocol/passwords.h"

#include <argon2.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <stdexcept>
#include <vector>

#include "asciiText.h"
#include "store/randomHex.h"

namespace tonvert::service {

namespace {

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

std::string hashPassword(const std::string& password, const HashCost& cost) {
    constexpr std::size_t kSaltBytes = 16, kHashBytes = 32;
    const auto salt = randomBytes(kSaltBytes);
    std::string encoded(argon2_encodedlen(cost.passes, cost.memoryKib, cost.lanes, kSaltBytes,
                                          kHashBytes, Argon2_id),
                        '\0');
    const int result = argon2id_hash_encoded(
        cost.passes, cost.memoryKib, cost.lanes, password.data(), password.size(), salt.data(),
        salt.size(), kHashBytes, encoded.data(), encoded.size());
    if (result != ARGON2_OK)
        throw std::runtime_error(std::string("cannot hash a password: ") +
                                 argon2_error_message(result));
    encoded.resize(encoded.find('\0'));
    return encoded;
}

std::string pbkdf2Hash(const std::string& password, int rounds) {
    const std::string salt = randomHex(16);
    return "pbkdf2-sha256$" + std::to_string(rounds) + "$" + salt + "$" +
           derive(password, salt, rounds);
}

bool passwordMatches(const std::string& password, const std::string& stored) {
    if (stored.rfind("$argon2id$", 0) == 0)
        return argon2id_verify(stored.c_str(), password.data(), password.size()) == ARGON2_OK;
    const auto a = stored.find('$'), b = stored.find('$', a + 1), c = stored.find('$', b + 1);
    if (a == std::string::npos || b == std::string::npos || c == std::string::npos ||
        stored.substr(0, a) != "pbkdf2-sha256")
        return false;
    const std::string roundsText = stored.substr(a + 1, b - a - 1);
    if (roundsText.empty() || roundsText.size() > 7 || !ascii::allDigits(roundsText))
        return false;
    const std::string expected = stored.substr(c + 1);
    const std::string actual =
        derive(password, stored.substr(b + 1, c - b - 1), std::stoi(roundsText));
    return actual.size() == expected.size() &&
           CRYPTO_memcmp(actual.data(), expected.data(), actual.size()) == 0;
}

bool needsRehash(const std::string& stored, const HashCost& cost) {
    const std::string current = "$argon2id$v=19$m=" + std::to_string(cost.memoryKib) +
                                ",t=" + std::to_string(cost.passes) +
                                ",p=" + std::to_string(cost.lanes) + "$";
    return stored.rfind(current, 0) != 0;
}

} // namespace tonvert::service
