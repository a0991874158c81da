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
    bool installed = false; // see programPathsFor below
};

// The portable rule: everything lies beside the program.
ProgramPaths programPathsFor(const std::string& programPath);

// The user's folders as the environment gives them: HOME and the XDG base folders
// (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME), empty when unset.
struct UserFolders {
    std::string home;
    std::string configHome;
    std::string dataHome;
    std::string cacheHome;
};

// The process's own environment; HOME falls back to the password database's entry.
UserFolders userFoldersFromEnvironment();

// A program whose folder is named "bin" is installed in the prefix above it (/usr/bin,
// /usr/local/bin, /opt/NAME/bin), a folder shared by every user and no place for anyone's
// files: the settings go to CONFIG/tonvert/tonvert.INI, the MIDI and Audio folders into
// DATA/tonvert/, the kept lists into CACHE/tonvert/, where CONFIG, DATA and CACHE are the
// XDG base folders (~/.config, ~/.local/share and ~/.cache unless an absolute path in the
// environment names them), and the manual is PREFIX/share/tonvert/tonvert.CHM. A program in
// any other folder keeps to the portable rule.
ProgramPaths programPathsFor(const std::string& programPath, const UserFolders& user);

// Makes the folders an installed program keeps its files in, each new one its user's alone
// (0700); a portable program makes none. False with the text of the first failure.
bool makeUserFolders(const ProgramPaths& paths, std::string& error);

} // namespace tonvert
