#pragma once

#include <string>

namespace tonvert {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The folder rule: an empty path stays empty, a path that already ends in the separator
// (or, on Windows, in a drive's ":") is kept, any other path gets the separator appended.
// Folder paths built this way take file names directly.
std::string addTrailingBackslash(const std::string& path);

// The path with the extension of its last part replaced by `extension` (which carries its
// dot); a name without an extension gets it appended.
std::string changeFileExt(const std::string& path, const std::string& extension);

// The folder part of a path without its last separator; a file in the root folder gives the
// root itself.
std::string extractFileDir(const std::string& path);

// Every path the program derives from its own location.
struct ProgramPaths {
    std::string programPath;
    std::string settingsFile; // program path with ".INI"
    std::string helpFile;     // program path with ".CHM"
    std::string programFolder;
    std::string defaultMidiFolder;
    std::string defaultAudioFolder;
    std::string tempFolder;
};

ProgramPaths programPathsFor(const std::string& programPath);

} // namespace tonvert
