#include "dirsUnit.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tonvert
