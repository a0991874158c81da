#include "replyReaders.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "asciiText.h"

namespace tonvert {

namespace {

constexpr std::string_view kValidMarker = "!VAL ";
constexpr std::string_view kErrorMarker = "!ERR ";

// A non-negative decimal integer: digits only, within range.
bool readDecimal(std::string_view text, std::uint64_t& value) {
    if (text.empty() || !ascii::isDigit(text.front()))
        return false;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    return error == std::errc() && end == last;
}

// A byte that has no place in a file name the client saves under: a separator of folders,
// or a control character (a zero byte would end the path early).
bool isPathHazard(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '/' || c == '\\' || byte < 32 || byte == 127;
}

// A service file name: a root of one or more characters without a dot, a dot and an
// extension of exactly three characters. The client names local files after these, so a
// name that would lead out of the folder, or be cut short, is no file name.
bool readServiceName(std::string_view fileName, OnlineEntryText& entry) {
    const std::size_t dot = fileName.find('.');
    if (dot == std::string_view::npos || dot == 0 || fileName.size() - dot - 1 != 3)
        return false;
    if (!isSafeServiceFileName(fileName))
        return false;
    entry.fileName = fileName;
    entry.nameSize = dot;
    return true;
}

bool readTimeLine(ListLines& lines, std::string_view decimalSeparator, double& time) {
    std::string_view line;
    return lines.next(line) && readFloat(line, decimalSeparator, time);
}

// Adds one to a run of decimal digits; "99" becomes "100".
void incrementDigits(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

std::size_t findFrom(std::string_view text, char c, std::size_t from) {
    const std::size_t found = text.find(c, from);
    return found == std::string_view::npos ? text.size() : found;
}

} // namespace

bool isSafeServiceFileName(std::string_view name) {
    return !name.empty() && std::none_of(name.begin(), name.end(), isPathHazard);
}

ListLines::ListLines(std::string_view text)
    : text_(text)
    , return_(findFrom(text, '\r', 0))
    , feed_(findFrom(text, '\n', 0)) {}

bool ListLines::next(std::string_view& line) {
    if (pos_ >= text_.size())
        return false;
    if (return_ < pos_)
        return_ = findFrom(text_, '\r', pos_);
    if (feed_ < pos_)
        feed_ = findFrom(text_, '\n', pos_);
    std::size_t end = std::min(return_, feed_);
    line = text_.substr(pos_, end - pos_);
    while (end < text_.size() && (text_[end] == '\r' || text_[end] == '\n'))
        ++end;
    pos_ = end;
    return true;
}

bool readFloat(std::string_view text, std::string_view decimalSeparator, double& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    // The number rebuilt in the form from_chars reads, whatever the separator.
    std::string plain;
    std::size_t digits = 0;
    for (; i < text.size() && ascii::isDigit(text[i]); ++i, ++digits)
        plain += text[i];
    if (!decimalSeparator.empty() &&
        text.compare(i, decimalSeparator.size(), decimalSeparator) == 0) {
        i += decimalSeparator.size();
        plain += '.';
        for (; i < text.size() && ascii::isDigit(text[i]); ++i, ++digits)
            plain += text[i];
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            plain += text[i++];
        const std::size_t expStart = i;
        for (; i < text.size() && ascii::isDigit(text[i]); ++i)
            plain += text[i];
        if (i == expStart)
            return false;
    }
    if (i != text.size())
        return false;

    double magnitude = 0;
    const char* last = plain.data() + plain.size();
    const auto [end, error] = std::from_chars(plain.data(), last, magnitude);
    if (error != std::errc() || end != last)
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

std::string serviceFileType(std::string_view extension) {
    return ascii::toUpper(std::string(extension));
}

OnlineListHead readMidiListFile(std::string_view fileText, std::string_view decimalSeparator,
                                const OnlineEntrySink& sink) {
    OnlineListHead head;
    ListLines lines(fileText);
    std::string_view line;
    std::uint64_t count = 0;
    if (!readTimeLine(lines, decimalSeparator, head.time) || !lines.next(line) ||
        !line.starts_with(kValidMarker) || !readDecimal(line.substr(kValidMarker.size()), count))
        return {};

    for (std::uint64_t i = 0; i < count; ++i) {
        if (!lines.next(line))
            return {};
        if (line.starts_with(kErrorMarker))
            continue;
        // The record number, the file name and at least one further field.
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        OnlineEntryText entry;
        if (tab2 == std::string_view::npos || !readDecimal(line.substr(0, tab1), entry.record) ||
            !readServiceName(line.substr(tab1 + 1, tab2 - tab1 - 1), entry))
            return {};
        sink(entry);
    }
    head.valid = true;
    return head;
}

OnlineListHead readAudioListFile(std::string_view fileText, std::string_view decimalSeparator,
                                 const OnlineEntrySink& sink) {
    OnlineListHead head;
    ListLines lines(fileText);
    if (!readTimeLine(lines, decimalSeparator, head.time))
        return {};
    head.valid = true;

    std::string_view line;
    while (lines.next(line)) {
        const std::size_t tab = line.find('\t');
        std::uint64_t count = 0;
        if (!line.starts_with(kValidMarker) || tab == std::string_view::npos ||
            !readDecimal(line.substr(tab + 1), count))
            continue;
        for (std::uint64_t i = 0; i < count && lines.next(line); ++i) {
            // "name.ext" up to the first tab, then the size as the rest of the line.
            const std::size_t entryTab = line.find('\t');
            OnlineEntryText entry;
            if (entryTab != std::string_view::npos &&
                readServiceName(line.substr(0, entryTab), entry) &&
                readDecimal(line.substr(entryTab + 1), entry.size))
                sink(entry);
        }
    }
    return head;
}

OnlineMidiList readMidiListFile(std::string_view fileText, std::string_view decimalSeparator) {
    OnlineMidiList list;
    const OnlineListHead head =
        readMidiListFile(fileText, decimalSeparator, [&](const OnlineEntryText& entry) {
            list.entries.push_back(
                {entry.record, std::string(entry.name()), serviceFileType(entry.extension())});
        });
    if (!head.valid)
        return {};
    list.valid = true;
    list.time = head.time;
    return list;
}

OnlineAudioList readAudioListFile(std::string_view fileText, std::string_view decimalSeparator) {
    OnlineAudioList list;
    const OnlineListHead head =
        readAudioListFile(fileText, decimalSeparator, [&](const OnlineEntryText& entry) {
            list.entries.push_back(
                {std::string(entry.name()), serviceFileType(entry.extension()), entry.size});
        });
    list.valid = head.valid;
    list.time = head.time;
    return list;
}

std::string listCountText(std::size_t count) {
    if (count == 0)
        return "No files";
    if (count == 1)
        return "1 file";
    return std::to_string(count) + " files";
}

bool readBalance(const std::string& reply, double& balance) {
    return reply.starts_with(kValidMarker) &&
           readFloat(ascii::trimmed(std::string_view(reply).substr(kValidMarker.size())), ".",
                     balance);
}

bool readFees(const std::string& reply, std::array<double, 4>& fees) {
    if (!reply.starts_with(kValidMarker))
        return false;
    std::size_t start = kValidMarker.size();
    for (std::size_t i = 0; i < fees.size(); ++i) {
        // The last field runs to the end; a further tab in it fails the conversion.
        const std::size_t tab = i + 1 < fees.size() ? reply.find('\t', start) : std::string::npos;
        if (i + 1 < fees.size() && tab == std::string::npos)
            return false;
        if (!readFloat(reply.substr(start, tab - start), ".", fees[i]))
            return false;
        start = tab + 1;
    }
    return true;
}

std::string moneyText(double value, const std::string& decimalSeparator) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";

    char buffer[512];
    if (std::fabs(value) >= 1e18) {
        // Shortest scientific form, written as "1.5E20".
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        const std::string text(buffer, result.ptr);
        const std::size_t e = text.find('e');
        std::string mantissa = text.substr(0, e);
        const std::size_t point = mantissa.find('.');
        if (point != std::string::npos)
            mantissa.replace(point, 1, decimalSeparator);
        std::string exponent = text.substr(e + 1);
        const bool negativeExponent = exponent.front() == '-';
        exponent.erase(0, exponent.find_first_not_of("+-0"));
        return mantissa + "E" + (negativeExponent ? "-" : "") + exponent;
    }

    // The shortest decimal text that reads back as the value, i.e. the number as the service
    // wrote it, rounded to two decimals there so that 2.675 shows as 2.68.
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
    const std::string text(buffer, result.ptr);
    const std::size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    const bool roundUp = fraction.size() > 2 && fraction[2] >= '5';
    fraction.resize(2, '0');
    std::string digits = whole + fraction;
    if (roundUp)
        incrementDigits(digits);
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    const std::string sign = (value < 0 && !zero) ? "-" : "";
    return sign + digits.substr(0, digits.size() - 2) + decimalSeparator +
           digits.substr(digits.size() - 2);
}

bool fundsMessage(const std::string& reply, const std::string& decimalSeparator,
                  std::string& message) {
    double balance = 0;
    if (!readBalance(reply, balance)) {
        message = kCantParseReplyText;
        return false;
    }
    message = "Funds in account: " + moneyText(balance, decimalSeparator);
    return true;
}

bool feesMessage(const std::string& reply, const std::string& decimalSeparator,
                 std::string& message) {
    std::array<double, 4> fees{};
    if (!readFees(reply, fees)) {
        message = kCantParseReplyText;
        return false;
    }
    const auto money = [&](double fee) { return moneyText(fee, decimalSeparator); };
    message = "MIDI file upload: " + money(fees[0]) + " + " + money(fees[1]) + " / MB\n\n" +
              "Audio file download: " + money(fees[2]) + " + " + money(fees[3]) + " / MB";
    return true;
}

} // namespace tonvert
