// libFuzzer target for the readers of the service's replies. The first byte of the input
// picks the reader, the rest is its input ("B" balance, "F" fees, "M" money text, "N" number,
// "L" lines, "E" error reply, "m" and "a" the MIDI and audio lists; any other byte picks by
// its value):
// - the funds and fees boxes say what the balance and fee readers read, in money texts;
// - a money text has two decimals and reads back as the value it was made from, within the
//   rounding to cents, or exactly in scientific notation; the separator changes nothing else;
// - a number the reader takes is the one strtod takes from the same text, whatever the
//   decimal separator;
// - the lines of a list are the ones found by walking the text byte by byte, and a text is a
//   safe file name exactly when none of its bytes is a separator or a control character;
// - an error reply gets a message, any web address offered is one of http or ftp without
//   blanks or control characters, and blanks before the reply change nothing;
// - the entries of a list view its text, have safe names, and agree with the list read whole.

#include "asciiText.h"
#include "fuzzSupport.h"
#include "replyReaders.h"
#include "serverSupportUnit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tonvert::fuzz::check;
using tonvert::fuzz::isSafeName;

constexpr std::string_view kKinds = "BFMNLEma";
// The user's decimal separator: a point, a comma, or one of more than one byte.
constexpr std::array<std::string_view, 3> kSeparators = {".", ",", "\xD9\xAB"};

std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, from.size(), from) == 0) {
            out += to;
            at += from.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void checkMoneyText(double value, const std::string& separator) {
    const std::string text = tonvert::moneyText(value, separator);
    if (std::isnan(value) || std::isinf(value)) {
        check(text == (std::isnan(value) ? "NAN"
                       : value < 0       ? "-INF"
                                         : "INF"),
              "an odd money text for no number");
        return;
    }
    if (separator != ".")
        check(text == replaced(tonvert::moneyText(value, "."), ".", separator),
              "the separator changed more than itself in a money text");
    double back = 0;
    check(tonvert::readFloat(text, separator, back), "a money text that does not read back");
    if (std::fabs(value) >= 1e18) {
        check(text.find('E') != std::string::npos && back == value,
              "a large money text that is not the value in scientific notation");
        return;
    }
    // [-]digits, the separator, two digits; never "-0.00".
    std::size_t at = text[0] == '-' ? 1 : 0;
    const std::size_t digitsStart = at;
    while (at < text.size() && isDigit(text[at]))
        ++at;
    check(at > digitsStart && text.compare(at, separator.size(), separator) == 0 &&
              text.size() == at + separator.size() + 2 && isDigit(text[text.size() - 2]) &&
              isDigit(text.back()),
          "a money text without two decimals");
    check(!(text[0] == '-' && back == 0), "a negative zero money text");
    const double tolerance = 0.005 * (1 + 1e-12) + std::fabs(value) * 5e-16;
    check(std::fabs(back - value) <= tolerance, "a money text off by more than a half cent");
}

void checkMoneyTexts(double value) {
    for (const std::string_view separator : kSeparators)
        checkMoneyText(value, std::string(separator));
}

void checkBalance(const std::string& reply) {
    double balance = 0;
    const bool read = tonvert::readBalance(reply, balance);
    std::string message;
    check(tonvert::fundsMessage(reply, ",", message) == read, "funds box and balance disagree");
    if (!read) {
        check(message == tonvert::kCantParseReplyText, "an unread balance with another message");
        return;
    }
    check(message == "Funds in account: " + tonvert::moneyText(balance, ","),
          "the funds box shows another balance");
    checkMoneyTexts(balance);
    std::string error, address;
    check(!tonvert::parseServerError(reply, "", error, address), "a value reply taken as error");
}

void checkFees(const std::string& reply) {
    std::array<double, 4> fees{};
    const bool read = tonvert::readFees(reply, fees);
    std::string message;
    check(tonvert::feesMessage(reply, ".", message) == read, "fees box and fees disagree");
    if (!read) {
        check(message == tonvert::kCantParseReplyText, "unread fees with another message");
        return;
    }
    const auto money = [](double fee) { return tonvert::moneyText(fee, "."); };
    check(message == "MIDI file upload: " + money(fees[0]) + " + " + money(fees[1]) +
                         " / MB\n\nAudio file download: " + money(fees[2]) + " + " +
                         money(fees[3]) + " / MB",
          "the fees box shows other fees");
    for (const double fee : fees)
        checkMoneyTexts(fee);
}

void checkNumber(const std::string& text) {
    double value = 0;
    if (tonvert::readFloat(text, ".", value)) {
        // Only blanks, a sign, digits, a point and an exponent get here: no zero byte.
        char* end = nullptr;
        const double other = std::strtod(text.c_str(), &end);
        check(end == text.c_str() + text.size() && other == value,
              "a number read otherwise than strtod reads it");
    }
    for (const std::string_view separator : kSeparators) {
        // The separator's bytes in the text would be read where no point stood.
        if (separator != "." && text.find(separator.front()) != std::string::npos)
            continue;
        double alike = 0;
        const bool read = tonvert::readFloat(replaced(text, ".", separator), separator, alike);
        check(read == tonvert::readFloat(text, ".", value) && (!read || alike == value),
              "another separator read another number");
    }
}

void checkLines(std::string_view text) {
    tonvert::ListLines lines(text);
    std::size_t at = 0;
    std::string_view line;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        check(lines.next(line) && line.data() == text.data() + at && line.size() == end - at,
              "a line other than walking the text finds");
        while (end < text.size() && (text[end] == '\r' || text[end] == '\n'))
            ++end;
        at = end;
    }
    check(!lines.next(line), "a line past the text");

    const std::string_view trimmed = tonvert::ascii::trimmed(text);
    const std::size_t start = static_cast<std::size_t>(trimmed.data() - text.data());
    check(trimmed.empty() || (start + trimmed.size() <= text.size() &&
                              static_cast<unsigned char>(trimmed.front()) > 32 &&
                              static_cast<unsigned char>(trimmed.back()) > 32),
          "a trimmed text that starts or ends with a control character");
    check(tonvert::ascii::trimmed(trimmed) == trimmed, "trimming twice cut more");
    check(tonvert::isSafeServiceFileName(text) == isSafeName(text),
          "a file name judged otherwise than its bytes say");
}

