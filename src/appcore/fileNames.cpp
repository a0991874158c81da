#include "fileNames.h"

#include "dirsUnit.h"

namespace tonvert {

NameParts splitFileName(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return {name, {}, false};
    return {name.substr(0, dot), name.substr(dot + 1), true};
}

std::string fileNameOf(const std::string& path) {
    const auto separator = path.find_last_of(kPathSeparator);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string freePathFor(const std::string& path,
                        const std::function<bool(const std::string&)>& taken) {
    if (!taken(path))
        return path;
    const std::string name = fileNameOf(path);
    const std::string folder = path.substr(0, path.size() - name.size());
    const NameParts parts = splitFileName(name);
    for (int n = 2;; ++n) {
        std::string candidate = folder + parts.base + " (" + std::to_string(n) + ")" +
                                (parts.hasExtension ? "." + parts.extension : "");
        if (!taken(candidate))
            return candidate;
    }
}

} // namespace tonvert
