#include "portableIniFiles.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testFiles.h"

namespace tonvert {
namespace {

using test::readBytes;
using test::TempFolder;
using test::writeBytes;

class PortableIniFileTest : public ::testing::Test {
protected:
    std::string load(const std::string& text) {
        writeBytes(path, text);
        return path;
    }
    TempFolder folder;
    std::string path = folder.file("tonvert.INI");
};

TEST_F(PortableIniFileTest, AnyLineBreakEndsALine) {
    {
        // Edited by hand with bare line feeds: every setting is read.
        TPortableIniFile ini(load("[A]\nKey=1\nOther= two \n\n[B]\nN=$10\n"));
        EXPECT_EQ(ini.readString("A", "Key", "none"), "1");
        EXPECT_EQ(ini.readString("A", "Other", ""), "two");
        EXPECT_EQ(ini.readInteger("B", "N", 0), 16);
        ASSERT_EQ(ini.sections().size(), 2u);
        EXPECT_EQ(ini.sections()[0]->values, (std::vector<std::string>{"Key=1", "Other=two"}));
    }
    {
        // Mixed: CR LF, lone CR and lone LF each end one line; LF CR is two line ends.
        TPortableIniFile ini(load("[A]\r\nKey=1\rOther=2\nThird=3\n\rFourth=4\r\n\r\n"
                                  "[B]\rLast=5"));
        EXPECT_EQ(ini.readString("A", "Key", ""), "1");
        EXPECT_EQ(ini.readString("A", "Other", ""), "2");
        EXPECT_EQ(ini.readString("A", "Third", ""), "3");
        EXPECT_EQ(ini.readString("A", "Fourth", ""), "4");
        EXPECT_EQ(ini.readString("B", "Last", ""), "5");
        EXPECT_EQ(ini.sections()[0]->values.size(), 4u);
    }
    {
        TPortableIniFile ini(load("[A]\nKey=1\n\x1A"
                                  "After=2\n"));
        EXPECT_EQ(ini.readString("A", "Key", ""), "1");
        EXPECT_EQ(ini.readString("A", "After", "cut"), "cut");
    }
    {
        // Read with bare line feeds, written back with CR LF.
        TPortableIniFile ini(load("[A]\nKey=1\n"));
        ini.writeString("A", "More", "2");
    }
    EXPECT_EQ(readBytes(path), "[A]\r\nKey=1\r\nMore=2\r\n\r\n");
}

TEST_F(PortableIniFileTest, SectionHeaders) {
    TPortableIniFile ini(load("Before=0\r\n"
                              "[]\r\n"
                              "[ A ]\r\nKey=spaced\r\n"
                              "[A]\r\nKey=plain\r\n"
                              "[A] ; note\r\nStill=A\r\n"
                              "[account]\r\nuserid=low\r\n"
                              "[Account]\r\nUserID=up\r\n"
                              "  [Empty]  \r\n"
                              "[ A ]\r\nMore=merged\r\n"));
    EXPECT_EQ(ini.readString("", "Before", "ignored"), "ignored");
    EXPECT_EQ(ini.readString(" A ", "Key", ""), "spaced");
    EXPECT_EQ(ini.readString(" A ", "More", ""), "merged");
    EXPECT_EQ(ini.readString("A", "Key", ""), "plain");
    EXPECT_EQ(ini.readString("A", "Still", ""), "A");
    EXPECT_EQ(ini.readString("account", "UserID", ""), "low");
    EXPECT_EQ(ini.readString("Account", "userid", ""), "up");

    std::vector<std::string> names;
    for (const auto& section : ini.sections())
        names.push_back(section->name);
    EXPECT_EQ(names, (std::vector<std::string>{" A ", "A", "account", "Account", "Empty"}));
    EXPECT_FALSE(ini.modified());
}

TEST_F(PortableIniFileTest, KeysAndValues) {
    TPortableIniFile ini(load("[S]\r\n"
                              "Key = 5\r\n"
                              "=nokey\r\n"
                              "Eq=a=b\r\n"
                              "Quote=\"\r\n"
                              "Inner=  \" a \"  \r\n"
                              "Half=\"open\r\n"
                              "Twice=first\r\n"
                              "Other=x\r\n"
                              "TWICE=second\r\n"
                              "Gone=here\r\n"
                              "Gone=\r\n"
                              "Blank=\"\"\r\n"
                              "; comment=kept\r\n"
                              "# no equals sign\r\n"));
    EXPECT_EQ(ini.readString("S", "Key", "none"), "none");
    EXPECT_EQ(ini.readString("S", "Key ", ""), "5");
    EXPECT_EQ(ini.readString("S", "Eq", ""), "a=b");
    EXPECT_EQ(ini.readString("S", "Quote", ""), "\"");
    EXPECT_EQ(ini.readString("S", "Inner", ""), " a ");
    EXPECT_EQ(ini.readString("S", "Half", ""), "\"open");
    EXPECT_EQ(ini.readString("S", "Gone", "absent"), "absent");
    EXPECT_EQ(ini.readString("S", "Blank", "absent"), "absent");
    EXPECT_EQ(ini.readString("S", "; comment", ""), "kept");

    std::vector<std::string> lines{"already"};
    ini.readSectionValues("S", lines);
    ini.readSectionValues("Missing", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"already", "Key =5", "Eq=a=b", "Quote=\"",
                                               "Inner= a ", "Half=\"open", "TWICE=second",
                                               "Other=x", "; comment=kept"}));
}

