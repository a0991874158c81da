#include "names.h"

#include <algorithm>

#include "asciiText.h"

namespace tonvert::service {

namespace {

bool usable(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 32 && byte != 127 && c != '.' && c != '/' && c != '\\' && c != ':';
}

bool allUsable(const std::string& text) {
    for (char c : text)
        if (!usable(c))
            return false;
    return true;
}

} // namespace

NameCheck checkFileName(const std::string& name) {
    const auto dot = name.find('.');
    if (dot == 0 || name.empty())
        return NameCheck::noRoot;
    if (dot == std::string::npos || dot + 1 == name.size())
        return NameCheck::noExtension;
    const std::string root = name.substr(0, dot);
    const std::string extension = name.substr(dot + 1);
    if (!allUsable(root))
        return NameCheck::noRoot;
    if (extension.size() != 3 || !allUsable(extension))
        return NameCheck::badExtension;
    return NameCheck::good;
}

std::string rootOf(const std::string& name) {
    return name.substr(0, name.find('.'));
}

std::string extensionOf(const std::string& name) {
    const auto dot = name.find('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string audioNameFor(const std::string& midiName, const std::string& extension,
                         const std::vector<std::string>& taken) {
    const std::string root = rootOf(midiName);
    const auto free = [&](const std::string& name) {
        return std::none_of(taken.begin(), taken.end(), [&](const std::string& t) {
            return ascii::equalIgnoringCase(t, name);
        });
    };
    // "-2" rather than " (2)": a name of ours adds nothing that a request has to encode.
    std::string name = root + "." + extension;
    for (int n = 2; !free(name); ++n)
        name = root + "-" + std::to_string(n) + "." + extension;
    return name;
}

} // namespace tonvert::service
