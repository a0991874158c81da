#include "midiUnit.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "midiBytes.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace test;

const std::string kEnd = bytes({0x00, 0xFF, 0x2F, 0x00});

std::string tempo(std::uint32_t delta, std::uint32_t microseconds) {
    return varLen(delta) + bytes({0xFF, 0x51, 0x03}) + bigEndian(microseconds, 3);
}

std::string noteOn(std::uint32_t delta, int channel, int key) {
    return varLen(delta) + bytes({0x90 | channel, key, 100});
}

std::string noteOff(std::uint32_t delta, int channel, int key) {
    return varLen(delta) + bytes({0x80 | channel, key, 0});
}

std::string asText(const MidiStream& stream) {
    return std::string(stream.begin(), stream.end());
}

class MidiReaderTest : public ::testing::Test {
protected:
    bool load(const std::string& content, bool keepSysEx = false) {
        writeBytes(path, content);
        return loadMidiFile(path, keepSysEx, midi, message);
    }
    std::string about(const char* what) { return "file \n\n" + path + "\n\n" + what; }
    double playTime() {
        std::string timeMessage;
        const auto seconds = midiPlayTime(midi, timeMessage);
        EXPECT_EQ(timeMessage, "");
        EXPECT_TRUE(seconds.has_value());
        return seconds.value_or(-1);
    }

    TempFolder folder;
    std::string path = folder.file("song.mid");
    TMidiFile midi;
    std::string message;
};

TEST_F(MidiReaderTest, EachFailureHasItsMessageAndKeepsNoTracks) {
    const std::string good = trackChunk(noteOn(0, 0, 60) + noteOff(96, 0, 60) + kEnd);
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"", about("is empty!")},
        {std::string(13, 'x'), "unexpected end of file \n\n" + path},
        {rmid("", header(0, 1, 96) + good).replace(8, 4, "WAVE"),
         about("is on an unknown format!")},
        {"RIFF" + bigEndian(4, 4) + "RMID" + "LIST", "unexpected end of file \n\n" + path},
        // Another form type is judged only with the eight bytes from offset 8 there.
        {"RIFF" + bigEndian(4, 4) + "WAVEfm", "unexpected end of file \n\n" + path},
        {"RIFF" + bigEndian(4, 4) + "WAVEfmt", "unexpected end of file \n\n" + path},
        {"RIFF" + bigEndian(4, 4) + "WAVEfmt ", about("is on an unknown format!")},
        {"Hello, this is no MIDI file", about("is not Level 0 or 1")},
        {header(2, 1, 96) + good, about("is not Level 0 or 1")},
        {header(0, 2, 96) + good + good, about("is not Level 0 or 1")},
        {std::string("MThd") + bigEndian(7, 4) + bigEndian(0, 2) + bigEndian(1, 2) +
             bigEndian(96, 2) + "x" + good,
         about("is not Level 0 or 1")},
        {header(1, 2, 96) + good + "MTrx" + good.substr(4), about("is corrupt!")},
        {header(1, 2, 96) + good + trackChunk(""), about("contains an empty track!")},
        {header(1, 2, 96) + good, "unexpected end of file \n\n" + path},
        {header(0, 1, 96) + good.substr(0, good.size() - 1), "unexpected end of file \n\n" + path},
        {header(0, 1, 96) + trackChunk(bytes({0x00, 0xF1, 0x00}) + kEnd), "out of memory!"},
        {header(0, 1, 96) + trackChunk(bytes({0x00, 0x90, 0x3C})), "out of memory!"},
        {header(0, 1, 96) + trackChunk(bytes({0x00, 0xFF, 0x01, 0x05, 'a'})), "out of memory!"},
        {header(0, 1, 96) + trackChunk(bytes({0x81, 0x80})), "out of memory!"},
    };
    for (const Case& c : cases) {
        // A good file first, so that a failure must release what it had.
        ASSERT_TRUE(load(header(0, 1, 96) + good));
        EXPECT_FALSE(load(c.content)) << c.expected;
        EXPECT_EQ(message, c.expected);
        EXPECT_TRUE(midi.tracks.empty());
        // Bytes in memory, named as the file, are judged alike.
        TMidiFile fromBytes;
        std::string bytesMessage;
        EXPECT_FALSE(loadMidiBytes(c.content, path, false, fromBytes, bytesMessage));
        EXPECT_EQ(bytesMessage, c.expected);
    }
    EXPECT_FALSE(loadMidiFile(folder.file("missing.mid"), false, midi, message));
    EXPECT_EQ(message, "can't open file \n\n" + folder.file("missing.mid"));
    EXPECT_FALSE(loadMidiFile(folder.path(), false, midi, message)) << "a folder is no file";
}

