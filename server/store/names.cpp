#include "store/names.h"

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

bool isUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must lie in.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // overlong below
            if (lead == 0xED)
                high = 0x9F; // surrogates above
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F; // beyond U+10FFFF above
        } else
            return false;
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

bool fitsUploadName(const std::string& name) {
    return rootOf(name).size() <= kMaxUploadRootBytes && isUtf8(name);
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
