#include "onlineListFile.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace tonvert {
namespace {

std::string rowsText(const OnlineListRows& list) {
    std::string text = list.valid ? "valid" : "invalid";
    for (const FileRow& row : list.rows) {
        text += "|" + row.fileName + " " + std::string(row.name()) + " " + row.type;
        if (row.record)
            text += " #" + std::to_string(*row.record);
        if (row.size)
            text += " " + std::to_string(*row.size) + "B";
    }
    return text;
}

TEST(OnlineListFile, RowsAsThePanesShowThem) {
    // The reference service's replies, kept behind the refresh time.
    const std::string midi = onlineListFileText(
        46000.25, "!VAL 2\r\n2\tTango.mid\twaiting\tMP3,320,44100,V,2\r\n3\tb.Kar\tx\r\n", ",");
    EXPECT_EQ(midi.substr(0, 10), "46000,25\n!");
    const OnlineListRows midiRows = readOnlineListFile(midi, false, ",");
    EXPECT_EQ(midiRows.time, 46000.25);
    EXPECT_EQ(rowsText(midiRows), "valid|Tango.MID Tango MID #2|b.KAR b KAR #3");

    const OnlineListRows audioRows = readOnlineListFile(
        onlineListFileText(46000.5, "!VAL \t2\r\nWaltz.mp3\t14\r\nbad/x.wav\t1\r\n", "."), true,
        ".");
    EXPECT_EQ(rowsText(audioRows), "valid|Waltz.MP3 Waltz MP3 14B");

    // A MIDI list that breaks after its first entry shows nothing of it; a time written with
    // another separator than the user's is no list.
    EXPECT_EQ(rowsText(readOnlineListFile("1\n!VAL 2\n3\ta.mid\tx\n4\tb\tx\n", false, ".")),
              "invalid");
    EXPECT_EQ(rowsText(readOnlineListFile("46000,5\n!VAL \t1\nA.mp3\t5\n", true, ".")), "invalid");
}

TEST(OnlineListFile, KeptTimesReadBack) {
    // Times as a refresh keeps them; next to the largest number, 15 digits would round to a
    // text that reads as no number.
    for (const double time : {46000.123456789012, 0.0, 1e20, std::numeric_limits<double>::max(),
                              -std::numeric_limits<double>::max()}) {
        const OnlineListRows kept =
            readOnlineListFile(onlineListFileText(time, "!VAL 0\r\n", ","), false, ",");
        ASSERT_TRUE(kept.valid) << time;
        EXPECT_NEAR(kept.time, time, std::fabs(time) * 1e-14) << time;
    }
}

} // namespace
} // namespace tonvert