TEST_F(PortableIniFileTest, Integers) {
    TPortableIniFile ini(
        load("[N]\r\n"
             "Plain=42\r\nNegative=-17\r\nPlus=+8\r\nDollar=$1F\r\nHex=0x1F\r\n"
             "HexUpper=0X1f\r\nAllOnes=$FFFFFFFF\r\nBad=12abc\r\nHuge=2147483648\r\n"
             "Low=-2147483648\r\nTooLong=$100000000\r\nSign=-\r\nDollarOnly=$\r\n"));
    EXPECT_EQ(ini.readInteger("N", "Plain", 0), 42);
    EXPECT_EQ(ini.readInteger("N", "Negative", 0), -17);
    EXPECT_EQ(ini.readInteger("N", "Plus", 0), 8);
    EXPECT_EQ(ini.readInteger("N", "Dollar", 0), 31);
    EXPECT_EQ(ini.readInteger("N", "Hex", 0), 31);
    EXPECT_EQ(ini.readInteger("N", "HexUpper", 0), 31);
    EXPECT_EQ(ini.readInteger("N", "AllOnes", 0), -1);
    EXPECT_EQ(ini.readInteger("N", "Low", 0), INT32_MIN);
    for (const char* invalid : {"Bad", "Huge", "TooLong", "Sign", "DollarOnly", "Missing"})
        EXPECT_EQ(ini.readInteger("N", invalid, 7), 7) << invalid;
    EXPECT_EQ(ini.readInteger("Nowhere", "Plain", 7), 7);

    EXPECT_EQ(parseInteger("   12"), 12);
    EXPECT_EQ(parseInteger("12 "), std::nullopt);
    EXPECT_EQ(parseInteger(""), std::nullopt);

    EXPECT_TRUE(ini.readBool("N", "Plain", false));
    EXPECT_FALSE(ini.readBool("N", "Missing", false));
    EXPECT_TRUE(ini.readBool("N", "Bad", true));
}

TEST_F(PortableIniFileTest, WritesBackInOrderWithCrLf) {
    writeBytes(path, "junk before\r\n[B]\r\nb1=1\r\n; ignored line\r\n\r\n[A]\r\na=\"q\"\r\n");
    {
        TPortableIniFile ini(path);
        ini.writeString("B", "b2", "2");
        ini.writeString("B", "B1", "one"); // replaced in place, in the writer's case
        ini.writeInteger("C", "n", -5);
        ini.writeString("D", "none", ""); // creates the section, stores nothing
        ini.writeBool("A", "flag", true);
    }
    EXPECT_EQ(readBytes(path), "[B]\r\nB1=one\r\nb2=2\r\n\r\n"
                               "[A]\r\na=q\r\nflag=1\r\n\r\n"
                               "[C]\r\nn=-5\r\n\r\n"
                               "[D]\r\n\r\n");
}

TEST_F(PortableIniFileTest, ValuesSurviveRewrites) {
    // Each of these was read back otherwise once the file was rewritten: blanks trimmed off,
    // quotes taken off, the line read as a section's header.
    writeBytes(path, "[S]\r\nKey=\" a \"\r\nQuoted=\"\"q\"\"\r\n[k=\"v]\"\r\n");
    const std::vector<std::pair<std::string, std::string>> written{
        {"Lead", " lead"}, {"Trail", "trail\t"}, {"Marks", "\"m\""}, {"[x", "y]"}, {"Half", "\""}};
    {
        TPortableIniFile ini(path);
        for (const auto& [key, value] : written)
            EXPECT_TRUE(ini.writeString("S", key, value));
    }
    EXPECT_EQ(readBytes(path), "[S]\r\nKey=\" a \"\r\nQuoted=\"\"q\"\"\r\n[k=\"v]\"\r\n"
                               "Lead=\" lead\"\r\nTrail=\"trail\t\"\r\nMarks=\"\"m\"\"\r\n"
                               "[x=\"y]\"\r\nHalf=\"\r\n\r\n");
    for (int rewrite = 0; rewrite < 2; ++rewrite) {
        TPortableIniFile ini(path);
        EXPECT_EQ(ini.sections().size(), 1u);
        EXPECT_EQ(ini.readString("S", "Key", ""), " a ");
        EXPECT_EQ(ini.readString("S", "Quoted", ""), "\"q\"");
        EXPECT_EQ(ini.readString("S", "[k", ""), "v]");
        for (const auto& [key, value] : written)
            EXPECT_EQ(ini.readString("S", key, ""), value) << key;
        ini.writeString("S", "Key", " a ");
    }
}

