#include "dirsUnit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testFiles.h"

namespace tonvert {
namespace {

TEST(DirsUnit, FolderRule) {
    EXPECT_EQ(addTrailingBackslash(""), "");
    EXPECT_EQ(addTrailingBackslash("/"), "/");
    EXPECT_EQ(addTrailingBackslash("/home/user"), "/home/user/");
    EXPECT_EQ(addTrailingBackslash("/home/user/"), "/home/user/");
    EXPECT_EQ(addTrailingBackslash("relative"), "relative/");
}

TEST(DirsUnit, FileNameParts) {
    EXPECT_EQ(changeFileExt("/opt/tv/tonvert", ".INI"), "/opt/tv/tonvert.INI");
    EXPECT_EQ(changeFileExt("/opt/tv/tonvert.bin", ".INI"), "/opt/tv/tonvert.INI");
    EXPECT_EQ(changeFileExt("/opt/t.v/tonvert", ".CHM"), "/opt/t.v/tonvert.CHM");
    EXPECT_EQ(changeFileExt("/opt/tv/a.b.c", ".INI"), "/opt/tv/a.b.INI");
    EXPECT_EQ(extractFileDir("/opt/tv/tonvert"), "/opt/tv");
    EXPECT_EQ(extractFileDir("/tonvert"), "/");
    EXPECT_EQ(extractFileDir("tonvert"), "");
}

TEST(DirsUnit, ProgramPaths) {
    const ProgramPaths paths = programPathsFor("/opt/Tonvert/tonvert");
    EXPECT_EQ(paths.settingsFile, "/opt/Tonvert/tonvert.INI");
    EXPECT_EQ(paths.helpFile, "/opt/Tonvert/tonvert.CHM");
    EXPECT_EQ(paths.programFolder, "/opt/Tonvert/");
    EXPECT_EQ(paths.defaultMidiFolder, "/opt/Tonvert/MIDI/");
    EXPECT_EQ(paths.defaultAudioFolder, "/opt/Tonvert/Audio/");
    EXPECT_EQ(paths.tempFolder, "/opt/Tonvert/Temp/");

    // A program in the root folder: one separator between the root and the folder name.
    const ProgramPaths root = programPathsFor("/tonvert");
    EXPECT_EQ(root.programFolder, "/");
    EXPECT_EQ(root.defaultMidiFolder, "/MIDI/");
    EXPECT_EQ(root.settingsFile, "/tonvert.INI");
}

TEST(DirsUnit, InstalledProgramKeepsToTheUsersFolders) {
    const UserFolders ann{"/home/ann", "", "", ""};
    const UserFolders xdg{"/home/ann", "/cfg/", "/d", "/c"};
    const UserFolders relative{"/home/ann", "cfg", "d", "c"};
    struct Case {
        const char* program;
        UserFolders user;
        const char* settings; // the MIDI and Audio folders lie in the data folder
        const char* data;
        const char* temp;
        const char* help;
    } cases[] = {
        {"/home/ann/Tonvert/tonvert", xdg, "/home/ann/Tonvert/tonvert.INI", "/home/ann/Tonvert/",
         "/home/ann/Tonvert/Temp/", "/home/ann/Tonvert/tonvert.CHM"},
        {"/usr/bin/tonvert", ann, "/home/ann/.config/tonvert/tonvert.INI",
         "/home/ann/.local/share/tonvert/", "/home/ann/.cache/tonvert/",
         "/usr/share/tonvert/tonvert.CHM"},
        {"/opt/tv/bin/tonvert", xdg, "/cfg/tonvert/tonvert.INI", "/d/tonvert/", "/c/tonvert/",
         "/opt/tv/share/tonvert/tonvert.CHM"},
        {"/usr/local/bin/tonvert", relative, "/home/ann/.config/tonvert/tonvert.INI",
         "/home/ann/.local/share/tonvert/", "/home/ann/.cache/tonvert/",
         "/usr/local/share/tonvert/tonvert.CHM"},
    };
    for (const Case& c : cases) {
        const ProgramPaths paths = programPathsFor(c.program, c.user);
        EXPECT_EQ(paths.settingsFile, c.settings) << c.program;
        EXPECT_EQ(paths.defaultMidiFolder, std::string(c.data) + "MIDI/") << c.program;
        EXPECT_EQ(paths.defaultAudioFolder, std::string(c.data) + "Audio/") << c.program;
        EXPECT_EQ(paths.tempFolder, c.temp) << c.program;
        EXPECT_EQ(paths.helpFile, c.help) << c.program;
    }
}

TEST(DirsUnit, MakesOnlyAnInstalledProgramsFolders) {
    test::TempFolder home;
    std::string error;
    const UserFolders user{home.path(), "", "", ""};
    EXPECT_TRUE(makeUserFolders(programPathsFor(home.file("Tonvert/tonvert"), user), error));
    EXPECT_FALSE(std::filesystem::exists(home.file("Tonvert")));
    const ProgramPaths paths = programPathsFor("/usr/bin/tonvert", user);
    ASSERT_TRUE(makeUserFolders(paths, error)) << error;
    for (const std::string& folder : {home.file(".config/tonvert"), paths.defaultMidiFolder,
                                      paths.defaultAudioFolder, home.file(".cache/tonvert")}) {
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0) << folder;
        EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
    }
    test::writeBytes(home.file("file"), "");
    EXPECT_FALSE(makeUserFolders(
        programPathsFor("/usr/bin/tonvert", {home.file("file"), "", "", ""}), error));
}

} // namespace
} // namespace tonvert
