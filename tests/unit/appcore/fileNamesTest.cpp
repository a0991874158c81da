#include <gtest/gtest.h>
#include <set>

#include "fileListText.h"
#include "fileNames.h"

namespace tonvert {
namespace {

TEST(FileNames, SplitAndFreshNames) {
    EXPECT_EQ(splitFileName("Song.mid").base, "Song");
    EXPECT_EQ(splitFileName("Song.mid").extension, "mid");
    EXPECT_EQ(splitFileName("a.b.WAV").base, "a.b");
    EXPECT_FALSE(splitFileName("README").hasExtension);
    EXPECT_EQ(splitFileName(".hidden.mid").base, ".hidden");
    EXPECT_EQ(fileNameOf("/music/midi/Song.mid"), "Song.mid");
    EXPECT_EQ(fileNameOf("Song.mid"), "Song.mid");

    std::set<std::string> taken{"/m/Song.mid", "/m/Song (2).mid", "/m/README"};
    const auto isTaken = [&](const std::string& path) { return taken.count(path) > 0; };
    EXPECT_EQ(freePathFor("/m/New.mid", isTaken), "/m/New.mid");
    EXPECT_EQ(freePathFor("/m/Song.mid", isTaken), "/m/Song (3).mid");
    EXPECT_EQ(freePathFor("/m/README", isTaken), "/m/README (2)");
}

TEST(FileListText, PlayTimesAndSizes) {
    EXPECT_EQ(playTimeText(59.6), "01:00");
    EXPECT_EQ(playTimeText(119.4), "01:59");
    EXPECT_EQ(playTimeText(7), "00:07");
    EXPECT_EQ(playTimeText(187.2), "03:07");
    EXPECT_EQ(playTimeText(7500), "125:00");
    // Halves go to the even second.
    EXPECT_EQ(playTimeText(2.5), "00:02");
    EXPECT_EQ(playTimeText(3.5), "00:04");
    EXPECT_EQ(playTimeText(0.5), "00:00");

    EXPECT_EQ(sizeText(0), "0");
    EXPECT_EQ(sizeText(999), "999");
    EXPECT_EQ(sizeText(1000), "1 000");
    EXPECT_EQ(sizeText(1234567), "1 234 567");
    EXPECT_EQ(sizeText(5000000000ull), "5 000 000 000");
}

} // namespace
} // namespace tonvert
