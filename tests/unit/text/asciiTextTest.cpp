#include "asciiText.h"

#include <clocale>
#include <gtest/gtest.h>
#include <string>

namespace tonvert::ascii {
namespace {

TEST(AsciiText, TestsAndCaseIgnoreEveryByteAboveAscii) {
    // Bytes of UTF-8 and Latin-1 letters are neither letters nor digits, and keep their case:
    // the C library's tests would follow the process locale here.
    std::setlocale(LC_ALL, "");
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool digit = byte >= '0' && byte <= '9';
        const bool letter = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
        EXPECT_EQ(isDigit(c), digit) << byte;
        EXPECT_EQ(isLetterOrDigit(c), digit || letter) << byte;
        EXPECT_EQ(isBlankOrControl(c), byte <= 32) << byte;
        if (!letter) {
            EXPECT_EQ(toUpper(c), c) << byte;
            EXPECT_EQ(toLower(c), c) << byte;
        }
    }
    EXPECT_EQ(toUpper(std::string("mid.Rmi-\xC3\xA9z")), "MID.RMI-\xC3\xA9Z");
    EXPECT_EQ(toLower(std::string("<LOCAL>\xC3\x89")), "<local>\xC3\x89");
    EXPECT_TRUE(equalIgnoringCase("TimeOut", "timeout"));
    EXPECT_FALSE(equalIgnoringCase("\xC3\xA9", "\xC3\x89")); // only ASCII letters fold
    EXPECT_FALSE(equalIgnoringCase("key", "keys"));
    EXPECT_TRUE(allDigits("0123456789"));
    for (const char* notDigits : {"", "12a", "-1", " 1", "\xD9\xA1"}) // the last: Arabic one
        EXPECT_FALSE(allDigits(notDigits)) << notDigits;
}

TEST(AsciiText, HexadecimalBothWays) {
    EXPECT_EQ(hexText(std::string("\x00\x7F\x80\xFFz", 5)), "007F80FF7A");
    EXPECT_EQ(hexText("\xAB\xCD", HexCase::lower), "abcd");
    EXPECT_EQ(hexText(""), "");
    // Every byte comes back from its two digits, in either case.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        for (const HexCase letters : {HexCase::upper, HexCase::lower}) {
            const std::string hex = hexText(one, letters);
            ASSERT_EQ(hex.size(), 2u);
            EXPECT_EQ(hexValue(hex[0]) * 16 + hexValue(hex[1]), byte) << hex;
        }
    }
    for (const char notHex : {'g', 'G', ' ', '/', ':', '@', '`', '\0'})
        EXPECT_EQ(hexValue(notHex), -1) << int(notHex);
}

TEST(AsciiText, TrimmingBothEndsOrOne) {
    EXPECT_EQ(trimmed(" \t\r\nx y\x01 "), "x y");
    EXPECT_EQ(trimmed("\x7F"), "\x7F"); // delete is no control character here
    EXPECT_EQ(trimmed(std::string("\0a\0", 3)), "a");
    EXPECT_EQ(trimmed(" \r\n"), "");
    EXPECT_EQ(trimmedLeft("  a b  "), "a b  ");
    EXPECT_EQ(trimmedRight("  a b  "), "  a b");
    // A caller's own test decides what is trimmed.
    const CharTest dashes = [](char c) { return c == '-'; };
    EXPECT_EQ(trimmed("--a-b--", dashes), "a-b");
    EXPECT_EQ(trimmed("----", dashes), "");
}

} // namespace
} // namespace tonvert::ascii
