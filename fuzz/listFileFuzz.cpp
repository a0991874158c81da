// libFuzzer target for the online panes' list files. The input is a list file's text: the
// refresh time, then the service's reply. Read as the MIDI list and as the audio list:
// - the rows the pane shows agree with the list read by the reply readers on their own:
//   validity, time, and each file's name, type, record number or size;
// - every row keeps the promises of a service file name: a root without a dot, a dot and a
//   three-character type in capitals, nothing that leads out of a folder, no control
//   character or zero byte;
// - the reply behind the time line, kept again by a refresh at the read time with another
//   decimal separator, reads back as the same rows, at a time that writes as the same text.

#include "fileListText.h"
#include "fuzzSupport.h"
#include "onlineListFile.h"
#include "replyReaders.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using tonvert::FileRow;
using tonvert::OnlineListRows;
using tonvert::fuzz::check;
using tonvert::fuzz::isSafeName;

bool isLowerCaseLetter(char c) {
    return c >= 'a' && c <= 'z';
}

void checkRow(const FileRow& row, bool audio) {
    check(isSafeName(row.fileName), "a row's name is no safe file name");
    check(row.nameSize > 0 && row.nameSize + 4 == row.fileName.size(),
          "a row's name is no root, a dot and three characters");
    check(row.name().find('.') == std::string_view::npos, "a dot in a row's root");
    check(row.fileName[row.nameSize] == '.', "no dot after a row's root");
    check(row.type.size() == 3 && row.fileName.compare(row.nameSize + 1, 3, row.type) == 0,
          "a row's name does not end in its type");
    for (const char c : row.type)
        check(!isLowerCaseLetter(c), "a lower-case letter in a row's type");
    check(row.size.has_value() == audio && row.record.has_value() == !audio,
          "a row holds the other list's number");
    check(!row.playTime, "an online row with a play time");
}

// The rows against the reply readers' own reading of the same text.
void checkAgainstReplyReaders(const OnlineListRows& shown, std::string_view text, bool audio) {
    if (audio) {
        const tonvert::OnlineAudioList list = tonvert::readAudioListFile(text, ".");
        check(list.valid == shown.valid, "audio rows and list differ in validity");
        check(list.entries.size() == shown.rows.size(), "audio rows and list differ in count");
        for (std::size_t i = 0; i < list.entries.size(); ++i) {
            const FileRow& row = shown.rows[i];
            check(row.name() == list.entries[i].name && row.type == list.entries[i].type &&
                      row.size == list.entries[i].size,
                  "an audio row differs from its list entry");
        }
    } else {
        const tonvert::OnlineMidiList list = tonvert::readMidiListFile(text, ".");
        check(list.valid == shown.valid, "MIDI rows and list differ in validity");
        check(list.entries.size() == shown.rows.size(), "MIDI rows and list differ in count");
        for (std::size_t i = 0; i < list.entries.size(); ++i) {
            const FileRow& row = shown.rows[i];
            check(row.name() == list.entries[i].name && row.type == list.entries[i].type &&
                      row.record == list.entries[i].record,
                  "a MIDI row differs from its list entry");
        }
    }
    if (shown.valid)
        check(std::isfinite(shown.time), "a list time that is not finite");
    else
        check(shown.rows.empty() && shown.time == 0, "an invalid list with rows or a time");
}

bool sameRows(const OnlineListRows& a, const OnlineListRows& b) {
    if (a.rows.size() != b.rows.size())
        return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        const FileRow& x = a.rows[i];
        const FileRow& y = b.rows[i];
        if (x.fileName != y.fileName || x.nameSize != y.nameSize || x.type != y.type ||
            x.size != y.size || x.record != y.record)
            return false;
    }
    return true;
}

// The reply as the service sent it: what follows the time line and its line breaks.
std::string_view replyOf(std::string_view text) {
    tonvert::ListLines lines(text);
    std::string_view first;
    if (!lines.next(first))
        return {};
    std::size_t at = first.size();
    while (at < text.size() && (text[at] == '\r' || text[at] == '\n'))
        ++at;
    return text.substr(at);
}

// A refresh at the list's time keeps the reply behind a time line of its own.
void checkRefreshedAgain(const OnlineListRows& shown, std::string_view text, bool audio) {
    const std::string separator = "\xD9\xAB"; // a decimal separator of more than one byte
    const std::string kept = tonvert::onlineListFileText(shown.time, replyOf(text), separator);
    const OnlineListRows again = tonvert::readOnlineListFile(kept, audio, separator);
    check(again.valid, "a valid list kept again reads as no list");
    check(sameRows(again, shown), "a list kept again reads as other rows");
    const double scale = std::fmax(std::fabs(shown.time), 1e-300);
    check(std::fabs(again.time - shown.time) <= scale * 1e-14,
          "a list kept again has another time");
    check(tonvert::dayNumberText(again.time, separator) ==
              tonvert::dayNumberText(shown.time, separator),
          "a time read back writes as another text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool audio : {false, true}) {
        const OnlineListRows shown = tonvert::readOnlineListFile(text, audio, ".");
        for (const FileRow& row : shown.rows)
            checkRow(row, audio);
        checkAgainstReplyReaders(shown, text, audio);
        if (shown.valid)
            checkRefreshedAgain(shown, text, audio);
    }
    return 0;
}
