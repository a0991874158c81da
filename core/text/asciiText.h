#pragma once

#include <string>
#include <string_view>

// Small tests and changes of ASCII text, the same whatever the process locale: the C
// library's isdigit, toupper and the like follow the locale and would let other letters
// pass or change in protocol texts, settings keys and file types.
namespace tonvert::ascii {

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool isLetterOrDigit(char c) {
    return isLetter(c) || isDigit(c);
}
// A blank or a control character: codes 0 to 32.
constexpr bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

constexpr char toLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char toUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string toLower(std::string text);
std::string toUpper(std::string text);
bool equalIgnoringCase(std::string_view a, std::string_view b);
bool allDigits(std::string_view text); // and not empty

// The value of a hexadecimal digit of either case, or -1.
constexpr int hexValue(char c) {
    if (isDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
enum class HexCase { upper, lower };
// Two hexadecimal digits a byte, high half first.
std::string hexText(std::string_view bytes, HexCase letters = HexCase::upper);
char hexDigit(unsigned value, HexCase letters = HexCase::upper); // of 0 to 15

using CharTest = bool (*)(char);
// The text without the characters that pass the test at its start, at its end, or both.
std::string_view trimmedLeft(std::string_view text, CharTest trim = isBlankOrControl);
std::string_view trimmedRight(std::string_view text, CharTest trim = isBlankOrControl);
std::string_view trimmed(std::string_view text, CharTest trim = isBlankOrControl);

} // namespace tonvert::ascii
