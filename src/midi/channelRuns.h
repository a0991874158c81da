#pragma once

#include <cstddef>
#include <cstdint>

namespace tonvert {

// What walking a track's events has found so far.
struct ChannelRunState {
    std::uint32_t tick = 0;            // of the last event, counted modulo 2^32
    std::uint32_t lastChannelTick = 0; // of the last channel event
    std::uint16_t usedChannels = 0;    // bit n: channel n has an event
    std::uint8_t running = 0xFE;       // the running status; 0xFE while there is none
};

// Whether this processor can take the short way below; without it the scan takes nothing.
bool channelRunScanSupported();

// Takes the channel events from `position` on, as walking them one by one would: the runs of
// plain ones that make up most of a track (a delta of one or two bytes, an optional status of
// a two-data-byte message, 8x, 9x, Ax, Bx or Ex, data bytes below 80h) many at a time, any
// other between them alone. It stops before anything else (meta, system-exclusive and system
// events, data bytes with no running status, the end of the track, an event that runs past
// it) and returns where it stopped: the position itself, with the state untouched, when it
// took nothing.
std::size_t scanChannelRuns(const std::uint8_t* data, std::size_t length, std::size_t position,
                            ChannelRunState& state);

} // namespace tonvert
