#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>

namespace tonvert::bench {

// What a corpus run wrote, with the files counted by size band.
struct CorpusSummary {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
    std::size_t under100 = 0;     // under 100 bytes
    std::size_t under5k = 0;      // 100 bytes up to 5 KB
    std::size_t under100k = 0;    // 5 KB up to 100 KB
    std::size_t under1m = 0;      // 100 KB up to 1 MB
    std::size_t under2m = 0;      // 1 MB up to 2 MB
    std::size_t from2m = 0;       // 2 MB and more
    std::size_t format0 = 0;      // Standard MIDI Files of format 0 (the rest are of format 1)
    std::size_t manyTracks = 0;   // 16 tracks or more
    std::size_t smpte = 0;        // SMPTE time division
    std::size_t rmid = 0;         // inside a RIFF "RMID" file
    std::size_t tempoLater = 0;   // Set Tempo events in tracks after the first
    std::size_t tempoHeavy = 0;   // 50 Set Tempo events or more
    std::size_t runningOnly = 0;  // running status wherever it can be used
    std::size_t explicitOnly = 0; // a status byte on every channel event
};

// Writes `count` MIDI files into `folder`, which is created when missing. The same seed and
// count give the same files, byte for byte, on every platform. Throws std::runtime_error when
// a file cannot be written.
CorpusSummary writeMidiCorpus(const std::filesystem::path& folder, std::size_t count,
                              std::uint64_t seed);

// The summary in a few lines: files, megabytes and the counts by kind.
void printCorpusSummary(std::ostream& out, const CorpusSummary& summary);

} // namespace tonvert::bench
