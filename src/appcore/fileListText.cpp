#include "fileListText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tonvert {

std::string playTimeText(double seconds) {
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const auto whole = static_cast<long long>(std::nearbyint(seconds));
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string sizeText(std::uint64_t bytes) {
    const std::string digits = std::to_string(bytes);
    std::string text;
    text.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ' ';
        text += digits[i];
    }
    return text;
}

std::string dayNumberText(double dayNumber, const std::string& decimalSeparator) {
    char text[64];
    // to_chars writes a point whatever the process locale is.
    auto written =
        std::to_chars(text, text + sizeof text, dayNumber, std::chars_format::general, 15);
    // Next to the largest number, 15 digits round past it to a text that reads as no number;
    // the shortest text that reads back is written then.
    double back = 0;
    if (std::from_chars(text, written.ptr, back).ec != std::errc())
        written = std::to_chars(text, text + sizeof text, dayNumber);
    std::string result(text, written.ptr);
    const auto point = result.find('.');
    if (point != std::string::npos)
        result.replace(point, 1, decimalSeparator);
    return result;
}

} // namespace tonvert
