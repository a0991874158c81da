#pragma once

#include <cstddef>
#include <cstdint>

namespace tonvert::test {

// What reading a track must note of it.
struct TrackWalk {
    bool valid = true;
    std::uint16_t usedChannels = 0;
    std::uint32_t lastChannelTick = 0;
};

// The events of a track's bytes taken one at a time, written apart from the reader so that
// the two can be held against each other: running status applies (a data byte with none goes
// as active sensing, and the byte is then read as the next delta), meta, system-exclusive and
// active-sensing events are stepped over, End of Track ends the walk, any other system status
// or an event that runs past the end breaks the track.
inline TrackWalk walkOneByOne(const std::uint8_t* data, std::size_t size) {
    TrackWalk walk;
    std::uint32_t tick = 0;
    std::uint8_t running = 0xFE;
    // A variable-length number at p, moving p past it; false when it runs past the end.
    const auto number = [&](std::size_t& p, std::uint32_t& value) {
        value = 0;
        do {
            if (p >= size)
                return false;
            value = (value << 7) | (data[p] & 0x7F);
        } while (data[p++] >= 0x80);
        return true;
    };
    std::size_t p = 0;
    while (p < size) {
        std::uint32_t delta;
        if (!number(p, delta)) {
            walk.valid = false;
            return walk;
        }
        tick += delta;
        if (p >= size)
            break;
        const std::uint8_t byte = data[p];
        if (byte < 0xF0) {
            if (byte >= 0x80) {
                running = byte;
                ++p;
            } else if (running == 0xFE) {
                continue;
            }
            const std::size_t dataBytes = (running & 0xE0) == 0xC0 ? 1 : 2;
            if (size - p < dataBytes) {
                walk.valid = false;
                return walk;
            }
            p += dataBytes;
            walk.usedChannels |= std::uint16_t(1u << (running & 0x0F));
            walk.lastChannelTick = tick;
        } else if (byte == 0xFF || byte == 0xF0 || byte == 0xF7) {
            ++p;
            if (byte == 0xFF) {
                if (p >= size) {
                    walk.valid = false;
                    return walk;
                }
                if (data[p++] == 0x2F)
                    break;
            }
            std::uint32_t length;
            if (!number(p, length) || length > size - p) {
                walk.valid = false;
                return walk;
            }
            p += length;
        } else if (byte == 0xFE) {
            running = byte;
            ++p;
        } else {
            walk.valid = false;
            return walk;
        }
    }
    return walk;
}

} // namespace tonvert::test
