#pragma once

#include <functional>
#include <string>

namespace tonvert {

// A file name split at its last dot: "Song.mid" is "Song" and "mid"; a name without a dot has
// no extension.
struct NameParts {
    std::string base;
    std::string extension; // without the dot
    bool hasExtension = false;
};
NameParts splitFileName(const std::string& name);

// The last part of a path.
std::string fileNameOf(const std::string& path);

// `path` itself when it is free, else the first of "base (2).ext", "base (3).ext" ... that is.
std::string freePathFor(const std::string& path,
                        const std::function<bool(const std::string&)>& taken);

} // namespace tonvert
