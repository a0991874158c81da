#include "dirsUnit.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <pwd.h>
#include <unistd.h>
#endif

namespace tonvert {

namespace {

bool isSeparator(char c) {
#if defined(_WIN32)
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

// An XDG base folder: the environment's value when it is an absolute path (XDG's rule: a
// relative one is ignored), else its default under home.
std::string baseFolder(const std::string& value, const std::string& home,
                       const std::string& underHome) {
    if (!value.empty() && value.front() == '/')
        return addTrailingBackslash(value);
    return addTrailingBackslash(home) + underHome;
}

std::string lastPart(const std::string& folder) {
    const std::size_t slash = folder.rfind(kPathSeparator);
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

bool makeFolder(const std::string& folder, std::string& error) {
    // Each missing level from the top down, so that each one made is its user's alone.
    std::size_t at = 0;
    do {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make the folder " + part + ": " + std::strerror(errno);
            return false;
        }
    } while (at != std::string::npos);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = folder + " is no folder";
        return false;
    }
    return true;
}

} // namespace

std::string addTrailingBackslash(const std::string& path) {
    if (path.empty() || isSeparator(path.back()))
        return path;
    return path + kPathSeparator;
}

std::string changeFileExt(const std::string& path, const std::string& extension) {
    for (std::size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
        if (isSeparator(c))
            break;
        if (c == '.')
            return path.substr(0, i - 1) + extension;
    }
    return path + extension;
}

std::string extractFileDir(const std::string& path) {
    std::size_t i = path.size();
    while (i > 0 && !isSeparator(path[i - 1]))
        --i;
    if (i == 0)
        return {};
    // Keep the separator of a root folder ("/" or "C:\").
    const bool root = i == 1 || (i >= 2 && path[i - 2] == ':');
    return path.substr(0, root ? i : i - 1);
}

ProgramPaths programPathsFor(const std::string& programPath) {
    ProgramPaths paths;
    paths.programPath = programPath;
    paths.settingsFile = changeFileExt(programPath, ".INI");
    paths.helpFile = changeFileExt(programPath, ".CHM");
    paths.programFolder = addTrailingBackslash(extractFileDir(programPath));
    const std::string separator(1, kPathSeparator);
    paths.defaultMidiFolder = paths.programFolder + "MIDI" + separator;
    paths.defaultAudioFolder = paths.programFolder + "Audio" + separator;
    paths.tempFolder = paths.programFolder + "Temp" + separator;
    return paths;
}

UserFolders userFoldersFromEnvironment() {
    const auto value = [](const char* name) {
        const char* text = std::getenv(name);
        return std::string(text != nullptr ? text : "");
    };
    UserFolders user{value("HOME"), value("XDG_CONFIG_HOME"), value("XDG_DATA_HOME"),
                     value("XDG_CACHE_HOME")};
#if !defined(_WIN32)
    if (user.home.empty())
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir)
            user.home = entry->pw_dir;
#endif
    return user;
}

ProgramPaths programPathsFor(const std::string& programPath, const UserFolders& user) {
    ProgramPaths paths = programPathsFor(programPath);
    const std::string folder = extractFileDir(programPath);
    if (lastPart(folder) != "bin")
        return paths;
    paths.installed = true;
    const std::string config = baseFolder(user.configHome, user.home, ".config/") + "tonvert/";
    const std::string data = baseFolder(user.dataHome, user.home, ".local/share/") + "tonvert/";
    paths.settingsFile = config + "tonvert.INI";
    paths.defaultMidiFolder = data + "MIDI/";
    paths.defaultAudioFolder = data + "Audio/";
    paths.tempFolder = baseFolder(user.cacheHome, user.home, ".cache/") + "tonvert/";
    paths.helpFile = addTrailingBackslash(extractFileDir(folder)) + "share/tonvert/tonvert.CHM";
    return paths;
}

bool makeUserFolders(const ProgramPaths& paths, std::string& error) {
    if (!paths.installed)
        return true;
    for (const std::string& folder : {extractFileDir(paths.settingsFile), paths.defaultMidiFolder,
                                      paths.defaultAudioFolder, paths.tempFolder})
        if (!makeFolder(folder, error))
            return false;
    return true;
}

} // namespace tonvert
