#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "hhTexts.h"

using namespace tonvert;

namespace {

using Table = std::vector<std::pair<Version, std::string>>;

// The version just below another one.
Version below(Version v) {
    if (v.build > 0) {
        --v.build;
    } else {
        --v.release;
        v.build = std::numeric_limits<unsigned>::max();
    }
    return v;
}

Version above(Version v) {
    ++v.build;
    return v;
}

// Every threshold gives its own name, the version just above it still the same one (unless
// it is the newest), and the version just below it the next older name.
template <typename Friendly>
void checkThresholds(Friendly friendly, const Table& table, const std::string& newer,
                     const std::string& oldest) {
    EXPECT_EQ(friendly(above(table.front().first)), newer);
    EXPECT_EQ(friendly(Version{99, 0, 0, 0}), newer);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto& [version, name] = table[i];
        const std::string older = i + 1 < table.size() ? table[i + 1].second : oldest;
        EXPECT_EQ(friendly(version), name) << versionText(version);
        EXPECT_EQ(friendly(below(version)), older) << versionText(below(version));
        if (i > 0) {
            EXPECT_EQ(friendly(above(version)), name) << versionText(above(version));
        }
    }
    EXPECT_EQ(friendly(Version{}), oldest);
}

} // namespace

TEST(HelpVersions, ViewerReleaseNames) {
    const Table table{
        {{4, 74, 8793, 0}, "1.31"},  {{4, 74, 8702, 0}, "1.3"},  {{4, 73, 8561, 0}, "1.22"},
        {{4, 73, 8474, 0}, "1.21a"}, {{4, 73, 8412, 0}, "1.21"}, {{4, 73, 8252, 0}, "1.2"},
        {{4, 72, 8164, 0}, "1.1b"},  {{4, 72, 7325, 0}, "1.1a"}, {{4, 72, 7323, 0}, "1.1"},
        {{4, 72, 7290, 0}, "1.0"},
    };
    checkThresholds(friendlyHelpViewerVersion, table, "> 1.31", "< 1.0");
    // The parts count in order: a higher minor outweighs any release.
    EXPECT_EQ(friendlyHelpViewerVersion({4, 73, 0, 0}), "1.1b");
    EXPECT_EQ(friendlyHelpViewerVersion({0, 1, 0, 0}), "< 1.0");
}

