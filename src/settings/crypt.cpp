#include "crypt.h"

#include <cstddef>
#include <utility>

namespace tonvert {

namespace {

std::uint32_t feistel(const BlowfishContext& c, std::uint32_t x) {
    const auto a = (x >> 24) & 0xFF, b = (x >> 16) & 0xFF, cc = (x >> 8) & 0xFF, d = x & 0xFF;
    return ((c.s[0][a] + c.s[1][b]) ^ c.s[2][cc]) + c.s[3][d];
}

std::uint32_t readLittleEndian(const std::string& text, std::size_t at) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i)
        word |= std::uint32_t(static_cast<unsigned char>(text[at + i])) << (8 * i);
    return word;
}

void writeLittleEndian(std::string& text, std::size_t at, std::uint32_t word) {
    for (std::size_t i = 0; i < 4; ++i)
        text[at + i] = static_cast<char>((word >> (8 * i)) & 0xFF);
}

} // namespace

bool blowfishInit(const std::string& key, BlowfishContext& context) {
    if (key.empty() || key.size() > 56)
        return false;

    const auto& initial = blowfish::kInitialTables;
    for (std::size_t box = 0; box < 4; ++box)
        for (std::size_t i = 0; i < blowfish::kSBoxWords; ++i)
            context.s[box][i] = initial[blowfish::kPWords + box * blowfish::kSBoxWords + i];

    std::size_t next = 0;
    for (std::size_t i = 0; i < blowfish::kPWords; ++i) {
        std::uint32_t keyWord = 0;
        for (int k = 0; k < 4; ++k) {
            keyWord = (keyWord << 8) | static_cast<unsigned char>(key[next]);
            next = (next + 1) % key.size();
        }
        context.p[i] = initial[i] ^ keyWord;
    }

    std::uint32_t left = 0, right = 0;
    for (std::size_t i = 0; i < blowfish::kPWords; i += 2) {
        blowfishEncipher(context, left, right);
        context.p[i] = left;
        context.p[i + 1] = right;
    }
    for (auto& box : context.s) {
        for (std::size_t i = 0; i < blowfish::kSBoxWords; i += 2) {
            blowfishEncipher(context, left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
    return true;
}

void blowfishEncipher(const BlowfishContext& context, std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l = left, r = right;
    for (std::size_t i = 0; i < 16; ++i) {
        l ^= context.p[i];
        r ^= feistel(context, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= context.p[16];
    l ^= context.p[17];
    left = l;
    right = r;
}

void blowfishDecipher(const BlowfishContext& context, std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l = left, r = right;
    for (std::size_t i = 17; i > 1; --i) {
        l ^= context.p[i];
        r ^= feistel(context, l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= context.p[1];
    l ^= context.p[0];
    left = l;
    right = r;
}

std::string blowfishText(const BlowfishContext& context, bool encipher, const std::string& input) {
    if (input.empty())
        return {};
    std::string text = input;
    text.append(8 - text.size() % 8, '\0');
    for (std::size_t at = 0; at < text.size(); at += 8) {
        std::uint32_t left = readLittleEndian(text, at);
        std::uint32_t right = readLittleEndian(text, at + 4);
        if (encipher)
            blowfishEncipher(context, left, right);
        else
            blowfishDecipher(context, left, right);
        writeLittleEndian(text, at, left);
        writeLittleEndian(text, at + 4, right);
    }
    return text;
}

} // namespace tonvert
