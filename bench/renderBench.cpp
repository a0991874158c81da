// renderbench [MIDI] [--folder DIR] [--soundfont FILE] [--runs N] [--pin CPU]
//     tonvert-render against the fluidsynth command line: to WAV against fluidsynth writing WAV,
//     to MP3 (128 kbit/s) against fluidsynth piped into lame. First on one file (a dense
//     two-minute piece of its own when none is given), then, with --folder, on every .mid
//     file of DIR one after another. Prints the median wall and CPU seconds (the CPU of all
//     the processes of a command: the fair figure on a shared machine), the speed ratios and
//     the peak memory of the largest process. --pin runs everything on that one processor.
// renderbench --make-long DIR MINUTES OUT.mid
//     Writes one MIDI file of the .mid files of DIR played one after another, again from the
//     first, until it plays MINUTES minutes: long real music for the memory figure.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
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

// --- the long piece ---

struct TimedEvent {
    double seconds;
    std::string bytes; // with its status byte
};

std::uint32_t readVar(const std::string& data, std::size_t& at) {
    std::uint32_t value = 0;
    while (at < data.size()) {
        const auto byte = static_cast<unsigned char>(data[at++]);
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0)
            break;
    }
    return value;
}

std::uint32_t bigAt(const std::string& data, std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes && at + std::size_t(i) < data.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(data[at + std::size_t(i)]);
    return value;
}

// The channel and system-exclusive events of a Standard MIDI File in seconds from its start,
// in order; tempo changes are applied, not kept. Empty for a file of SMPTE time.
std::vector<TimedEvent> timedEvents(const std::string& smf) {
    const std::uint32_t division = bigAt(smf, 12, 2);
    if (smf.compare(0, 4, "MThd") != 0 || division == 0 || (division & 0x8000) != 0)
        return {};
    std::vector<std::pair<std::uint64_t, std::string>> events; // tick, bytes
    std::map<std::uint64_t, std::uint32_t> tempos{{0, 500000}};
    for (std::size_t chunk = 14; chunk + 8 <= smf.size();) {
        const std::size_t end =
            std::min<std::size_t>(smf.size(), chunk + 8 + bigAt(smf, chunk + 4, 4));
        std::uint64_t tick = 0;
        unsigned char status = 0;
        for (std::size_t at = chunk + 8; at < end;) {
            tick += readVar(smf, at);
            if (at < end && (static_cast<unsigned char>(smf[at]) & 0x80) != 0)
                status = static_cast<unsigned char>(smf[at++]);
            const std::size_t from = at;
            if (status == 0xFF) {
                const auto type = static_cast<unsigned char>(smf[at++]);
                const std::uint32_t length = readVar(smf, at);
                if (type == 0x51 && length == 3)
                    tempos[tick] = bigAt(smf, at, 3);
                at += length;
            } else if (status == 0xF0 || status == 0xF7) {
                at += readVar(smf, at);
                events.emplace_back(tick,
                                    std::string(1, char(status)) + smf.substr(from, at - from));
            } else {
                at += (status & 0xE0) == 0xC0 ? 1 : 2;
                events.emplace_back(tick,
                                    std::string(1, char(status)) + smf.substr(from, at - from));
            }
        }
        chunk = end;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TimedEvent> timed;
    for (const auto& [tick, bytes] : events) {
        double seconds = 0;
        for (auto t = tempos.begin(); t != tempos.end() && t->first < tick; ++t) {
            const auto next = std::next(t);
            const std::uint64_t until = next == tempos.end() ? tick : std::min(tick, next->first);
            seconds += double(until - t->first) * t->second / 1e6 / division;
        }
        timed.push_back({seconds, bytes});
    }
    return timed;
}

// The pieces of `folder` one after another, a second apart, each begun with every channel's
// controllers reset and notes off, until `minutes` are full.
bool writeLongPiece(const std::string& folder, double minutes, const std::string& path) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mid")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    constexpr double kTicksPerSecond = 960 * 2; // 960 a quarter at 120 beats a minute
    std::string track = std::string("\x00\xFF\x51\x03", 4) + big(500000, 3);
    double offset = 0;
    long long written = 0; // ticks
    for (std::size_t i = 0; offset < minutes * 60 && !files.empty(); i = (i + 1) % files.size()) {
        std::ifstream in(files[i], std::ios::binary);
        const auto events = timedEvents(std::string{std::istreambuf_iterator<char>(in), {}});
        if (events.empty() || offset + events.back().seconds + 1 > minutes * 60)
            break;
        std::vector<TimedEvent> piece;
        for (int ch = 0; ch < 16; ++ch)
            for (const char cc : {'\x79', '\x7B'})
                piece.push_back({0, {char(0xB0 | ch), cc, '\0'}});
        piece.insert(piece.end(), events.begin(), events.end());
        for (const TimedEvent& e : piece) {
            // Rounded where it lies, not from the event before: rounding never runs backwards.
            const long long tick = std::llround((offset + e.seconds) * kTicksPerSecond);
            putVarLen(track, static_cast<std::uint32_t>(tick - written));
            written = tick;
            track += e.bytes;
        }
        offset += events.back().seconds + 1;
    }
    track += std::string("\x00\xFF\x2F\x00", 4);
    std::ofstream out(path, std::ios::binary);
    out << "MThd" << big(6, 4) << big(0, 2) << big(1, 2) << big(960, 2) << "MTrk"
        << big(static_cast<std::uint32_t>(track.size()), 4) << track;
    std::printf("%s: %.1f minutes of the pieces of %s\n", path.c_str(), offset / 60,
                folder.c_str());
    return bool(out);
}