TEST_F(MidiReaderTest, RmidFileWithOddListChunkAndTrailingBytes) {
    const std::string smf = header(0, 1, 480) + trackChunk(noteOn(0, 0, 60) + noteOff(1920, 0, 60) +
                                                           kEnd + bytes({0x12, 0x34, 0x99}));
    const std::string list = "LIST" + bytes({3, 0, 0, 0}) + "abc" + bytes({0});
    ASSERT_TRUE(loadMidiBytes(rmid(list, smf), path, false, midi, message)) << message;
    EXPECT_DOUBLE_EQ(playTime(), 2.0);
    ASSERT_TRUE(load(rmid(list, smf))) << message;
    EXPECT_TRUE(midi.isRmid);
    EXPECT_EQ(midi.format, 0);
    EXPECT_EQ(midi.division, 480);
    EXPECT_DOUBLE_EQ(playTime(), 2.0);

    // The RIFF size fields are not trusted; the data may run to the end of the file.
    std::string lying = rmid("", smf);
    lying.replace(4, 4, bytes({1, 0, 0, 0}));
    lying.replace(16, 4, bytes({2, 0, 0, 0}));
    ASSERT_TRUE(load(lying)) << message;
    EXPECT_DOUBLE_EQ(playTime(), 2.0);

    ASSERT_TRUE(load(smf + "bytes after the last track are ignored"));
    EXPECT_FALSE(midi.isRmid);
}

TEST_F(MidiReaderTest, TracksSplitIntoMetaAndChannelStreams) {
    const std::string events = bytes({0x00, 0xFF, 0x03, 0x04}) + "Lead" +  // the track's name
                               bytes({0x00, 0xFF, 0x03, 0x05}) + "Other" + // a second name: dropped
                               bytes({0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7}) + // system exclusive
                               bytes({0x0A, 0x91, 0x40, 0x50}) +
                               bytes({0x05, 0x41, 0x50}) +                   // running status, ch 1
                               bytes({0x03, 0xC2, 0x05}) +                   // program change, ch 2
                               bytes({0x02, 0xFF, 0x01, 0x02, 'h', 'i'}) +   // text: meta stream
                               bytes({0x04, 0xFE}) +                         // active sensing
                               bytes({0x81, 0x00, 0x81, 0x40, 0x00}) + kEnd; // ch 1, 128 ticks on
    ASSERT_TRUE(load(header(0, 1, 96) + trackChunk(events))) << message;
    ASSERT_EQ(midi.tracks.size(), 1u);
    const TMidiTrack& track = midi.tracks[0];
    EXPECT_EQ(track.name, "Lead");
    EXPECT_EQ(midi.channelStreamCount, 2);
    EXPECT_EQ(track.channelStream(1), MidiStream({0x0A, 0x91, 0x40, 0x50, 0x05, 0x91, 0x41, 0x50,
                                                  0x81, 0x09, 0x81, 0x40, 0x00}));
    EXPECT_EQ(track.channelStream(2), MidiStream({0x12, 0xC2, 0x05}));
    EXPECT_EQ(track.metaStream, MidiStream({0x14, 0xFF, 0x01, 0x02, 'h', 'i', 0x04, 0xFE}));

    ASSERT_TRUE(load(header(0, 1, 96) + trackChunk(events), true));
    EXPECT_EQ(midi.tracks[0].metaStream, MidiStream({0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7, 0x14, 0xFF,
                                                     0x01, 0x02, 'h', 'i', 0x04, 0xFE}));

    // A data byte before any status goes on under the starting status, active sensing.
    ASSERT_TRUE(
        load(header(0, 1, 96) + trackChunk(bytes({0x00, 0x05, 0x00, 0x90, 0x3C, 0x40}) + kEnd)));
    EXPECT_EQ(midi.tracks[0].metaStream, MidiStream({0x00, 0xFE, 0x05, 0xFE}));
    EXPECT_EQ(midi.tracks[0].channelStream(0), MidiStream({0x05, 0x90, 0x3C, 0x40}));

    // A long name is cut to 255 characters.
    ASSERT_TRUE(load(header(0, 1, 96) + trackChunk(bytes({0x00, 0xFF, 0x03}) + varLen(300) +
                                                   std::string(300, 'n') + kEnd)));
    EXPECT_EQ(midi.tracks[0].name, std::string(255, 'n'));
}

