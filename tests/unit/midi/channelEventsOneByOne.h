#pragma once

#include "channelRuns.h"

#include <cstddef>
#include <cstdint>

namespace tonvert::test {

struct ChannelScan {
    std::size_t stop;
    ChannelRunState state;
};

// Channel events taken one at a time, as the reader walks a track: what the run scan must
// agree with.
inline ChannelScan takeOneByOne(const std::uint8_t* data, std::size_t size, std::size_t p,
                                ChannelRunState state) {
    for (;;) {
        std::size_t q = p;
        std::uint32_t delta = 0;
        do {
            if (q >= size)
                return {p, state};
            delta = (delta << 7) | (data[q] & 0x7F);
        } while (data[q++] >= 0x80);
        if (q >= size || data[q] >= 0xF0)
            break;
        std::uint8_t running = state.running;
        if (data[q] >= 0x80)
            running = data[q++];
        else if (running == 0xFE)
            break;
        const std::size_t dataBytes = (running & 0xE0) == 0xC0 ? 1 : 2;
        if (size - q < dataBytes)
            break;
        p = q + dataBytes;
        state.tick += delta;
        state.lastChannelTick = state.tick;
        state.usedChannels |= std::uint16_t(1u << (running & 0x0F));
        state.running = running;
    }
    return {p, state};
}

} // namespace tonvert::test
