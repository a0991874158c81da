// renderbench [MIDI_FILE] [--soundfont FILE] [--runs N]
//     Renders one MIDI file side by side: tonvert-render to WAV against the fluidsynth command
//     line writing WAV, and tonvert-render to MP3 against fluidsynth piped into lame. Without a
//     file it writes a dense two-minute piece of its own. Prints real-time factors and ratios.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "midiUnit.h"

namespace {

using Clock = std::chrono::steady_clock;

void putVarLen(std::string& out, std::uint32_t value) {
    std::string bytes(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        bytes.insert(bytes.begin(), static_cast<char>((value & 0x7F) | 0x80));
    out += bytes;
}

std::string big(std::uint32_t value, int bytes) {
    std::string out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}

// Two minutes at 120 beats a minute: eight voices in sixteenth notes, chords and drums.
void writePiece(const std::string& path) {
    const int ppq = 480, sixteenth = ppq / 4, bars = 60;
    std::string track;
    track += std::string("\x00\xFF\x51\x03", 4) + big(500000, 3);
    for (int ch = 0; ch < 8; ++ch) {
        track += '\0';
        track += static_cast<char>(0xC0 | ch);
        track += static_cast<char>((ch * 9 + 1) % 100);
    }
    const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    std::uint32_t pending = 0;
    for (int step = 0; step < bars * 16; ++step) {
        for (int ch = 0; ch < 8; ++ch) {
            const int key = 48 + ch * 3 + scale[(step + ch) % 8];
            putVarLen(track, ch == 0 ? pending : 0);
            track += static_cast<char>(0x90 | ch);
            track += static_cast<char>(key);
            track += static_cast<char>(70 + ch * 5);
        }
        putVarLen(track, 0);
        track += static_cast<char>(0x99);
        track += static_cast<char>(step % 4 == 0 ? 36 : 42);
        track += static_cast<char>(100);
        putVarLen(track, sixteenth - 10);
        for (int ch = 0; ch < 8; ++ch) {
            if (ch > 0)
                putVarLen(track, 0);
            track += static_cast<char>(0x80 | ch);
            track += static_cast<char>(48 + ch * 3 + scale[(step + ch) % 8]);
            track += '\0';
        }
        putVarLen(track, 0);
        track += static_cast<char>(0x89);
        track += static_cast<char>(step % 4 == 0 ? 36 : 42);
        track += '\0';
        pending = 10;
    }
    track += std::string("\x00\xFF\x2F\x00", 4);
    std::ofstream out(path, std::ios::binary);
    out << "MThd" << big(6, 4) << big(0, 2) << big(1, 2) << big(ppq, 2) << "MTrk"
        << big(static_cast<std::uint32_t>(track.size()), 4) << track;
}

double secondsOf(const std::string& command, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto started = Clock::now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double>(Clock::now() - started).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::string midi, soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--soundfont" && i + 1 < argc)
            soundfont = argv[++i];
        else if (word == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            midi = word;
    }
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tonvert-renderbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    if (midi.empty()) {
        midi = (folder / "piece.mid").string();
        writePiece(midi);
    }
    tonvert::TMidiFile file;
    std::string message;
    if (!tonvert::loadMidiFile(midi, false, file, message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    const double playTime = tonvert::midiPlayTime(file, message).value_or(0);
    const std::string render =
        (std::filesystem::path(argv[0]).parent_path().parent_path() / "render" / "tonvert-render")
            .string();
    const std::string out = folder.string() + "/out";
    const std::string sf = " '" + soundfont + "' '" + midi + "'";

    const double oursWav = secondsOf(render + " '" + midi + "' " + out +
                                         ".wav --preset "
                                         "WAV,1378,44100,C,2 --soundfont '" +
                                         soundfont + "' > /dev/null 2>&1",
                                     runs);
    const double peerWav =
        secondsOf("fluidsynth -ni -q -F " + out + "-peer.wav -r 44100" + sf + " > /dev/null", runs);
    const double oursMp3 = secondsOf(render + " '" + midi + "' " + out +
                                         ".mp3 --preset "
                                         "MP3,128,44100,C,2 --soundfont '" +
                                         soundfont + "' > /dev/null 2>&1",
                                     runs);
    const double peerMp3 =
        secondsOf("fluidsynth -ni -q -T raw -O s16 -F /dev/stdout -r 44100" + sf +
                      " | lame --silent -r -s 44.1 --bitwidth 16 --signed "
                      "--little-endian -b 128 - " +
                      out + "-peer.mp3 2> /dev/null",
                  runs);

    std::printf("%s: %.1f s of MIDI, soundfont %s, median of %d runs\n", midi.c_str(), playTime,
                soundfont.c_str(), runs);
    std::printf("WAV  tonvert-render %.2f s (%.1fx real time)   fluidsynth %.2f s (%.1fx)   "
                "speed ratio %.2f\n",
                oursWav, playTime / oursWav, peerWav, playTime / peerWav, peerWav / oursWav);
    std::printf("MP3  tonvert-render %.2f s (%.1fx real time)   fluidsynth|lame %.2f s (%.1fx)   "
                "speed ratio %.2f\n",
                oursMp3, playTime / oursMp3, peerMp3, playTime / peerMp3, peerMp3 / oursMp3);
    std::filesystem::remove_all(folder);
    return 0;
}