TEST_F(PortableIniFileTest, ModifiedDecidesTheRewrite) {
    const std::string original = "[A]\r\nx=1\r\n; kept while nothing is written\r\n";
    writeBytes(path, original);
    {
        TPortableIniFile ini(path);
        ini.readString("A", "x", "");
        ini.eraseSection("Missing");
        EXPECT_FALSE(ini.modified());
    }
    EXPECT_EQ(readBytes(path), original);

    {
        TPortableIniFile ini(path);
        ini.writeString("A", "x", "1"); // the same value still counts as a write
        EXPECT_TRUE(ini.modified());
    }
    EXPECT_EQ(readBytes(path), "[A]\r\nx=1\r\n\r\n");

    {
        TPortableIniFile ini(path);
        ini.eraseSection("A");
        EXPECT_TRUE(ini.modified());
    }
    EXPECT_EQ(readBytes(path), "");
}

TEST_F(PortableIniFileTest, EraseKeepsTheOrderOfTheRest) {
    writeBytes(path, "[A]\r\na=1\r\n[B]\r\nb=2\r\n[C]\r\nc=3\r\n");
    { TPortableIniFile(path).eraseSection("B"); }
    EXPECT_EQ(readBytes(path), "[A]\r\na=1\r\n\r\n[C]\r\nc=3\r\n\r\n");
}

TEST_F(PortableIniFileTest, MissingFileAndSafeRewrite) {
    {
        TPortableIniFile ini(folder.file("absent.INI"));
        EXPECT_EQ(ini.readString("A", "x", "default"), "default");
        EXPECT_EQ(ini.readInteger("A", "x", 3), 3);
    }
    EXPECT_FALSE(std::ifstream(folder.file("absent.INI")).good()) << "nothing written, no file";

    { TPortableIniFile(path).writeString("Account", "UserID", "ABCD"); }
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the settings hold the credentials";

    // A folder that cannot be written: the file is overwritten in place. Root writes
    // anywhere; the long-name test below takes that road as root too.
    writeBytes(path, "[A]\r\nx=1\r\n");
    ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
    if (::access(folder.path().c_str(), W_OK) != 0) {
        { TPortableIniFile(path).writeString("A", "x", "2"); }
        EXPECT_EQ(readBytes(path), "[A]\r\nx=2\r\n\r\n");
    }
    ::chmod(folder.path().c_str(), 0700);

    // No temporary file is left beside the settings.
    { TPortableIniFile(path).writeString("A", "y", "3"); }
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode;
}

int entriesIn(const std::string& folder) {
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++entries;
    return entries;
}

TEST_F(PortableIniFileTest, ReadOnlyFileStaysAsItIs) {
    // Root may rename over anything, so only the mode bits can tell; both forms are
    // refused: no write bit at all, and none for the owner while others have one.
    for (const mode_t mode : {0444, 0466}) {
        writeBytes(path, "[A]\r\nx=1\r\n");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        {
            TPortableIniFile ini(path);
            ini.writeString("A", "x", "2");
            EXPECT_TRUE(ini.modified());
        }
        EXPECT_EQ(readBytes(path), "[A]\r\nx=1\r\n") << std::oct << mode;
        EXPECT_EQ(modeOf(path) & 07777, mode);
        EXPECT_EQ(entriesIn(folder.path()), 1) << "no temporary file left behind";
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    }
}

TEST_F(PortableIniFileTest, ExistingFileKeepsItsModeAndOwner) {
    writeBytes(path, "[A]\r\nx=1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
    }
    { TPortableIniFile(path).writeString("A", "x", "2"); }
    EXPECT_EQ(readBytes(path), "[A]\r\nx=2\r\n\r\n");
    EXPECT_EQ(modeOf(path) & 07777, 0644u);
    if (root) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 8765u);
    }
}

