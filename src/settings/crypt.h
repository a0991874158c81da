#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "blowfishTables.h"

namespace tonvert {

// Four S-boxes, then the P-array: the whole keyed state of the cipher.
struct BlowfishContext {
    std::array<std::array<std::uint32_t, blowfish::kSBoxWords>, 4> s{};
    std::array<std::uint32_t, blowfish::kPWords> p{};
};

// Fills the context from the key. Gives false (and leaves the context alone) when the key
// is empty or longer than 56 bytes.
bool blowfishInit(const std::string& key, BlowfishContext& context);

void blowfishEncipher(const BlowfishContext& context, std::uint32_t& left, std::uint32_t& right);
void blowfishDecipher(const BlowfishContext& context, std::uint32_t& left, std::uint32_t& right);

// Pads the text with 1 to 8 zero bytes to a whole number of 8-byte blocks and enciphers or
// deciphers every block on its own. Each half of a block is read least significant byte
// first. An empty text stays empty.
std::string blowfishText(const BlowfishContext& context, bool encipher, const std::string& input);

} // namespace tonvert
