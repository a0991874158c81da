#pragma once

#include <compare>
#include <string>

namespace tonvert {

// A four-part file version, compared part by part in this order.
struct Version {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned release = 0;
    unsigned build = 0;
    auto operator<=>(const Version&) const = default;
};

// "major.minor.release.build" in decimal.
std::string versionText(const Version& version);

// The release name of a help viewer's file version ("1.31", "< 1.0", ...).
std::string friendlyHelpViewerVersion(const Version& version);

// The release name of a web browser control's file version.
std::string friendlyBrowserVersion(const Version& version);

// Early browser controls kept their build number in the build place of a 4.x version with
// release 0: it moves into the release place (and the build becomes 0) before comparing.
Version browserVersionAsRead(const Version& fileVersion);

// The viewer's prefixes of a path into a compiled help file.
inline constexpr const char* kMsitStorePrefix = "mk:@MSITStore:";
inline constexpr const char* kMsItsPrefix = "ms-its:";

// The path the viewer opens: file, "::" and topic (slashes, leading "/"), then ">" and the
// window name; "%20" stands for a blank and outer blanks are dropped in all three texts.
std::string helpPath(const std::string& file, const std::string& topic, const std::string& window,
                     const std::string& prefix = {});

// The name of a classic help command number, "??" for one it does not know.
std::string helpCommandName(unsigned command);

// The message of a topic request's result code (empty for 0).
std::string helpErrorText(int code);

// "[Error:N] " and the description of an operating-system error number as the classic
// shell reported it.
std::string shellErrorText(int error);

} // namespace tonvert

namespace tonvert {

// The parts of a viewer path: the file (without a viewer prefix), the topic after "::" and
// the window name after ">".
struct HelpPathParts {
    std::string file;
    std::string topic;
    std::string window;
};
HelpPathParts splitHelpPath(const std::string& path);

} // namespace tonvert
