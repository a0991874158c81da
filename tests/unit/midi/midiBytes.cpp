#include "midiBytes.h"

namespace tonvert::test {

std::string varLen(std::uint32_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        out.insert(out.begin(), static_cast<char>((value & 0x7F) | 0x80));
    return out;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

std::string bigEndian(std::uint32_t value, int width) {
    std::string out;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}

std::string header(int format, int tracks, int division) {
    return "MThd" + bigEndian(6, 4) + bigEndian(format, 2) + bigEndian(tracks, 2) +
           bigEndian(static_cast<std::uint16_t>(division), 2);
}

std::string trackChunk(const std::string& events) {
    return "MTrk" + bigEndian(static_cast<std::uint32_t>(events.size()), 4) + events;
}

std::string rmid(const std::string& chunksBefore, const std::string& smf) {
    auto littleEndian = [](std::uint32_t v) {
        return bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
    };
    std::string body =
        "RMID" + chunksBefore + "data" + littleEndian(static_cast<std::uint32_t>(smf.size())) + smf;
    return "RIFF" + littleEndian(static_cast<std::uint32_t>(body.size())) + body;
}

std::string taggedMidi(const std::string& tag) {
    const std::string events =
        bytes({0x00, 0xFF, 0x01}) + varLen(static_cast<std::uint32_t>(tag.size())) + tag +
        bytes({0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    return header(0, 1, 480) + trackChunk(events);
}

} // namespace tonvert::test
