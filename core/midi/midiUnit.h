#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonvert {

// A stream of events, each a variable-length delta (ticks since the stream's previous event)
// and the event with its own status byte.
using MidiStream = std::vector<std::uint8_t>;

// The bytes of a file as read, shared by the tracks taken from it.
struct MidiFileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};

// The channel streams of a track taken out so far. Most tracks never have one asked for, so
// the room for them is made when the first is.
class ChannelStreamCache {
public:
    ChannelStreamCache() = default;
    ChannelStreamCache(const ChannelStreamCache& other)
        : streams_(other.streams_ ? std::make_unique<Streams>(*other.streams_) : nullptr) {}
    ChannelStreamCache(ChannelStreamCache&&) noexcept = default;
    ChannelStreamCache& operator=(const ChannelStreamCache& other) {
        if (this != &other)
            streams_ = other.streams_ ? std::make_unique<Streams>(*other.streams_) : nullptr;
        return *this;
    }
    ChannelStreamCache& operator=(ChannelStreamCache&&) noexcept = default;

    std::optional<MidiStream>& at(int channel) {
        if (!streams_)
            streams_ = std::make_unique<Streams>();
        return streams_->at(static_cast<std::size_t>(channel));
    }

private:
    using Streams = std::array<std::optional<MidiStream>, 16>;
    std::unique_ptr<Streams> streams_;
};

// One track of a MIDI file split by kind: meta, system-exclusive and active-sensing events go
// to the meta stream, channel events to the stream of their channel.
//
// Reading a file validates every event and keeps the meta stream, the channels used and where
// the last channel event lies, which is all the play time needs; a channel stream itself is taken
// out of the track's bytes when it is first asked for. (Building all sixteen for every file made
// timing a folder several times slower than reading it.)
class TMidiTrack {
public:
    std::string name; // the first Sequence/Track Name, up to 255 characters
    MidiStream metaStream;

    // The channels that have events (bit n for channel n), and the tick of the track's last
    // channel event (ticks count modulo 2^32).
    std::uint16_t usedChannels = 0;
    std::uint32_t lastChannelTick = 0;

    // The events of one channel, 0 to 15. Not safe to call from two threads at once.
    const MidiStream& channelStream(int channel) const;

private:
    friend struct TrackReader;
    std::shared_ptr<const MidiFileBytes> source_;
    std::size_t offset_ = 0; // the track's data within the file
    std::size_t length_ = 0;
    mutable ChannelStreamCache channelStreams_;
};

struct TMidiFile {
    std::string fileName;
    bool isRmid = false;      // the MIDI data came from the "data" chunk of a RIFF "RMID" file
    bool tempoMerged = false; // Set Tempo events of later tracks were moved into the first
    std::uint16_t format = 0;
    std::uint16_t trackCount = 0; // as the header declares
    std::int16_t division = 96;
    std::int32_t channelStreamCount = 0; // non-empty channel streams over all tracks
    std::vector<TMidiTrack> tracks;
};

// Reads a variable-length quantity at `position`, below `limit`; on success the position
// moves past it. Fails when the position, or a continuation byte, lies at or past the limit.
// Any number of continuation bytes is accepted; the value keeps its low 32 bits.
bool readVarLen(const std::uint8_t* buffer, std::size_t limit, std::size_t& position,
                std::uint32_t& value);

// Writes the shortest encoding of `value` at `position`; fails when the position after a
// written byte would reach the limit.
bool writeVarLen(std::uint8_t* buffer, std::size_t limit, std::size_t& position,
                 std::uint32_t value);

// Empties the record: no tracks, no name, division 96.
void clearMidiFile(TMidiFile& midi);

// Reads, validates and splits a Standard MIDI File of format 0 or 1, bare or inside a RIFF
// "RMID" file. On failure `message` says why (line feeds included) and no tracks are kept.
bool loadMidiFile(const std::string& path, bool keepSysEx, TMidiFile& midi, std::string& message);
// The same for bytes already in memory (an upload), named `name` in the messages.
bool loadMidiBytes(std::string_view bytes, const std::string& name, bool keepSysEx, TMidiFile& midi,
                   std::string& message);

// The play time in seconds: the time of the latest channel event under the first track's
// tempo map. `message` is "garbled MIDI data!" when the tempo map cannot be walked up to a
// stream's end; the time is then the largest found before. Nothing when the time division
// makes the time unknown (SMPTE with zero frames or ticks).
std::optional<double> midiPlayTime(const TMidiFile& midi, std::string& message);

} // namespace tonvert