TEST_F(PortableIniFileTest, FolderWithoutRoomForATemporaryFileIsWrittenInPlace) {
    // Root may create files in any folder, but no one may create a name longer than the
    // folder allows: a settings name that fits only just leaves no room for the temporary
    // file's suffix, which sends the rewrite down the in-place road.
    const long nameMax = ::pathconf(folder.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(nameMax, 16);
    const std::string longPath = folder.file(std::string(std::size_t(nameMax) - 4, 'n') + ".INI");
    writeBytes(longPath, "[A]\r\nx=a longer value than the next one\r\n");
    ASSERT_EQ(::chmod(longPath.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(longPath.c_str(), &before), 0);

    { TPortableIniFile(longPath).writeString("A", "x", "short"); }
    EXPECT_EQ(readBytes(longPath), "[A]\r\nx=short\r\n\r\n") << "the old tail is cut off";
    struct stat after {};
    ASSERT_EQ(::stat(longPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the same file, not a new one";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(entriesIn(folder.path()), 1);

    // Read-only still wins, and a file that is not there is not made this way.
    ASSERT_EQ(::chmod(longPath.c_str(), 0440), 0);
    { TPortableIniFile(longPath).writeString("A", "x", "other"); }
    EXPECT_EQ(readBytes(longPath), "[A]\r\nx=short\r\n\r\n");
    ASSERT_EQ(::unlink(longPath.c_str()), 0);
    { TPortableIniFile(longPath).writeString("A", "x", "new"); }
    EXPECT_EQ(entriesIn(folder.path()), 0);
}

TEST_F(PortableIniFileTest, SymbolicLinksAreWrittenThrough) {
    // The link lives in one folder, its target in another, reached by a relative link to a
    // second link: the new file must be made beside the final target.
    ASSERT_TRUE(std::filesystem::create_directory(folder.file("links")));
    ASSERT_TRUE(std::filesystem::create_directory(folder.file("real")));
    const std::string link = folder.file("links/tonvert.INI");
    const std::string middle = folder.file("real/middle.INI");
    const std::string target = folder.file("real/target.INI");
    writeBytes(target, "[A]\r\nx=1\r\n");
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    ASSERT_EQ(::symlink("target.INI", middle.c_str()), 0);
    ASSERT_EQ(::symlink("../real/middle.INI", link.c_str()), 0);

    { TPortableIniFile(link).writeString("A", "x", "2"); }
    EXPECT_TRUE(S_ISLNK(modeOf(link)));
    EXPECT_TRUE(S_ISLNK(modeOf(middle)));
    EXPECT_EQ(std::filesystem::read_symlink(link), "../real/middle.INI");
    EXPECT_EQ(readBytes(target), "[A]\r\nx=2\r\n\r\n");
    EXPECT_EQ(modeOf(target) & 07777, 0644u);
    EXPECT_EQ(entriesIn(folder.file("links")), 1);
    EXPECT_EQ(entriesIn(folder.file("real")), 2);

    // A link to a file not made yet makes it, owner-only; a loop of links writes nothing.
    ASSERT_EQ(::unlink(target.c_str()), 0);
    { TPortableIniFile(link).writeString("A", "x", "3"); }
    EXPECT_TRUE(S_ISLNK(modeOf(middle)));
    EXPECT_EQ(readBytes(target), "[A]\r\nx=3\r\n\r\n");
    EXPECT_EQ(modeOf(target) & 07777, 0600u);
    ASSERT_EQ(::unlink(target.c_str()), 0);
    ASSERT_EQ(::symlink("middle.INI", target.c_str()), 0);
    { TPortableIniFile(link).writeString("A", "x", "4"); }
    EXPECT_TRUE(S_ISLNK(modeOf(target)));
    EXPECT_EQ(entriesIn(folder.file("real")), 2);
}

TEST_F(PortableIniFileTest, LineBreaksAreRefused) {
    writeBytes(path, "[A]\r\nx=1\r\n");
    {
        TPortableIniFile ini(path);
        EXPECT_FALSE(ini.writeString("A", "x", "2\r\n[Account]\r\nUserID=0"));
        EXPECT_FALSE(ini.writeString("A", "y\n", "1"));
        EXPECT_FALSE(ini.writeString("B\r", "y", "1"));
        EXPECT_FALSE(ini.writeString("B\n", "y", "")) << "even when it would store nothing";
        EXPECT_FALSE(ini.writeString("A", "x", "cut\x1A short")) << "Ctrl-Z ends the file";
        ini.writeInteger("C\r\nD", "n", 1);
        EXPECT_FALSE(ini.modified());
        EXPECT_EQ(ini.readString("A", "x", ""), "1");
        EXPECT_EQ(ini.sections().size(), 1u) << "no section made";
    }
    EXPECT_EQ(readBytes(path), "[A]\r\nx=1\r\n") << "not rewritten";
    {
        TPortableIniFile ini(path);
        EXPECT_TRUE(ini.writeString("A", "x", "tab\there"));
        EXPECT_TRUE(ini.writeString("A", "x", ""));
        EXPECT_TRUE(ini.modified());
    }
    EXPECT_EQ(readBytes(path), "[A]\r\n\r\n");
}

} // namespace
} // namespace tonvert
