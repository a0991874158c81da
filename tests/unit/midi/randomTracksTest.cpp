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

// A track of mostly plain events with, now and then, odd ones: program changes, meta
// and system-exclusive events, long deltas, data bytes with the high bit, stray bytes.
std::vector<std::uint8_t> randomTrack(std::mt19937& random, std::size_t events,
                                      bool strayBytes = true, bool longRuns = false) {
    std::vector<std::uint8_t> track;
    auto pick = [&](int below) { return static_cast<int>(random() % unsigned(below)); };
    // How rare the odd events are.
    const int oddOneIn = longRuns ? 10000 + pick(10000) : 2 + pick(200);
    const bool explicitStatus = pick(2) == 0;
    for (std::size_t e = 0; e < events; ++e) {
        const bool odd = pick(oddOneIn) == 0;
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
            if (explicitStatus || pick(4) == 0)
                track.push_back(static_cast<std::uint8_t>(kKinds[pick(6)] | pick(16)));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            continue;
        }
        switch (pick(strayBytes ? 6 : 5)) {
        case 0: // one data byte
            track.push_back(static_cast<std::uint8_t>((pick(2) ? 0xC0 : 0xD0) | pick(16)));
            track.push_back(static_cast<std::uint8_t>(pick(128)));
            break;
        case 1: // meta
            track.insert(track.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
            break;
        case 2: // system exclusive
            track.insert(track.end(), {0xF0, 0x03, 0x7E, 0x7F, 0xF7});
            break;
        case 3: // a data byte with its high bit set
            track.push_back(static_cast<std::uint8_t>(0x90 | pick(16)));
            track.push_back(static_cast<std::uint8_t>(0x80 | pick(128)));
            track.push_back(static_cast<std::uint8_t>(pick(256)));
            break;
        case 4: // a status between the data bytes
            track.insert(track.end(), {0x90, 0x40, 0x90, 0x40});
            break;
        default: // a stray byte
            track.push_back(static_cast<std::uint8_t>(pick(256)));
            break;
        }
    }
    return track;
}

TEST(RandomTracks, ReadingAgreesWithTakingTheEventsOneByOne) {
    // What reading notes of each track against an independent walk of its bytes event by
    // event, and against the channel streams taken out of it: whether the file reads at all,
    // which channels are used, and where the last channel event lies.
    std::mt19937 random(7);
    test::TempFolder folder;
    const std::string path = folder.file("random.mid");
    int loaded = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::string file = test::header(1, 3, 96);
        std::vector<std::vector<std::uint8_t>> tracks;
        bool valid = true;
        for (int t = 0; t < 3; ++t) {
            // Now and then a long track, and now and then stray bytes that may break it.
            const std::size_t events = round % 50 == 0 ? 20000 : random() % 300;
            std::vector<std::uint8_t> track =
                randomTrack(random, events, round % 4 == 0, events > 300);
            track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
            valid = valid && test::walkOneByOne(track.data(), track.size()).valid;
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
    // Both verdicts were met often.
    EXPECT_GT(loaded, 200);
    EXPECT_GT(refused, 20);
}

} // namespace
} // namespace tonvert
