// Writes a folder of generated MIDI files for the play-time benchmark.
//
//     make-midi-corpus FOLDER [--files N] [--seed S]

#include "midiCorpus.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

int usage() {
    std::cerr << "usage: make-midi-corpus FOLDER [--files N] [--seed S]\n";
    return 2;
}

bool parseNumber(const char* text, std::uint64_t& value) {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0')
        return false;
    value = number;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    std::uint64_t files = 3000;
    std::uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--files" && i + 1 < argc) {
            if (!parseNumber(argv[++i], files))
                return usage();
        } else if (arg == "--seed" && i + 1 < argc) {
            if (!parseNumber(argv[++i], seed))
                return usage();
        } else if (folder.empty() && !arg.starts_with("--")) {
            folder = arg;
        } else {
            return usage();
        }
    }
    if (folder.empty())
        return usage();

    try {
        const auto summary = tonvert::bench::writeMidiCorpus(folder, files, seed);
        std::cout << folder << ": ";
        tonvert::bench::printCorpusSummary(std::cout, summary);
    } catch (const std::exception& error) {
        std::cerr << "make-midi-corpus: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