// --- timing ---

struct Figures {
    double wall = 0; // seconds
    double cpu = 0;  // user and system seconds of the command and all its processes
    double peakMiB = 0;
};

// One run of a shell command; exits the program when it fails.
Figures runOnce(const std::string& command) {
    const auto started = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return {std::chrono::duration<double>(Clock::now() - started).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss / 1024.0};
}

// A set of commands run one after another: their sums, and the largest peak.
Figures runSet(const std::vector<std::string>& commands) {
    Figures total;
    for (const std::string& command : commands) {
        const Figures f = runOnce(command);
        total.wall += f.wall;
        total.cpu += f.cpu;
        total.peakMiB = std::max(total.peakMiB, f.peakMiB);
    }
    return total;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Bench {
    std::string render; // the tonvert-render binary
    std::string soundfont;
    std::string out; // a path prefix for the outputs
    int runs = 3;
};

// tonvert-render against its peer on `files`, the two in turn, median of the runs.
void compare(const Bench& bench, const std::vector<std::string>& files, const char* format) {
    const bool mp3 = std::string(format) == "MP3";
    std::vector<std::string> ours, peer;
    for (const std::string& file : files) {
        ours.push_back(
            bench.render + " " + quoted(file) + " " + bench.out +
            (mp3 ? ".mp3 --preset MP3,128,44100,C,2" : ".wav --preset WAV,1378,44100,C,2") +
            " --soundfont " + quoted(bench.soundfont) + " > /dev/null 2>&1");
        const std::string fluid = "fluidsynth -ni -q -r 44100 ";
        const std::string sf = quoted(bench.soundfont) + " " + quoted(file);
        peer.push_back(mp3 ? fluid + "-T raw -O s16 -F - " + sf +
                                 " 2> /dev/null | lame --silent -r -s 44.1 --bitwidth 16 "
                                 "--signed --little-endian -b 128 - " +
                                 bench.out + "-peer.mp3 2> /dev/null"
                           : fluid + "-F " + bench.out + "-peer.wav " + sf + " > /dev/null 2>&1");
    }
    std::vector<double> oursWall, oursCpu, peerWall, peerCpu, oursPeak, peerPeak;
    for (int run = 0; run < bench.runs; ++run) {
        const Figures a = runSet(ours), b = runSet(peer);
        oursWall.push_back(a.wall);
        oursCpu.push_back(a.cpu);
        oursPeak.push_back(a.peakMiB);
        peerWall.push_back(b.wall);
        peerCpu.push_back(b.cpu);
        peerPeak.push_back(b.peakMiB);
    }
    using tonvert::bench::median;
    const char* peerName = mp3 ? "fluidsynth|lame" : "fluidsynth     ";
    std::printf("%s  tonvert-render   wall %7.2f s  cpu %7.2f s  peak %6.1f MiB\n", format,
                median(oursWall), median(oursCpu),
                *std::max_element(oursPeak.begin(), oursPeak.end()));
    std::printf("     %s  wall %7.2f s  cpu %7.2f s  peak %6.1f MiB\n", peerName, median(peerWall),
                median(peerCpu), *std::max_element(peerPeak.begin(), peerPeak.end()));
    std::printf("     speed of tonvert-render against it: wall %.2fx, cpu %.2fx\n",
                median(peerWall) / median(oursWall), median(peerCpu) / median(oursCpu));
}

double playTimeOf(const std::string& path) {
    tonvert::TMidiFile file;
    std::string message;
    if (!tonvert::loadMidiFile(path, false, file, message))
        return 0;
    return tonvert::midiPlayTime(file, message).value_or(0);
}

void report(const Bench& bench, const std::string& name, const std::vector<std::string>& files) {
    double playTime = 0;
    for (const std::string& file : files)
        playTime += playTimeOf(file);
    std::printf("%s: %zu file(s), %.1f s of MIDI, soundfont %s, median of %d runs\n", name.c_str(),
                files.size(), playTime, bench.soundfont.c_str(), bench.runs);
    compare(bench, files, "WAV");
    compare(bench, files, "MP3");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Bench bench;
    bench.soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    std::string midi, folder;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--make-long" && i + 3 < argc)
            return writeLongPiece(argv[i + 1], std::atof(argv[i + 2]), argv[i + 3]) ? 0 : 1;
        if (word == "--soundfont" && i + 1 < argc)
            bench.soundfont = argv[++i];
        else if (word == "--runs" && i + 1 < argc)
            bench.runs = std::max(1, std::atoi(argv[++i]));
        else if (word == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else if (word == "--pin" && i + 1 < argc) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(std::atoi(argv[++i]), &one);
            if (::sched_setaffinity(0, sizeof one, &one) != 0)
                std::perror("renderbench: --pin");
        } else
            midi = word;
    }
    const auto scratch = std::filesystem::temp_directory_path() /
                         ("tonvert-renderbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    if (midi.empty()) {
        midi = (scratch / "piece.mid").string();
        writePiece(midi);
    }
    bench.render = quoted(
        (std::filesystem::path(argv[0]).parent_path().parent_path() / "render" / "tonvert-render")
            .string());
    bench.out = (scratch / "out").string();
    report(bench, midi, {midi});
    if (!folder.empty()) {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".mid")
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        report(bench, folder, files);
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
