#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tonvert {

// A name the client may save a service's file under: not empty, and without a separator of
// folders or a control character (a zero byte would end the path early).
bool isSafeServiceFileName(std::string_view name);

// The lines of a list file: a line ends at the first carriage return or line feed, and the
// run of line breaks after it is passed over, so no empty line follows a line.
class ListLines {
public:
    explicit ListLines(std::string_view text);
    // The next line, viewing the text; false at the end of the text.
    bool next(std::string_view& line);

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    // Where the next carriage return and line feed at or after pos_ stand (the text's size
    // when none follows): each is searched for again only once passed, so that a text of
    // one kind of line break is not searched to its end for the other at every line.
    std::size_t return_ = 0;
    std::size_t feed_ = 0;
};

// A floating-point number: optional leading blanks, an optional sign, digits with an
// optional `decimalSeparator` and fraction, an optional exponent ("E" or "e", an optional
// sign, digits); nothing may follow. Independent of the process locale.
bool readFloat(std::string_view text, std::string_view decimalSeparator, double& value);

// One file of an online list as its list file holds it, viewing the file's text: the name as
// the service knows it ("name.ext"), its root being the first `nameSize` bytes.
struct OnlineEntryText {
    std::string_view fileName;
    std::size_t nameSize = 0;
    std::uint64_t record = 0; // the service's record number (MIDI list)
    std::uint64_t size = 0;   // the size in bytes (audio list)

    std::string_view name() const { return fileName.substr(0, nameSize); }
    std::string_view extension() const { return fileName.substr(nameSize + 1); }
};
// The extension of a service file name in upper case, as the lists show its type.
std::string serviceFileType(std::string_view extension);

// Each entry of a list goes to the sink as it is read: a list of thousands of files is read
// without a string per line.
using OnlineEntrySink = std::function<void(const OnlineEntryText&)>;
struct OnlineListHead {
    bool valid = false;
    double time = 0; // day number of the refresh
};

// The online MIDI list as its list file holds it: the refresh time line (a day number in the
// user's number format), then the service's "!VAL n" reply with n entry lines. Any fault
// leaves the whole list invalid, and the entries given to the sink before it are to be
// dropped; "!ERR " lines among the n are passed over.
OnlineListHead readMidiListFile(std::string_view fileText, std::string_view decimalSeparator,
                                const OnlineEntrySink& sink);

// The online audio list from its list file: after the time line, any number of blocks, each a
// "!VAL " line whose text after its first tab is the count n (at least 1) of the lines that
// follow, each "name.ext", a tab and the size in bytes. Bad entry lines are dropped; lines
// outside blocks are ignored. Only a bad time line makes the list invalid.
OnlineListHead readAudioListFile(std::string_view fileText, std::string_view decimalSeparator,
                                 const OnlineEntrySink& sink);

// The same lists read whole, with strings of their own.
struct OnlineMidiEntry {
    std::uint64_t record = 0; // the service's record number
    std::string name;         // the file name without its extension
    std::string type;         // the three-character extension in upper case
};
struct OnlineMidiList {
    bool valid = false;
    double time = 0;
    std::vector<OnlineMidiEntry> entries;
};
OnlineMidiList readMidiListFile(std::string_view fileText, std::string_view decimalSeparator);

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
OnlineAudioList readAudioListFile(std::string_view fileText, std::string_view decimalSeparator);

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
