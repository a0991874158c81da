#include "channelEventsOneByOne.h"
#include "midiBytes.h"
#include "midiUnit.h"
#include "testFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tonvert {
namespace {

struct TrackShape {
    bool strayBytes = false;     // now and then a byte of any value, which may break the track
    bool longRuns = false;       // odd events are rare: runs of many blocks
    bool explicitStatus = false; // a status byte on every plain event
    unsigned channels = 1;       // the plain events' channels, from a random one on
    bool plainFirst = false;     // a plain event first, with no running status before it
};

// A track of mostly plain events (a delta of one or two bytes, a status of two data bytes or
// running status, two data bytes) with, now and then, odd ones: program changes, meta and
// system-exclusive events, long deltas, data bytes with the high bit, stray bytes.
std::vector<std::uint8_t> randomTrack(std::mt19937& random, std::size_t events,
                                      const TrackShape& shape) {
    std::vector<std::uint8_t> track;
    auto pick = [&](unsigned below) { return static_cast<int>(random() % below); };
    const int oddOneIn = shape.longRuns ? 5000 + pick(5000) : 2 + pick(200);
    const int firstChannel = pick(16);
    auto channel = [&] { return (firstChannel + pick(shape.channels)) % 16; };
    if (shape.plainFirst)
        track.insert(track.end(),
                     {std::uint8_t(pick(128)), std::uint8_t(0x90 | channel()), 60, 100});
    for (std::size_t e = 0; e < events; ++e) {
        const bool odd = pick(static_cast<unsigned>(oddOneIn)) == 0;
        const int deltaKind = pick(10);
        if (deltaKind < 7) {
            track.push_back(static_cast<std::uint8_t>(pick(128)));
        } else if (deltaKind < 9 || !odd) {
            track.push_back(static_cast<std::uint8_t>(0x80 | pick(128)));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
        } else {
            track.insert(track.end(), {0x81, 0x80, static_cast<std::uint8_t>(pick(128))});
        }
        if (!odd) {
            static const std::uint8_t kKinds[] = {0x80, 0x90, 0x90, 0xA0, 0xB0, 0xE0};
            if (shape.explicitStatus || pick(4) == 0)
                track.push_back(static_cast<std::uint8_t>(kKinds[pick(6)] | channel()));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            continue;
        }
        switch (pick(shape.strayBytes ? 7 : 6)) {
        case 0: // one data byte
            track.push_back(static_cast<std::uint8_t>((pick(2) ? 0xC0 : 0xD0) | channel()));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            break;
        case 1: // meta
            track.insert(track.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
            break;
        case 2: // system exclusive
            track.insert(track.end(), {0xF0, 0x03, 0x7E, 0x7F, 0xF7});
            break;
        case 3: // a data byte with its high bit set
            track.push_back(static_cast<std::uint8_t>(0x90 | channel()));
            track.push_back(static_cast<std::uint8_t>(0x80 | pick(128)));
            track.push_back(static_cast<std::uint8_t>(pick(256)));
            break;
        case 4: // a status between the data bytes
            track.insert(track.end(), {0x90, 0x40, 0x90, 0x40});
            break;
        case 5: // active sensing: no running status after it
            track.push_back(0xFE);
            break;
        default: // a stray byte
            track.push_back(static_cast<std::uint8_t>(pick(256)));
            break;
        }
    }
    return track;
}

TrackShape randomShape(std::mt19937& random, int round) {
    TrackShape shape;
    shape.strayBytes = round % 4 == 0;
    shape.longRuns = round % 3 == 0;
    shape.explicitStatus = random() % 2 == 0;
    shape.channels = random() % 3 == 0 ? 1 + random() % 16 : 1;
    shape.plainFirst = random() % 3 == 0;
    return shape;
}

TEST(RandomTracks, ReadingAgreesWithTakingTheEventsOneByOne) {
    // What reading notes of each track against an independent walk of its bytes event by
    // event, and against the channel streams taken out of it: whether the file reads at all,
    // which channels are used, and where the last channel event lies.
    std::mt19937 random(7);
    test::TempFolder folder;
    const std::string path = folder.file("random.mid");
    int loaded = 0, refused = 0;
    std::size_t longTracks = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string file = test::header(1, 3, 96);
        std::vector<std::vector<std::uint8_t>> tracks;
        bool valid = true;
        for (int t = 0; t < 3; ++t) {
            // Now and then a long track, and tracks of every length up to a few blocks.
            const std::size_t events = round % 50 == 0 ? 20000 : random() % 300;
            std::vector<std::uint8_t> track =
                randomTrack(random, events, randomShape(random, round));
            track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
            valid = valid && test::walkOneByOne(track.data(), track.size()).valid;
            longTracks += track.size() > 10000 ? 1 : 0;
            file += test::trackChunk(std::string(track.begin(), track.end()));
            tracks.push_back(std::move(track));
        }
        test::writeBytes(path, file);
        TMidiFile midi;
        std::string message;
        ASSERT_EQ(loadMidiFile(path, false, midi, message), valid) << "round " << round;
        if (!valid) {
            EXPECT_EQ(message, "out of memory!") << "the reader's verdict on a broken track";
            ++refused;
            continue;
        }
        ++loaded;
        ASSERT_EQ(midi.tracks.size(), 3u);
        for (std::size_t t = 0; t < 3; ++t) {
            const TMidiTrack& track = midi.tracks[t];
            const test::TrackWalk walk = test::walkOneByOne(tracks[t].data(), tracks[t].size());
            ASSERT_EQ(track.usedChannels, walk.usedChannels) << "round " << round;
            ASSERT_EQ(track.lastChannelTick, walk.lastChannelTick) << "round " << round;
            std::uint16_t used = 0;
            std::uint32_t last = 0;
            for (int channel = 0; channel < 16; ++channel) {
                const MidiStream& stream = track.channelStream(channel);
                std::uint32_t tick = 0;
                for (std::size_t at = 0; at < stream.size();) {
                    std::uint32_t delta = 0;
                    ASSERT_TRUE(readVarLen(stream.data(), stream.size(), at, delta));
                    tick += delta;
                    at += (stream[at] & 0xE0) == 0xC0 ? 2 : 3;
                }
                if (!stream.empty()) {
                    used |= std::uint16_t(1u << channel);
                    last = std::max(last, tick);
                }
            }
            ASSERT_EQ(used, walk.usedChannels) << "round " << round;
            ASSERT_EQ(last, walk.lastChannelTick) << "round " << round;
        }
    }
    // Both verdicts were met, and long runs too.
    EXPECT_GT(loaded, 500);
    EXPECT_GT(refused, 50);
    EXPECT_GT(longTracks, 30u);
}

TEST(RandomTracks, AStatusWithNoRunningStatusBeforeItIsNotedOnEveryChannel) {
    // A run of plain events under one status, the track's first event, on a channel met nowhere
    // else; then a program change and events on another channel.
    test::TempFolder folder;
    const std::string path = folder.file("first.mid");
    for (int channel = 0; channel < 16; ++channel) {
        const int other = (channel + 1) % 16;
        std::string events = test::bytes({0x00, 0x90 | channel, 0x3C, 0x40});
        for (int e = 0; e < 40; ++e)
            events += test::bytes({0x05, 0x3C, e % 2 ? 0x00 : 0x40});
        events += test::bytes({0x00, 0xC0 | other, 0x05});
        for (int e = 0; e < 40; ++e)
            events += test::bytes({0x05, 0x90 | other, 0x3C, 0x40});
        events += test::bytes({0x00, 0xFF, 0x2F, 0x00});
        test::writeBytes(path, test::header(0, 1, 96) + test::trackChunk(events));
        TMidiFile midi;
        std::string message;
        ASSERT_TRUE(loadMidiFile(path, false, midi, message)) << message;
        EXPECT_EQ(midi.tracks[0].usedChannels, (1u << channel) | (1u << other)) << channel;
        EXPECT_EQ(midi.tracks[0].lastChannelTick, 80u * 5) << channel;
    }
}

TEST(RandomTracks, LongDeltasAddUpAndTicksWrap) {
    // Events of delta 16383 (FF 7F) on channel 5, running status after the first: 18 MB, so
    // that the ticks wrap past 2^32.
    constexpr std::size_t kEvents = 4500000;
    std::string events = test::bytes({0xFF, 0x7F, 0x95, 0x40, 0x00});
    events.reserve(kEvents * 4 + 16);
    for (std::size_t e = 1; e < kEvents; ++e)
        events += test::bytes({0xFF, 0x7F, 0x40, 0x00});
    events += test::bytes({0x00, 0xFF, 0x2F, 0x00});
    test::TempFolder folder;
    const std::string path = folder.file("long.mid");
    test::writeBytes(path, test::header(0, 1, 96) + test::trackChunk(events));
    TMidiFile midi;
    std::string message;
    ASSERT_TRUE(loadMidiFile(path, false, midi, message)) << message;
    EXPECT_EQ(midi.tracks[0].lastChannelTick, std::uint32_t(kEvents * 16383u));
    EXPECT_EQ(midi.tracks[0].usedChannels, 1u << 5);
}

} // namespace
} // namespace tonvert
