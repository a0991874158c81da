#include "store/randomHex.h"

#include <openssl/rand.h>
#include <stdexcept>
#include <string_view>

#include "asciiText.h"

namespace tonvert::service {

std::vector<unsigned char> randomBytes(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

std::string randomHex(std::size_t bytes) {
    const auto random = randomBytes(bytes);
    return ascii::hexText(
        std::string_view(reinterpret_cast<const char*>(random.data()), random.size()),
        ascii::HexCase::lower);
}

} // namespace tonvert::service
