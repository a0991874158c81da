#include "replyReaders.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

std::string midiRows(const std::string& file, const std::string& separator = ".") {
    const OnlineMidiList list = readMidiListFile(file, separator);
    if (!list.valid)
        return kNoDataText;
    std::string rows = listCountText(list.entries.size());
    for (const OnlineMidiEntry& e : list.entries)
        rows += "|" + std::to_string(e.record) + " " + e.name + " " + e.type;
    return rows;
}

TEST(ReplyReaders, MidiList) {
    const OnlineMidiList empty = readMidiListFile("45000.25\n!VAL 0", ".");
    EXPECT_TRUE(empty.valid);
    EXPECT_EQ(empty.time, 45000.25);
    EXPECT_EQ(midiRows("45000,25\r\n\r\n!VAL 2\r\n!ERR 1042\r\n7\tSong.mid\t\r\n", ","),
              "1 file|7 Song MID");
    EXPECT_EQ(midiRows("1\n!VAL 2\n3\ta.mid\tx\n4\tb.Kar\tx\tmore\n"), "2 files|3 a MID|4 b KAR");
    for (const char* bad :
         {"7\tsong.mid", "7\tsong.mi\tx", "7\tsong.midi\tx", "7\ts.ong.mid\tx", "7\t.mid\tx",
          "-7\tsong.mid\tx", "\tsong.mid\tx", "7\ta/b.mid\tx", "7\t/..\tx", "7\ta\x01.mid\tx"})
        EXPECT_EQ(midiRows(std::string("1\n!VAL 1\n") + bad), kNoDataText) << bad;
    EXPECT_EQ(midiRows("45000,25\n!VAL 0"), kNoDataText);
    EXPECT_EQ(midiRows("1\n!VAL 2\n3\ta.mid\tx\n"), kNoDataText);
    EXPECT_EQ(midiRows("1\n!VAL 0 \n"), kNoDataText);
    EXPECT_EQ(midiRows("1\n!ERR 1000\n"), kNoDataText);
}

TEST(ReplyReaders, AudioList) {
    const OnlineAudioList list = readAudioListFile(
        "45000.5\nstray.mp3\t1\n!VAL \t5\nsong.mp3\t1234567\nbad.mp\t5\nsong.ogg\n"
        "a.b.wav\t3\nc.wav\t3 \n!VAL x\t0\nout.wav\t1\n!VAL\t1\nx.wav\t1\n!VAL 1\t1\nlast.wma\t12",
        ".");
    ASSERT_TRUE(list.valid);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].name + list.entries[0].type, "songMP3");
    EXPECT_EQ(list.entries[0].size, 1234567u);
    EXPECT_EQ(list.entries[1].name + list.entries[1].type, "lastWMA");
    EXPECT_FALSE(readAudioListFile("x\n!VAL \t1\nsong.mp3\t1", ".").valid);

    // The client saves files under these names: nothing that leads out of the folder or is
    // cut short at a zero byte.
    std::string hazards = "1\n!VAL \t5\nsub/x.mp3\t1\n/./..\t1\nx";
    hazards += '\0';
    hazards += "y.mp3\t1\na\\b.wav\t1\nkept.wav\t1\n";
    const OnlineAudioList hazardous = readAudioListFile(hazards, ".");
    ASSERT_EQ(hazardous.entries.size(), 1u);
    EXPECT_EQ(hazardous.entries[0].name, "kept");
}

TEST(ReplyReaders, ListLines) {
    const auto linesOf = [](const std::string& text) {
        ListLines lines(text);
        std::string seen;
        for (std::string_view line; lines.next(line);)
            seen += "[" + std::string(line) + "]";
        return seen;
    };
    EXPECT_EQ(linesOf(""), "");
    EXPECT_EQ(linesOf("\r\n"), "[]");
    EXPECT_EQ(linesOf("a\r\r\nb\n\nc\rd"), "[a][b][c][d]");
    EXPECT_EQ(linesOf("\na\rb\rc\r"), "[][a][b][c]");
    EXPECT_EQ(linesOf("a\nb\nc"), "[a][b][c]");
}

TEST(ReplyReaders, EntriesViewTheListText) {
    const std::string text = "1\r!VAL 3\r4\tb.Kar\tx\r!ERR 1\r5\tsong.mid\tx";
    std::vector<OnlineEntryText> entries;
    const OnlineListHead head = readMidiListFile(
        text, ".", [&](const OnlineEntryText& entry) { entries.push_back(entry); });
    ASSERT_TRUE(head.valid);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].fileName, "b.Kar");
    EXPECT_EQ(entries[0].name(), "b");
    EXPECT_EQ(entries[0].extension(), "Kar");
    EXPECT_EQ(serviceFileType(entries[0].extension()), "KAR");
    EXPECT_EQ(entries[0].record, 4u);
    EXPECT_EQ(entries[1].name(), "song");
    EXPECT_EQ(entries[1].record, 5u);
    EXPECT_GE(entries[1].fileName.data(), text.data());
    EXPECT_LE(entries[1].fileName.data() + entries[1].fileName.size(), text.data() + text.size());

    entries.clear();
    EXPECT_TRUE(readAudioListFile("1\n!VAL \t2\r\nsong.ogg\t77\r\nbad\t1\r\n", ".",
                                  [&](const OnlineEntryText& entry) { entries.push_back(entry); })
                    .valid);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].fileName, "song.ogg");
    EXPECT_EQ(entries[0].size, 77u);
}

TEST(ReplyReaders, FundsAndFees) {
    std::string message;
    EXPECT_TRUE(fundsMessage("!VAL 12.5 \r\n", ",", message));
    EXPECT_EQ(message, "Funds in account: 12,50");
    for (const char* bad : {"!VAL 12,5", "!VAL ", "VAL 1", "!VAL 1e", "!VAL 1.5x"}) {
        EXPECT_FALSE(fundsMessage(bad, ".", message)) << bad;
        EXPECT_EQ(message, kCantParseReplyText);
    }
    EXPECT_TRUE(feesMessage("!VAL 0.05\t 0.1\t2E-2\t+.03", ".", message));
    EXPECT_EQ(message,
              "MIDI file upload: 0.05 + 0.10 / MB\n\nAudio file download: 0.02 + 0.03 / MB");
    for (const char* bad : {"!VAL 1\t2\t3", "!VAL 1\t2\t3\t4\t5", "!VAL 1\t2\t3\t4\r\n",
                            "!VAL 1\t\t3\t4", "!VAL 1 \t2\t3\t4"})
        EXPECT_FALSE(feesMessage(bad, ".", message)) << bad;

    EXPECT_EQ(moneyText(2.675, "."), "2.68");
    EXPECT_EQ(moneyText(-999.995, "."), "-1000.00");
    EXPECT_EQ(moneyText(-0.001, "."), "0.00");
    EXPECT_EQ(moneyText(1234567.0, "."), "1234567.00");
    EXPECT_EQ(moneyText(1.5e20, ","), "1,5E20");
}

} // namespace
} // namespace tonvert
