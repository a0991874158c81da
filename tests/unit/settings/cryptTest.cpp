#include "crypt.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

struct Vector {
    std::uint64_t key, plain, cipher;
};

// Published Blowfish test vectors: 8-byte keys, blocks read most significant byte first.
const Vector kVectors[] = {
    {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
    {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
    {0x3000000000000000, 0x1000000000000001, 0x7D856F9A613063F2},
    {0x1111111111111111, 0x1111111111111111, 0x2466DD878B963C9D},
    {0x0123456789ABCDEF, 0x1111111111111111, 0x61F9C3802281B096},
    {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
};

std::string keyBytes(std::uint64_t key) {
    std::string bytes;
    for (int shift = 56; shift >= 0; shift -= 8)
        bytes += static_cast<char>((key >> shift) & 0xFF);
    return bytes;
}

BlowfishContext contextFor(const std::string& key) {
    BlowfishContext context;
    EXPECT_TRUE(blowfishInit(key, context));
    return context;
}

// The text routine reads each half least significant byte first.
std::string littleEndianBlock(std::uint64_t block) {
    std::string bytes;
    for (std::uint32_t half : {std::uint32_t(block >> 32), std::uint32_t(block)})
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((half >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(Blowfish, PublishedVectorsThroughTheBlockAndTextRoutines) {
    for (const Vector& v : kVectors) {
        const BlowfishContext context = contextFor(keyBytes(v.key));
        std::uint32_t left = std::uint32_t(v.plain >> 32), right = std::uint32_t(v.plain);
        blowfishEncipher(context, left, right);
        EXPECT_EQ((std::uint64_t(left) << 32) | right, v.cipher) << std::hex << v.key;
        blowfishDecipher(context, left, right);
        EXPECT_EQ((std::uint64_t(left) << 32) | right, v.plain);

        const std::string enciphered = blowfishText(context, true, littleEndianBlock(v.plain));
        ASSERT_EQ(enciphered.size(), 16u);
        EXPECT_EQ(enciphered.substr(0, 8), littleEndianBlock(v.cipher));
    }
}

TEST(Blowfish, KeyLengthLimits) {
    BlowfishContext context;
    context.p[0] = 12345;
    EXPECT_FALSE(blowfishInit("", context));
    EXPECT_FALSE(blowfishInit(std::string(57, 'k'), context));
    EXPECT_EQ(context.p[0], 12345u) << "a refused key leaves the context alone";
    EXPECT_TRUE(blowfishInit(std::string(56, 'k'), context));
    EXPECT_TRUE(blowfishInit("k", context));
}

TEST(Blowfish, TextRoutineFillsWithZeroBytes) {
    const BlowfishContext context = contextFor("Quite a secret, buddy!");
    EXPECT_EQ(blowfishText(context, true, ""), "");
    EXPECT_EQ(blowfishText(context, true, "a").size(), 8u);
    EXPECT_EQ(blowfishText(context, true, "abcdefg").size(), 8u);
    EXPECT_EQ(blowfishText(context, true, "abcdefgh").size(), 16u);
    EXPECT_EQ(blowfishText(context, true, "abcdefghi").size(), 16u);

    // No chaining: equal blocks encipher alike, and the fill is zero bytes.
    const std::string twice = blowfishText(context, true,
                                           std::string("12345678"
                                                       "12345678"));
    EXPECT_EQ(twice.substr(0, 8), twice.substr(8, 8));
    EXPECT_EQ(blowfishText(context, true, "abc"),
              blowfishText(context, true, std::string("abc\0\0\0\0", 7)).substr(0, 8));

    const std::string back = blowfishText(context, false, blowfishText(context, true, "secret"));
    EXPECT_EQ(back.size(), 16u) << "deciphering adds its own fill block";
    EXPECT_EQ(back.substr(0, 8), std::string("secret\0\0", 8));
}

} // namespace
} // namespace tonvert
