// libFuzzer target for the MIDI file reader: loadMidiFile reads from a path, so every input is
// written to one temporary file per process and loaded from there, once without and once with
// system-exclusive events. Invariants of the loaded record are checked after each load.

#include "fuzzSupport.h"
#include "midiUnit.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using tonvert::fuzz::check;

const tonvert::fuzz::ScratchFile& scratchFile() {
    static const tonvert::fuzz::ScratchFile file("midiReaderFuzz");
    return file;
}

void checkLoaded(const tonvert::TMidiFile& midi) {
    check(midi.tracks.size() <= midi.trackCount, "more tracks than the header declares");
    check(midi.format <= 1, "format other than 0 or 1 accepted");
    std::int32_t nonEmpty = 0;
    for (const tonvert::TMidiTrack& track : midi.tracks) {
        check(track.name.size() <= 255, "track name longer than 255 characters");
        bool lastChannelSeen = false;
        for (int channel = 0; channel < 16; ++channel) {
            // The stream taken out of the track agrees with what reading the file noted.
            const tonvert::MidiStream& stream = track.channelStream(channel);
            const bool used = (track.usedChannels >> channel) & 1;
            check(used == !stream.empty(), "channel stream and its used bit disagree");
            std::uint32_t tick = 0;
            std::size_t at = 0;
            while (at < stream.size()) {
                std::uint32_t delta = 0;
                check(tonvert::readVarLen(stream.data(), stream.size(), at, delta),
                      "unreadable delta in a channel stream");
                tick += delta;
                check(at < stream.size() && (stream[at] >> 4) >= 0x8 && (stream[at] >> 4) <= 0xE &&
                          (stream[at] & 0x0F) == channel,
                      "a channel stream holds what is no event of its channel");
                at += (stream[at] & 0xE0) == 0xC0 ? 2 : 3;
            }
            check(at == stream.size(), "a channel stream ends inside an event");
            if (used && tick == track.lastChannelTick)
                lastChannelSeen = true;
            nonEmpty += used ? 1 : 0;
        }
        check(lastChannelSeen == (track.usedChannels != 0),
              "no channel stream ends where reading noted the last channel event");
    }
    check(midi.channelStreamCount == nonEmpty,
          "channelStreamCount differs from the non-empty channel streams");

    std::string message;
    const std::optional<double> seconds = tonvert::midiPlayTime(midi, message);
    if (seconds) {
        check(std::isfinite(*seconds), "play time not finite");
        check(*seconds >= 0.0, "play time negative");
    }
}

void loadOnce(const std::string& path, bool keepSysEx, tonvert::TMidiFile& midi) {
    std::string message;
    if (tonvert::loadMidiFile(path, keepSysEx, midi, message)) {
        checkLoaded(midi);
    } else {
        check(midi.tracks.empty(), "tracks kept after a failed load");
        check(!message.empty(), "failed load without a message");
    }
}

// writeVarLen into a buffer of limit 6 and readVarLen back must give the value for any
// 32-bit value, in the shortest encoding.
void checkVarLen(std::uint32_t value) {
    std::uint8_t buffer[8] = {};
    std::size_t written = 0;
    check(tonvert::writeVarLen(buffer, 6, written, value), "writeVarLen failed with limit 6");
    std::size_t expected = 1;
    for (std::uint32_t rest = value >> 7; rest != 0; rest >>= 7)
        ++expected;
    check(written == expected, "writeVarLen did not write the shortest encoding");
    std::size_t position = 0;
    std::uint32_t read = ~value;
    check(tonvert::readVarLen(buffer, written, position, read), "readVarLen failed");
    check(position == written, "readVarLen stopped elsewhere than writeVarLen");
    check(read == value, "readVarLen gave another value");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tonvert::fuzz::ScratchFile& file = scratchFile();
    file.write(data, size);

    tonvert::TMidiFile midi;
    loadOnce(file.path(), false, midi);
    loadOnce(file.path(), true, midi);
    tonvert::clearMidiFile(midi);
    check(midi.tracks.empty() && midi.division == 96 && midi.fileName.empty(),
          "clearMidiFile left content");

    // The last bytes of the input: the first ones are mostly a header tag.
    std::uint32_t value = 0;
    const std::size_t n = size < sizeof value ? size : sizeof value;
    if (n > 0)
        std::memcpy(&value, data + size - n, n);
    checkVarLen(value);
    return 0;
}
