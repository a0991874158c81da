#include "fileIo.h"

#include <gtest/gtest.h>

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
}

} // namespace
} // namespace tonvert
