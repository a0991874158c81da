#include "channelRuns.h"
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

using Scan = test::ChannelScan;

Scan oneByOne(const std::vector<std::uint8_t>& data, std::size_t p, ChannelRunState state) {
    return test::takeOneByOne(data.data(), data.size(), p, state);
}

// A track of mostly plain events with, now and then, what ends a run: program changes, meta
// and system-exclusive events, long deltas, data bytes with the high bit, stray bytes.
std::vector<std::uint8_t> randomTrack(std::mt19937& random, std::size_t events,
                                      bool strayBytes = true, bool longRuns = false) {
    std::vector<std::uint8_t> track;
    auto pick = [&](int below) { return static_cast<int>(random() % unsigned(below)); };
    // How rare the events that end a run are.
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

TEST(ChannelRunScan, TakesExactlyTheEventsThatOneByOneTakes) {
    if (!channelRunScanSupported())
        GTEST_SKIP() << "this processor has no short way; the reader walks event by event";
    std::mt19937 random(20261207);
    std::size_t taken = 0;
    for (int round = 0; round < 10000; ++round) {
        // Now and then a long track: runs of many windows.
        const std::size_t events = round % 100 == 0 ? 20000 + random() % 20000 : 1 + random() % 400;
        const std::vector<std::uint8_t> track = randomTrack(random, events, true, events > 400);
        // From the start, and from anywhere with any running status.
        for (int start = 0; start < 4; ++start) {
            ChannelRunState state;
            std::size_t from = 0;
            if (start > 0) {
                from = random() % track.size();
                state.tick = static_cast<std::uint32_t>(random());
                state.lastChannelTick = static_cast<std::uint32_t>(random());
                state.usedChannels = static_cast<std::uint16_t>(random());
                // Any channel status, or none yet.
                const auto status = static_cast<std::uint8_t>(random());
                state.running = status >= 0x80 && status < 0xF0 ? status : 0xFE;
            }
            const Scan expected = oneByOne(track, from, state);
            ChannelRunState got = state;
            const std::size_t stop = scanChannelRuns(track.data(), track.size(), from, got);
            ASSERT_EQ(stop, expected.stop) << "round " << round << " from " << from;
            if (stop == from)
                continue;
            taken += stop - from;
            ASSERT_EQ(got.tick, expected.state.tick) << "round " << round;
            ASSERT_EQ(got.lastChannelTick, expected.state.lastChannelTick) << "round " << round;
            ASSERT_EQ(got.usedChannels, expected.state.usedChannels) << "round " << round;
            ASSERT_EQ(got.running, expected.state.running) << "round " << round;
        }
    }
    EXPECT_GT(taken, 2000000u); // long runs were met, not only short ones
}

TEST(ChannelRunScan, LongDeltasAddUpAndTicksWrap) {
    if (!channelRunScanSupported())
        GTEST_SKIP() << "this processor has no short way";
    // Events of delta 16383 (FF 7F) on channel 5, running status after the first: 18 MB, so
    // that the sums the scan keeps wrap past 2^32 too.
    constexpr std::size_t kEvents = 4500000;
    std::vector<std::uint8_t> track = {0xFF, 0x7F, 0x95, 0x40, 0x00};
    track.reserve(kEvents * 4 + 1);
    for (std::size_t e = 1; e < kEvents; ++e)
        track.insert(track.end(), {0xFF, 0x7F, 0x40, 0x00});
    ChannelRunState state;
    state.tick = 0xFFFFFF00u;
    EXPECT_EQ(scanChannelRuns(track.data(), track.size(), 0, state), track.size());
    EXPECT_EQ(state.tick, std::uint32_t(0xFFFFFF00u + kEvents * 16383u));
    EXPECT_EQ(state.lastChannelTick, state.tick);
    EXPECT_EQ(state.usedChannels, 1u << 5);
    EXPECT_EQ(state.running, 0x95);
}

// Running-status events (delta, two data bytes) from the track's end up to `to`, with two
// two-byte deltas first when the distance asks for them.
void fillTo(std::vector<std::uint8_t>& track, std::size_t to) {
    while ((to - track.size()) % 3 != 0)
        track.insert(track.end(), {0x81, 0x00, 0x40, 0x40});
    while (track.size() < to)
        track.insert(track.end(), {0x00, 0x40, 0x40});
}

TEST(ChannelRunScan, AnUnfinishedEventThatBreaksIsTakenBack) {
    if (!channelRunScanSupported())
        GTEST_SKIP() << "this processor has no short way";
    // The event at 126 has its status at the end of the second window and runs past the end
    // of the track in the third: the scan stops before it, and the running status is the last
    // one before it, set in the first window (or, second case, at the very start of the
    // second, right after a delta that ends the first).
    for (const bool statusAt64 : {false, true}) {
        std::vector<std::uint8_t> track = {0x00, 0x91, 0x40, 0x40};
        if (statusAt64) {
            fillTo(track, 63);
            track.insert(track.end(), {0x00, 0x93, 0x40, 0x40});
        }
        fillTo(track, 126);
        track.insert(track.end(), {0x00, 0x92, 0x40});
        ChannelRunState state;
        const Scan expected = oneByOne(track, 0, state);
        ASSERT_EQ(expected.stop, 126u);
        EXPECT_EQ(scanChannelRuns(track.data(), track.size(), 0, state), 126u);
        EXPECT_EQ(state.running, statusAt64 ? 0x93 : 0x91);
        EXPECT_EQ(state.usedChannels, statusAt64 ? 0b1010 : 0b10);
        EXPECT_EQ(state.tick, expected.state.tick);
    }
}

TEST(ChannelRunScan, ReadingAFileAgreesWithItsChannelStreams) {
    // What reading notes of a track (with the scan where the processor has it) against the
    // channel streams taken out of it event by event: which channels are used, and where the
    // last channel event lies.
    std::mt19937 random(7);
    test::TempFolder folder;
    const std::string path = folder.file("random.mid");
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string file = test::header(1, 3, 96);
        for (int t = 0; t < 3; ++t) {
            const std::vector<std::uint8_t> events = randomTrack(random, random() % 300, false);
            file += test::trackChunk(std::string(events.begin(), events.end()) +
                                     test::bytes({0x00, 0xFF, 0x2F, 0x00}));
        }
        test::writeBytes(path, file);
        TMidiFile midi;
        std::string message;
        if (!loadMidiFile(path, false, midi, message))
            continue;
        ++loaded;
        for (const TMidiTrack& track : midi.tracks) {
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
            ASSERT_EQ(track.usedChannels, used) << "round " << round;
            ASSERT_EQ(track.lastChannelTick, last) << "round " << round;
        }
    }
    EXPECT_GT(loaded, 150);
}

} // namespace
} // namespace tonvert
