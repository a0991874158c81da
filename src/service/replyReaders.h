#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonvert {

// One line of a list file from `pos`: the line ends at the first carriage return or line
// feed, and the run of line breaks after it is passed over, so no empty line follows a line.
// False when `pos` is at the end of the text.
bool readListLine(const std::string& text, std::size_t& pos, std::string& line);

// A floating-point number: optional leading blanks, an optional sign, digits with an
// optional `decimalSeparator` and fraction, an optional exponent ("E" or "e", an optional
// sign, digits); nothing may follow. Independent of the process locale.
bool readFloat(const std::string& text, const std::string& decimalSeparator, double& value);

// The online MIDI list as its list file holds it: the refresh time line (a day number in the
// user's number format), then the service's "!VAL n" reply with n entry lines. Any fault
// leaves the whole list invalid; "!ERR " lines among the n are passed over.
struct OnlineMidiEntry {
    std::uint64_t record = 0; // the service's record number
    std::string name;         // the file name without its extension
    std::string type;         // the three-character extension in upper case
};
struct OnlineMidiList {
    bool valid = false;
    double time = 0; // day number of the refresh
    std::vector<OnlineMidiEntry> entries;
};
OnlineMidiList readMidiListFile(const std::string& fileText, const std::string& decimalSeparator);

// The online audio list from its list file: after the time line, any number of blocks, each a
// "!VAL " line whose text after its first tab is the count n (at least 1) of the lines that
// follow, each "name.ext", a tab and the size in bytes. Bad entry lines are dropped; lines
// outside blocks are ignored. Only a bad time line makes the list invalid.
struct OnlineAudioEntry {
    std::string name;
    std::string type;
    std::uint64_t size = 0;
};
struct OnlineAudioList {
    bool valid = false;
    double time = 0;
    std::vector<OnlineAudioEntry> entries;
};
OnlineAudioList readAudioListFile(const std::string& fileText, const std::string& decimalSeparator);

// The information text of an online pane, without its time: "No data" for an unreadable
// list, otherwise "No files", "1 file" or the count + " files".
inline constexpr const char* kNoDataText = "No data";
std::string listCountText(std::size_t count);

inline constexpr const char* kCantParseReplyText = "Can't parse server response. Please try again.";

// The balance of a "viewfunds" reply: "!VAL " and one number, blanks and control characters
// around it allowed.
bool readBalance(const std::string& reply, double& balance);

// The four prices of a "viewprices" reply: "!VAL " and four numbers separated by single
// tabs, nothing after the fourth.
bool readFees(const std::string& reply, std::array<double, 4>& fees);

// A sum of money with exactly two decimals, rounded half away from zero on the number as
// written, with `decimalSeparator` and no thousands separators; 1E18 and more in scientific
// notation.
std::string moneyText(double value, const std::string& decimalSeparator);

// The texts of the view-funds and view-fees boxes. False with kCantParseReplyText when the
// reply cannot be read.
bool fundsMessage(const std::string& reply, const std::string& decimalSeparator,
                  std::string& message);
bool feesMessage(const std::string& reply, const std::string& decimalSeparator,
                 std::string& message);

} // namespace tonvert
