#include "store/formTokens.h"

#include <charconv>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "asciiText.h"
#include "store/randomHex.h"

namespace tonvert::service {

namespace {

std::string signature(const std::string& key, const std::string& signedPart) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(signedPart.data()), signedPart.size(), digest,
         &size);
    return ascii::hexText(std::string_view(reinterpret_cast<const char*>(digest), 16),
                          ascii::HexCase::lower);
}

} // namespace

std::string signedFormToken(const std::string& key, std::int64_t issued) {
    const std::string signedPart = std::to_string(issued) + "-" + randomHex(8);
    return signedPart + "-" + signature(key, signedPart);
}

std::optional<std::int64_t> formTokenIssued(const std::string& key, const std::string& token) {
    const auto last = token.rfind('-');
    if (last == std::string::npos)
        return std::nullopt;
    const std::string signedPart = token.substr(0, last);
    const std::string expected = signature(key, signedPart);
    const std::string given = token.substr(last + 1);
    if (given.size() != expected.size() ||
        CRYPTO_memcmp(given.data(), expected.data(), expected.size()) != 0)
        return std::nullopt;
    std::int64_t issued = 0;
    const auto [end, error] =
        std::from_chars(signedPart.data(), signedPart.data() + signedPart.size(), issued);
    if (error != std::errc{} || end == signedPart.data() || *end != '-')
        return std::nullopt;
    return issued;
}

} // namespace tonvert::service