TEST_F(MidiReaderTest, TempoOfLaterTracksGoesIntoTheFirst) {
    const std::string conductor = trackChunk(tempo(0, 500000) + tempo(960, 250000) + kEnd);
    const std::string second =
        trackChunk(tempo(480, 1000000) + noteOn(0, 0, 60) + noteOff(960, 0, 60) + kEnd);
    const std::string third = trackChunk(tempo(480, 750000) + tempo(480, 2000000) + kEnd);
    ASSERT_TRUE(load(header(1, 3, 480) + conductor + second + third)) << message;
    EXPECT_TRUE(midi.tempoMerged);
    // At tick 480 track 2's tempo comes before track 3's; at 960 track 1's before track 3's.
    EXPECT_EQ(asText(midi.tracks[0].metaStream), tempo(0, 500000) + tempo(480, 1000000) +
                                                     tempo(0, 750000) + tempo(480, 250000) +
                                                     tempo(0, 2000000));
    // The note ends at 1440: a quarter at 0.5 s, one at 0.75 s (the later tempo at 480) and
    // one at 2 s (the later tempo at 960).
    EXPECT_DOUBLE_EQ(playTime(), 0.5 + 0.75 + 2.0);

    // A tempo change only in track 2 is timed.
    const std::string plain = trackChunk(bytes({0x00, 0xFF, 0x01, 0x01, 'x'}) + kEnd);
    const std::string withTempo =
        trackChunk(noteOn(0, 0, 60) + tempo(480, 1000000) + noteOff(480, 0, 60) + kEnd);
    ASSERT_TRUE(load(header(1, 2, 480) + plain + withTempo));
    EXPECT_TRUE(midi.tempoMerged);
    EXPECT_DOUBLE_EQ(playTime(), 0.5 + 1.0);

    ASSERT_TRUE(load(header(1, 2, 480) + plain + plain));
    EXPECT_FALSE(midi.tempoMerged);

    // Ticks count modulo 2^32: a track whose ticks wrap has its tempo events put in order.
    std::string wrapping = tempo(0x0FFFFFFF, 400000);
    for (int i = 0; i < 16; ++i)
        wrapping += varLen(0x0FFFFFFF) + bytes({0xFF, 0x01, 0x01, 'x'});
    wrapping += tempo(0, 600000);
    ASSERT_TRUE(load(header(1, 2, 480) + trackChunk(kEnd) + trackChunk(wrapping + kEnd)));
    EXPECT_EQ(asText(midi.tracks[0].metaStream), tempo(0x0FFFFFEF, 600000) + tempo(0x10, 400000));
}

TEST_F(MidiReaderTest, PlayTimes) {
    // 480 ticks per quarter note at the default tempo: the last note ends at 4 quarters.
    ASSERT_TRUE(
        load(header(0, 1, 480) + trackChunk(noteOn(0, 3, 60) + noteOff(1920, 3, 60) + kEnd)));
    EXPECT_DOUBLE_EQ(playTime(), 2.0);

    // SMPTE: 25 frames of 40 ticks; 1000 ticks last one second.
    ASSERT_TRUE(
        load(header(0, 1, 0xE728) + trackChunk(noteOn(0, 0, 60) + noteOff(1000, 0, 60) + kEnd)));
    EXPECT_DOUBLE_EQ(playTime(), 1.0);

    // Meta events alone, even late ones, take no time; no tracks at all neither.
    ASSERT_TRUE(load(header(0, 1, 96) + trackChunk(bytes({0x60, 0xFF, 0x01, 0x01, 'x'}) + kEnd)));
    EXPECT_DOUBLE_EQ(playTime(), 0.0);
    ASSERT_TRUE(load(header(1, 0, 96)));
    EXPECT_DOUBLE_EQ(playTime(), 0.0);

    // The longest stream over all tracks counts.
    ASSERT_TRUE(load(header(1, 2, 96) + trackChunk(noteOn(0, 0, 60) + noteOff(96, 0, 60) + kEnd) +
                     trackChunk(noteOn(0, 9, 36) + noteOff(288, 9, 36) + kEnd)));
    EXPECT_DOUBLE_EQ(playTime(), 1.5);

    // A time division with no frames or no ticks leaves the time unknown.
    std::string timeMessage = "stale";
    ASSERT_TRUE(load(header(0, 1, 0xE700) + trackChunk(noteOn(0, 0, 60) + kEnd)));
    EXPECT_EQ(midiPlayTime(midi, timeMessage), std::nullopt);
    ASSERT_TRUE(load(header(0, 1, 0) + trackChunk(noteOn(0, 0, 60) + kEnd)));
    EXPECT_EQ(midiPlayTime(midi, timeMessage), std::nullopt);
}