void checkServerError(const std::string& reply) {
    const std::string email = "support@tonvert.localhost";
    std::string message, address;
    const bool error = tonvert::parseServerError(reply, email, message, address);
    if (error) {
        check(!message.empty(), "an error reply without a message");
        if (!address.empty()) {
            check(address.starts_with("http://") || address.starts_with("ftp://"),
                  "an offered address that is no web or ftp page");
            for (const char c : address)
                check(static_cast<unsigned char>(c) > 32 && c != '\x7F',
                      "a blank or control character in an offered address");
            check(message.find(address) != std::string::npos, "an address the message hides");
        }
    }
    std::string message2, address2;
    const bool error2 = tonvert::parseServerError(" \t\r\n" + reply, email, message2, address2);
    check(error2 == error && (!error || (message2 == message && address2 == address)),
          "blanks before an error reply changed its reading");
}

// The entries a list's sink gets view the list's text and agree with the list read whole.
void checkList(const std::string& reply, bool audio) {
    const std::string text = "46000.5\n" + reply;
    std::vector<tonvert::OnlineEntryText> entries;
    const auto sink = [&](const tonvert::OnlineEntryText& entry) { entries.push_back(entry); };
    const tonvert::OnlineListHead head = audio ? tonvert::readAudioListFile(text, ".", sink)
                                               : tonvert::readMidiListFile(text, ".", sink);
    for (const tonvert::OnlineEntryText& entry : entries) {
        check(entry.fileName.data() >= text.data() &&
                  entry.fileName.data() + entry.fileName.size() <= text.data() + text.size(),
              "an entry that does not view the list's text");
        check(isSafeName(entry.fileName), "an entry with an unsafe name");
        check(!entry.name().empty() && entry.name().find('.') == std::string_view::npos &&
                  entry.extension().size() == 3,
              "an entry's name is no root, a dot and three characters");
    }
    std::vector<std::string> names;
    if (audio) {
        const tonvert::OnlineAudioList list = tonvert::readAudioListFile(text, ".");
        check(list.valid == head.valid, "the audio list read whole differs in validity");
        for (const auto& entry : list.entries)
            names.push_back(entry.name + "." + entry.type);
    } else {
        const tonvert::OnlineMidiList list = tonvert::readMidiListFile(text, ".");
        check(list.valid == head.valid, "the MIDI list read whole differs in validity");
        for (const auto& entry : list.entries)
            names.push_back(entry.name + "." + entry.type);
    }
    if (!head.valid)
        return;
    check(names.size() == entries.size(), "the list read whole has another count");
    for (std::size_t i = 0; i < names.size(); ++i)
        check(names[i] == std::string(entries[i].name()) + "." +
                              tonvert::serviceFileType(entries[i].extension()),
              "the list read whole names another file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t found = kKinds.find(static_cast<char>(data[0]));
    const char kind = found != std::string_view::npos ? kKinds[found] : kKinds[data[0] % 8];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (kind) {
    case 'B':
        checkBalance(rest);
        break;
    case 'F':
        checkFees(rest);
        break;
    case 'M': {
        // A number as the service writes one, or else the bits of a value, any of them: NaN
        // and infinities too.
        double value = 0;
        if (!tonvert::readFloat(rest, ".", value))
            std::memcpy(&value, rest.data(), std::min(rest.size(), sizeof value));
        checkMoneyTexts(value);
        break;
    }
    case 'N':
        checkNumber(rest);
        break;
    case 'L':
        checkLines(rest);
        break;
    case 'E':
        checkServerError(rest);
        break;
    default:
        checkList(rest, kind == 'a');
        break;
    }
    return 0;
}
