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

// Takes whole channel events from `position` on, many at a time, as long as they are of the
// plain kind that makes up most of a track: a delta of one or two bytes, an optional status
// of a two-data-byte channel message (8x, 9x, Ax, Bx, Ex), data bytes below 80h, or the data
// bytes alone under such a running status. It stops before anything else (meta and
// system-exclusive events, program changes, longer deltas, the end of the track) and returns
// where it stopped: the position itself when it could take nothing. The state moves on as
// walking the same events one by one would move it.
std::size_t scanChannelRuns(const std::uint8_t* data, std::size_t length, std::size_t position,
                            ChannelRunState& state);

} // namespace tonvert