TEST_F(MidiReaderTest, GarbledTempoMap) {
    // A tempo of 0 before the end of a stream stops the walk; the time found so far stays.
    ASSERT_TRUE(load(header(1, 3, 96) + trackChunk(tempo(192, 0) + kEnd) +
                     trackChunk(noteOn(0, 0, 60) + noteOff(96, 0, 60) + kEnd) +
                     trackChunk(noteOn(0, 1, 60) + noteOff(384, 1, 60) + kEnd)));
    std::string timeMessage;
    const auto seconds = midiPlayTime(midi, timeMessage);
    EXPECT_EQ(timeMessage, "garbled MIDI data!");
    ASSERT_TRUE(seconds.has_value());
    EXPECT_DOUBLE_EQ(*seconds, 0.5);

    // A tempo without its three bytes is garbled too.
    ASSERT_TRUE(load(header(0, 1, 96) +
                     trackChunk(bytes({0x00, 0xFF, 0x51, 0x01, 0x07}) + noteOn(10, 0, 60) + kEnd)));
    midiPlayTime(midi, timeMessage);
    EXPECT_EQ(timeMessage, "garbled MIDI data!");
}

TEST_F(MidiReaderTest, ReadOnlyFileIsTimedAndClearEmpties) {
    ASSERT_TRUE(load(header(0, 1, 96) + trackChunk(noteOn(0, 0, 60) + noteOff(96, 0, 60) + kEnd)));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_TRUE(loadMidiFile(path, false, midi, message)) << message;
    EXPECT_DOUBLE_EQ(playTime(), 0.5);

    clearMidiFile(midi);
    EXPECT_TRUE(midi.tracks.empty());
    EXPECT_EQ(midi.fileName, "");
    EXPECT_EQ(midi.division, 96);
    EXPECT_EQ(midi.channelStreamCount, 0);
}

TEST(VarLen, ReadAndWrite) {
    const std::uint8_t data[] = {0x00, 0x7F, 0x81, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x81};
    std::size_t at = 0;
    std::uint32_t value = 0;
    ASSERT_TRUE(readVarLen(data, sizeof data, at, value));
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(readVarLen(data, sizeof data, at, value));
    EXPECT_EQ(value, 0x7Fu);
    ASSERT_TRUE(readVarLen(data, sizeof data, at, value));
    EXPECT_EQ(value, 0x80u);
    ASSERT_TRUE(readVarLen(data, sizeof data, at, value));
    EXPECT_EQ(value, 0x0FFFFFFFu);
    EXPECT_EQ(at, 8u);
    EXPECT_FALSE(readVarLen(data, sizeof data, at, value)) << "continuation past the limit";
    EXPECT_EQ(at, 8u) << "a failed read leaves the position";
    at = sizeof data;
    EXPECT_FALSE(readVarLen(data, sizeof data, at, value));

    // Many continuation bytes are accepted; the value keeps its low 32 bits.
    const std::uint8_t longForm[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x01};
    at = 0;
    ASSERT_TRUE(readVarLen(longForm, sizeof longForm, at, value));
    EXPECT_EQ(value, 0x81u);

    std::uint8_t out[8];
    for (std::uint32_t v : {0u, 0x7Fu, 0x80u, 0x3FFFu, 0x4000u, 0x0FFFFFFFu, 0xFFFFFFFFu}) {
        at = 0;
        ASSERT_TRUE(writeVarLen(out, sizeof out, at, v));
        EXPECT_EQ(at, static_cast<std::size_t>(test::varLen(v).size()));
        std::size_t back = 0;
        ASSERT_TRUE(readVarLen(out, at, back, value));
        EXPECT_EQ(value, v);
    }
    at = 0;
    EXPECT_FALSE(writeVarLen(out, 2, at, 0x80)) << "the position after a byte reaches the limit";
    at = 0;
    EXPECT_TRUE(writeVarLen(out, 3, at, 0x80));
}

} // namespace
} // namespace tonvert
