#include "fileIo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "testFiles.h"

namespace tonvert {
namespace {

TEST(FileIo, WholeFilesBothWays) {
    test::TempFolder folder;
    const std::string path = folder.file("MidiList.TXT");
    const std::string bytes("12:00\r\n!VAL 2\r\nline\0with zero", 30);

    ASSERT_TRUE(writeTextFile(path, bytes));
    EXPECT_EQ(test::readBytes(path), bytes) << "written as is, no line end added";
    std::string text = "stale";
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text, bytes);

    ASSERT_TRUE(writeTextFile(path, ""));
    ASSERT_TRUE(readWholeFile(path, text));
    EXPECT_EQ(text, "");

    text = "stale";
    EXPECT_FALSE(readWholeFile(folder.file("missing.TXT"), text));
    EXPECT_EQ(text, "") << "the text is cleared first";
    EXPECT_FALSE(readWholeFile(folder.path(), text)) << "a folder is not a file";
    EXPECT_FALSE(writeTextFile(folder.file("no/such/folder.TXT"), "x"));

    // A list is only ever replaced whole: where no new file fits beside it (its name leaves
    // no room for the temporary suffix), the old one stays as it was.
    const std::string longPath = folder.file(
        std::string(std::size_t(::pathconf(folder.path().c_str(), _PC_NAME_MAX)) - 4, 'n') +
        ".TXT");
    test::writeBytes(longPath, "old");
    EXPECT_FALSE(writeTextFile(longPath, "new"));
    EXPECT_EQ(test::readBytes(longPath), "old");
}

TEST(FileIo, FileHeads) {
    test::TempFolder folder;
    const std::string path = folder.file("song.mp3");
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    test::writeBytes(path, bytes);

    std::string head = "stale";
    ASSERT_TRUE(readFileHead(path, 4096, head));
    EXPECT_EQ(head, bytes.substr(0, 4096));
    ASSERT_TRUE(readFileHead(path, 20000, head)) << "a shorter file is read whole";
    EXPECT_EQ(head, bytes);

    test::writeBytes(path, std::string("!ERR 1033\r\n\0x", 14));
    ASSERT_TRUE(readFileHead(path, 4096, head));
    EXPECT_EQ(head, std::string("!ERR 1033\r\n\0x", 14)) << "raw bytes, zero included";

    test::writeBytes(path, "");
    head = "stale";
    ASSERT_TRUE(readFileHead(path, 4096, head));
    EXPECT_EQ(head, "");

    head = "stale";
    EXPECT_FALSE(readFileHead(folder.file("missing.mp3"), 4096, head));
    EXPECT_EQ(head, "") << "the text is cleared first";
    EXPECT_FALSE(readFileHead(folder.path(), 4096, head)) << "a folder is not a file";
}

} // namespace
} // namespace tonvert
