#include "dirsUnit.h"

namespace tonvert {

namespace {

bool isSeparator(char c) {
#if defined(_WIN32)
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
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

} // namespace tonvert
