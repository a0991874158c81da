#include "asciiText.h"

#include <algorithm>

namespace tonvert::ascii {

std::string toLower(std::string text) {
    for (char& c : text)
        c = toLower(c);
    return text;
}

std::string toUpper(std::string text) {
    for (char& c : text)
        c = toUpper(c);
    return text;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return toLower(x) == toLower(y);
           });
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c); });
}

char hexDigit(unsigned value, HexCase letters) {
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    return (letters == HexCase::upper ? kUpper : kLower)[value & 0x0F];
}

std::string hexText(std::string_view bytes, HexCase letters) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += hexDigit(byte >> 4, letters);
        hex += hexDigit(byte, letters);
    }
    return hex;
}

std::string_view trimmedLeft(std::string_view text, CharTest trim) {
    std::size_t start = 0;
    while (start < text.size() && trim(text[start]))
        ++start;
    return text.substr(start);
}

std::string_view trimmedRight(std::string_view text, CharTest trim) {
    std::size_t end = text.size();
    while (end > 0 && trim(text[end - 1]))
        --end;
    return text.substr(0, end);
}

std::string_view trimmed(std::string_view text, CharTest trim) {
    return trimmedRight(trimmedLeft(text, trim), trim);
}

} // namespace tonvert::ascii
