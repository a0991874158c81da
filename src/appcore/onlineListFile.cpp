#include "onlineListFile.h"

#include <algorithm>

#include "fileListText.h"
#include "replyReaders.h"

namespace tonvert {

// The rows are made as the entries are read: each row's texts are copied from the file's
// text once.
OnlineListRows readOnlineListFile(std::string_view text, bool audio,
                                  std::string_view decimalSeparator) {
    OnlineListRows shown;
    const auto add = [&](const OnlineEntryText& entry) {
        // The commands name the file by its name and its type, as the list shows them.
        FileRow row{std::string(entry.fileName),
                    entry.nameSize,
                    serviceFileType(entry.extension()),
                    {},
                    {},
                    {}};
        std::copy(row.type.begin(), row.type.end(), row.fileName.begin() + entry.nameSize + 1);
        if (audio)
            row.size = entry.size;
        else
            row.record = entry.record;
        shown.rows.push_back(std::move(row));
    };
    const OnlineListHead head = audio ? readAudioListFile(text, decimalSeparator, add)
                                      : readMidiListFile(text, decimalSeparator, add);
    shown.valid = head.valid;
    shown.time = head.time;
    if (!head.valid)
        shown.rows.clear();
    return shown;
}

std::string onlineListFileText(double time, std::string_view reply,
                               const std::string& decimalSeparator) {
    std::string text = dayNumberText(time, decimalSeparator);
    text += '\n';
    text += reply;
    return text;
}

} // namespace tonvert