TEST(HelpVersions, BrowserReleaseNames) {
    const Table table{
        {{5, 50, 3825, 1300}, "Internet Explorer 5.5 Developer Preview"},
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
    checkThresholds(friendlyBrowserVersion, table, "> Internet Explorer 5.5 Developer Preview",
                    "< Internet Explorer 1.0 (Plus!)");
}

TEST(HelpVersions, EarlyBrowserBuildMovesIntoTheReleasePlace) {
    EXPECT_EQ(browserVersionAsRead({4, 70, 0, 1300}), (Version{4, 70, 1300, 0}));
    EXPECT_EQ(friendlyBrowserVersion(browserVersionAsRead({4, 70, 0, 1300})),
              "Internet Explorer 3.02");
    EXPECT_EQ(browserVersionAsRead({4, 40, 0, 520}), (Version{4, 40, 520, 0}));
    // Only 4.x up to minor 70 with release 0.
    EXPECT_EQ(browserVersionAsRead({4, 71, 0, 1712}), (Version{4, 71, 0, 1712}));
    EXPECT_EQ(browserVersionAsRead({4, 70, 1, 1300}), (Version{4, 70, 1, 1300}));
    EXPECT_EQ(browserVersionAsRead({5, 0, 0, 2014}), (Version{5, 0, 0, 2014}));
    EXPECT_EQ(versionText({4, 72, 3612, 1713}), "4.72.3612.1713");
}

TEST(HelpPaths, FileTopicWindowAndPrefixes) {
    EXPECT_EQ(helpPath("/opt/Tonvert/TONVERT.CHM", "", ""), "/opt/Tonvert/TONVERT.CHM");
    EXPECT_EQ(helpPath("/opt/My%20Programs/T.CHM", "", ""), "/opt/My Programs/T.CHM");
    EXPECT_EQ(helpPath("  /opt/T.CHM%20", " %20main ", ""), "/opt/T.CHM::/main");
    EXPECT_EQ(helpPath("T.CHM", "topics\\net work.htm", "Main"),
              "T.CHM::/topics/net work.htm>Main");
    EXPECT_EQ(helpPath("T.CHM", "/already.htm", ""), "T.CHM::/already.htm");
    EXPECT_EQ(helpPath("", "page.htm", ""), "/page.htm");
    EXPECT_EQ(helpPath("T.CHM", "", "%20Wide%20"), "T.CHM>Wide");
    EXPECT_EQ(helpPath("T.CHM", "", "", kMsitStorePrefix), "mk:@MSITStore:T.CHM");
    EXPECT_EQ(helpPath("T.CHM", "a.htm", "W", kMsItsPrefix), "ms-its:T.CHM::/a.htm>W");
}

TEST(HelpPaths, SplitGivesBackTheParts) {
    const auto parts = splitHelpPath("mk:@MSITStore:/opt/a b/T.CHM::/dir/p.htm>Main");
    EXPECT_EQ(parts.file, "/opt/a b/T.CHM");
    EXPECT_EQ(parts.topic, "/dir/p.htm");
    EXPECT_EQ(parts.window, "Main");
    const auto plain = splitHelpPath("/opt/T.CHM");
    EXPECT_EQ(plain.file, "/opt/T.CHM");
    EXPECT_TRUE(plain.topic.empty());
    EXPECT_TRUE(plain.window.empty());
    EXPECT_EQ(splitHelpPath("ms-its:T.CHM>W").window, "W");
    EXPECT_EQ(splitHelpPath("ms-its:T.CHM>W").file, "T.CHM");
}

TEST(HelpTexts, CommandNames) {
    const std::vector<std::pair<unsigned, std::string>> names{
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
    };
    for (const auto& [number, name] : names)
        EXPECT_EQ(helpCommandName(number), name) << number;
    for (unsigned unknown : {0u, 6u, 7u, 14u, 256u, 259u, 514u, 516u})
        EXPECT_EQ(helpCommandName(unknown), "??") << unknown;
}

TEST(HelpTexts, ResultAndShellErrors) {
    EXPECT_EQ(helpErrorText(0), "");
    EXPECT_EQ(helpErrorText(1), "MS Html Help is not installed on this PC.");
    EXPECT_EQ(helpErrorText(2), "System file KeyHH.EXE was not found in the Windows folder.");
    EXPECT_EQ(helpErrorText(3), "System file HH.EXE was not found in the Windows folder.");
    EXPECT_EQ(helpErrorText(4), "Unknown error returned by HHHelpContext");
    EXPECT_EQ(helpErrorText(-1), "Unknown error returned by HHHelpContext");

    const std::vector<std::pair<int, std::string>> errors{
        {2, "File Not Found"},
        {3, "Path Not Found"},
        {5, "Access Denied"},
        {8, "Insufficient Memory"},
        {19, "Media Is Write Protected"},
        {21, "Device Not Ready"},
        {32, "File In Use"},
        {33, "File In Use"},
        {39, "Disk Full"},
        {112, "Disk Full"},
        {276, "Corrupt File Or Disk"},
        {1005, "Corrupt File Or Disk"},
        {1392, "Corrupt File Or Disk"},
        {1393, "Corrupt File Or Disk"},
        {1009, "Corrupt Registry"},
        {1358, "Corrupt Registry"},
        {1150, "Windows Version Incorrect"},
        {1151, "Not A Windows Or MSDos Program"},
        {0, "General Failure"},
        {4, "General Failure"},
        {13, "General Failure"},
        {1152, "General Failure"},
    };
    for (const auto& [number, text] : errors)
        EXPECT_EQ(shellErrorText(number), "[Error:" + std::to_string(number) + "] " + text);
}
