#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace tonvert::test {

// Builders of MIDI file bytes for tests.
std::string varLen(std::uint32_t value);
std::string bytes(std::initializer_list<int> values);
std::string bigEndian(std::uint32_t value, int width);
std::string header(int format, int tracks, int division);
std::string trackChunk(const std::string& events);
// A RIFF "RMID" file: the given chunks (each complete), then a "data" chunk with `smf`.
std::string rmid(const std::string& chunksBefore, const std::string& smf);
// A MIDI file that plays one short note, told apart from others by its tag (a text event).
std::string taggedMidi(const std::string& tag);

} // namespace tonvert::test
