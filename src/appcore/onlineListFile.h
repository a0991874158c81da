#pragma once

// The list files of the online panes: the last list fetched from the service, kept in
// Temp/ so that the next start shows it before going online. Plain C++, so that the reader
// can be run on any bytes outside the program.

#include <string>
#include <string_view>
#include <vector>

#include "fileRow.h"

namespace tonvert {

// A list file as its pane shows it: the time of the refresh and one row per file; no rows
// when the file holds no list.
struct OnlineListRows {
    bool valid = false;
    double time = 0; // day number of the refresh
    std::vector<FileRow> rows;
};

// Reads the list file of the audio list or the MIDI list; its refresh time is written with
// `decimalSeparator`. A row's fileName is the name with its type in capitals ("Song.MP3").
OnlineListRows readOnlineListFile(std::string_view text, bool audio,
                                  std::string_view decimalSeparator);

// What a refresh keeps in the list file: the refresh time, a line feed, then the service's
// reply as it came.
std::string onlineListFileText(double time, std::string_view reply,
                               const std::string& decimalSeparator);

} // namespace tonvert
