#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tonvert::service {

// Bytes from the system's cryptographic generator; throws when it has none.
std::vector<unsigned char> randomBytes(std::size_t count);

// Random bytes as lower-case hexadecimal, for tokens, file names and message identifiers.
std::string randomHex(std::size_t bytes);

} // namespace tonvert::service
