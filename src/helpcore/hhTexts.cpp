#include "hhTexts.h"

#include <array>
#include <iterator>
#include <utility>

namespace tonvert {

std::string versionText(const Version& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
           std::to_string(v.release) + "." + std::to_string(v.build);
}

namespace {

struct Threshold {
    Version version;
    const char* name;
};

// First threshold at or below the version wins; below all of them gives `oldest`.
std::string releaseName(const Version& version, const Threshold* first, const Threshold* last,
                        const char* oldest) {
    for (auto* t = first; t != last; ++t)
        if (version >= t->version)
            return t->name;
    return oldest;
}

} // namespace

std::string friendlyHelpViewerVersion(const Version& version) {
    static constexpr Version newest{4, 74, 8793, 0};
    if (version > newest)
        return "> 1.31";
    static constexpr Threshold table[] = {
        {newest, "1.31"},           {{4, 74, 8702, 0}, "1.3"},
        {{4, 73, 8561, 0}, "1.22"}, {{4, 73, 8474, 0}, "1.21a"},
        {{4, 73, 8412, 0}, "1.21"}, {{4, 73, 8252, 0}, "1.2"},
        {{4, 72, 8164, 0}, "1.1b"}, {{4, 72, 7325, 0}, "1.1a"},
        {{4, 72, 7323, 0}, "1.1"},  {{4, 72, 7290, 0}, "1.0"},
    };
    return releaseName(version, std::begin(table), std::end(table), "< 1.0");
}

std::string friendlyBrowserVersion(const Version& version) {
    static constexpr Version newest{5, 50, 3825, 1300};
    if (version > newest)
        return "> Internet Explorer 5.5 Developer Preview";
    static constexpr Threshold table[] = {
        {newest, "Internet Explorer 5.5 Developer Preview"},
        {{5, 0, 2919, 6307}, "Internet Explorer 5.01"},
        {{5, 0, 2919, 3800}, "Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
        {{5, 0, 2919, 800}, "Internet Explorer 5.01 (Windows 2000 RC1, build 5.00.2072)"},
        {{5, 0, 2721, 1400}, "Internet Explorer 5.0 updated"},
        {{5, 0, 2614, 0}, "Internet Explorer 5.0b"},
        {{5, 0, 2314, 0}, "Internet Explorer 5.0a"},
        {{5, 0, 2014, 0}, "Internet Explorer 5.0"},
        {{5, 0, 910, 0}, "Internet Explorer 5 Beta (Beta 2)"},
        {{5, 0, 518, 0}, "Internet Explorer 5 Developer Preview (Beta 1)"},
        {{4, 72, 3612, 0}, "Internet Explorer 4.01 Service Pack 2 (SP2)"},
        {{4, 72, 3110, 0}, "Internet Explorer 4.01 Service Pack 1 (SP1)"},
        {{4, 72, 2106, 0}, "Internet Explorer 4.01"},
        {{4, 71, 1712, 0}, "Internet Explorer 4.0"},
        {{4, 71, 1008, 0}, "Internet Explorer 4.0 Platform Preview 2.0 (PP2)"},
        {{4, 71, 544, 0}, "Internet Explorer 4.0 Platform Preview 1.0 (PP1)"},
        {{4, 70, 1300, 0}, "Internet Explorer 3.02"},
        {{4, 70, 1215, 0}, "Internet Explorer 3.01"},
        {{4, 70, 1158, 0}, "Internet Explorer 3.0 (OSR2)"},
        {{4, 70, 1155, 0}, "Internet Explorer 3.0"},
        {{4, 40, 520, 0}, "Internet Explorer 2.0"},
        {{4, 40, 308, 0}, "Internet Explorer 1.0 (Plus!)"},
    };
    return releaseName(version, std::begin(table), std::end(table),
                       "< Internet Explorer 1.0 (Plus!)");
}

Version browserVersionAsRead(const Version& v) {
    if (v.major == 4 && v.minor <= 70 && v.release == 0)
        return {v.major, v.minor, v.build, 0};
    return v;
}

namespace {

std::string cleanPart(std::string text) {
    for (std::size_t at = text.find("%20"); at != std::string::npos; at = text.find("%20", at))
        text.replace(at, 3, " ");
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string helpPath(const std::string& file, const std::string& topic, const std::string& window,
                     const std::string& prefix) {
    const std::string cleanFile = cleanPart(file);
    std::string cleanTopic = cleanPart(topic);
    const std::string cleanWindow = cleanPart(window);
    std::string path = cleanFile;
    if (!cleanTopic.empty()) {
        for (char& c : cleanTopic)
            if (c == '\\')
                c = '/';
        if (cleanTopic.front() != '/')
            cleanTopic = "/" + cleanTopic;
        path = cleanFile.empty() ? cleanTopic : cleanFile + "::" + cleanTopic;
    }
    if (!cleanWindow.empty())
        path += ">" + cleanWindow;
    return prefix + path;
}

std::string helpCommandName(unsigned command) {
    static constexpr std::array<std::pair<unsigned, const char*>, 16> names{{
        {1, "HELP_CONTEXT"},
        {2, "HELP_QUIT"},
        {3, "HELP_INDEX or HELP_CONTENTS"},
        {4, "HELP_HELPONHELP"},
        {5, "HELP_SETINDEX or HELP_SETCONTENTS"},
        {8, "HELP_CONTEXTPOPUP"},
        {9, "HELP_FORCEFILE"},
        {10, "HELP_CONTEXTMENU"},
        {11, "HELP_FINDER"},
        {12, "HELP_WM_HELP"},
        {13, "HELP_SETPOPUP_POS"},
        {257, "HELP_KEY"},
        {258, "HELP_COMMAND"},
        {261, "HELP_PARTIALKEY"},
        {513, "HELP_MULTIKEY"},
        {515, "HELP_SETWINPOS"},
    }};
    for (const auto& [number, name] : names)
        if (number == command)
            return name;
    return "??";
}

std::string helpErrorText(int code) {
    switch (code) {
    case 0:
        return {};
    case 1:
        return "MS Html Help is not installed on this PC.";
    case 2:
        return "System file KeyHH.EXE was not found in the Windows folder.";
    case 3:
        return "System file HH.EXE was not found in the Windows folder.";
    default:
        return "Unknown error returned by HHHelpContext";
    }
}

std::string shellErrorText(int error) {
    const char* text = "General Failure";
    switch (error) {
    case 2:
        text = "File Not Found";
        break;
    case 3:
        text = "Path Not Found";
        break;
    case 5:
        text = "Access Denied";
        break;
    case 8:
        text = "Insufficient Memory";
        break;
    case 19:
        text = "Media Is Write Protected";
        break;
    case 21:
        text = "Device Not Ready";
        break;
    case 32:
    case 33:
        text = "File In Use";
        break;
    case 39:
    case 112:
        text = "Disk Full";
        break;
    case 276:
    case 1005:
    case 1392:
    case 1393:
        text = "Corrupt File Or Disk";
        break;
    case 1009:
    case 1358:
        text = "Corrupt Registry";
        break;
    case 1150:
        text = "Windows Version Incorrect";
        break;
    case 1151:
        text = "Not A Windows Or MSDos Program";
        break;
    default:
        break;
    }
    return "[Error:" + std::to_string(error) + "] " + text;
}

} // namespace tonvert

namespace tonvert {

HelpPathParts splitHelpPath(const std::string& path) {
    HelpPathParts parts;
    std::string rest = path;
    for (const std::string prefix : {kMsitStorePrefix, kMsItsPrefix})
        if (rest.compare(0, prefix.size(), prefix) == 0) {
            rest.erase(0, prefix.size());
            break;
        }
    const auto topicAt = rest.find("::");
    const auto windowAt = rest.rfind('>');
    if (windowAt != std::string::npos && (topicAt == std::string::npos || windowAt > topicAt)) {
        parts.window = rest.substr(windowAt + 1);
        rest.erase(windowAt);
    }
    if (topicAt != std::string::npos) {
        parts.topic = rest.substr(topicAt + 2);
        rest.erase(topicAt);
    }
    parts.file = rest;
    return parts;
}

} // namespace tonvert
