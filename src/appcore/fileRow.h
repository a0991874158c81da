#pragma once

// The row of a file pane as plain data, apart from the list model so that the readers that
// make rows need no Qt.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tonvert {

// One file of a pane: what the commands work on. Its texts are kept as the bytes they come
// as; the texts of the columns are made from them only when the list shows them.
struct FileRow {
    // A local file's name on disk as bytes, which need not be valid text; an online file's
    // name as the list shows it, the name and the type in capitals ("Song.MP3"): the commands
    // address it so, and the service matches names without regard to case.
    std::string fileName;
    // The name without its extension, for display, is the first nameSize bytes of fileName.
    std::size_t nameSize = 0;
    std::string type; // the extension in capitals
    std::optional<std::uint64_t> size;
    std::optional<double> playTime;      // seconds; none when the file could not be timed
    std::optional<std::uint64_t> record; // the service's record number of an online MIDI file

    std::string_view name() const { return std::string_view(fileName).substr(0, nameSize); }
};

} // namespace tonvert
