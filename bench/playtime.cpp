// Play times of MIDI files, and how fast the MIDI reader finds them.
//
//     playtime --print FILE...
//     playtime --bench [DIR] [--runs N] [--files N] [--seed S] [--keep]
//                      [--readers floor,tonvert,libsmf]
//
// --print writes a line per file: the seconds with six decimals, the time as the MIDI pane
// shows it and the path, separated by tabs; or "?", the reader's message (line feeds written
// as \n) and the path when the pane shows "?".
//
// --bench lists the regular files of DIR once; without DIR it first writes a generated corpus
// (3000 files unless --files says otherwise) into a temporary folder, removed at the end
// unless --keep is given. It then runs N rounds (5 unless told) of three readers over every
// file, one after the other within each round so that they meet the same page cache:
//   floor    open, read every byte into a new buffer, close
//   tonvert  loadMidiFile, midiPlayTime, clearMidiFile
//   libsmf   smf_load, smf_get_length_seconds, smf_delete
// and prints, for each reader, the median over the rounds of the wall time, the files per
// second and the megabytes per second, with the files it failed on and the time it spent on
// files of 1 MB and more. --readers runs only the readers named, to profile one of them.

#include "fileListText.h"
#include "midiCorpus.h"
#include "midiUnit.h"

#include <smf.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "benchStats.h"

namespace fs = std::filesystem;
using tonvert::bench::median;

namespace {

int usage() {
    std::cerr << "usage: playtime --print FILE...\n"
                 "       playtime --bench [DIR] [--runs N] [--files N] [--seed S] [--keep]\n"
                 "                        [--readers floor,tonvert,libsmf]\n";
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

std::string oneLine(const std::string& message) {
    std::string line;
    line.reserve(message.size());
    for (const char c : message) {
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    return line;
}

// What the MIDI pane shows for a file: a time, or "?" with the reason.
struct PaneTime {
    std::optional<double> seconds;
    std::string message;
};

PaneTime paneTime(const std::string& path) {
    PaneTime shown;
    tonvert::TMidiFile midi;
    if (!tonvert::loadMidiFile(path, false, midi, shown.message))
        return shown;
    const std::optional<double> seconds = tonvert::midiPlayTime(midi, shown.message);
    if (!seconds && shown.message.empty())
        shown.message = "unknown time division";
    else if (seconds && shown.message.empty())
        shown.seconds = seconds;
    return shown;
}

int printTimes(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        const PaneTime shown = paneTime(path);
        if (shown.seconds)
            std::printf("%.6f\t%s\t%s\n", *shown.seconds,
                        tonvert::playTimeText(*shown.seconds).c_str(), path.c_str());
        else
            std::printf("?\t%s\t%s\n", oneLine(shown.message).c_str(), path.c_str());
    }
    return 0;
}

// The readers under test. Each gives whether it read the file; the two MIDI readers also give
// the play time.

std::uint64_t floorSink = 0;

bool readAllBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && info.st_size > 0;
    if (ok) {
        const auto size = static_cast<std::size_t>(info.st_size);
        auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        std::size_t done = 0;
        while (ok && done < size) {
            const ssize_t n = ::read(fd, buffer.get() + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                done += static_cast<std::size_t>(n);
        }
        if (ok)
            floorSink += buffer[size - 1];
    }
    ::close(fd);
    return ok;
}

bool tonvertTime(const std::string& path, double& seconds) {
    tonvert::TMidiFile midi;
    std::string message;
    bool shown = false;
    if (tonvert::loadMidiFile(path, false, midi, message)) {
        const std::optional<double> time = tonvert::midiPlayTime(midi, message);
        shown = time && message.empty();
        if (shown)
            seconds = *time;
    }
    tonvert::clearMidiFile(midi);
    return shown;
}

bool libsmfTime(const std::string& path, double& seconds) {
    smf_t* smf = smf_load(path.c_str());
    if (smf == nullptr)
        return false;
    seconds = smf_get_length_seconds(smf);
    smf_delete(smf);
    return true;
}

void dropLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

struct Entry {
    std::string path;
    std::uint64_t size;
};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen))
        return "unknown";
    return one + " " + five + " " + fifteen;
}

constexpr std::size_t kReaders = 3;
constexpr std::array<const char*, kReaders> kReaderNames = {"floor", "tonvert", "libsmf"};
constexpr std::uint64_t kLargeFile = 1000000;

struct BenchOptions {
    std::uint64_t rounds = 5;
    std::array<bool, kReaders> readers = {true, true, true};
};

int runBench(const fs::path& folder, const BenchOptions& options) {
    std::vector<Entry> entries;
    std::uint64_t totalBytes = 0;
    std::size_t largeFiles = 0;
    for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
        if (!item.is_regular_file())
            continue;
        entries.push_back({item.path().string(), item.file_size()});
        totalBytes += entries.back().size;
        largeFiles += entries.back().size >= kLargeFile ? 1 : 0;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    if (entries.empty()) {
        std::cerr << "playtime: no files in " << folder.string() << '\n';
        return 1;
    }
    const double megabytes = double(totalBytes) / 1e6;
    std::printf("%zu files, %.1f MB in %s; %llu rounds, the readers one after the other in "
                "each; load average before: %s\n",
                entries.size(), megabytes, folder.string().c_str(),
                static_cast<unsigned long long>(options.rounds), loadAverage().c_str());

    // libsmf reports odd files through GLib; the figures are the point here.
    g_log_set_default_handler(dropLogMessage, nullptr);

    std::array<std::vector<double>, kReaders> millis;
    std::array<std::vector<double>, kReaders> largeMillis; // spent on files of 1 MB and more
    std::array<std::vector<std::size_t>, kReaders> failed;
    std::vector<std::optional<double>> tonvertSeconds(entries.size());
    std::vector<std::optional<double>> libsmfSeconds(entries.size());

    std::printf("\nround   floor ms  tonvert ms   libsmf ms\n");
    for (std::uint64_t round = 0; round < options.rounds; ++round) {
        std::printf("%5llu", static_cast<unsigned long long>(round + 1));
        for (std::size_t reader = 0; reader < kReaders; ++reader) {
            if (!options.readers[reader]) {
                std::printf("  %10s", "-");
                continue;
            }
            using Clock = std::chrono::steady_clock;
            std::size_t failures = 0;
            Clock::duration large{};
            const auto start = Clock::now();
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const std::string& path = entries[i].path;
                const bool isLarge = entries[i].size >= kLargeFile;
                const auto fileStart = isLarge ? Clock::now() : Clock::time_point{};
                double seconds = 0;
                bool ok = false;
                switch (reader) {
                case 0:
                    ok = readAllBytes(path);
                    break;
                case 1:
                    ok = tonvertTime(path, seconds);
                    if (round == 0 && ok)
                        tonvertSeconds[i] = seconds;
                    break;
                default:
                    ok = libsmfTime(path, seconds);
                    if (round == 0 && ok)
                        libsmfSeconds[i] = seconds;
                    break;
                }
                if (isLarge)
                    large += Clock::now() - fileStart;
                failures += ok ? 0 : 1;
            }
            const std::chrono::duration<double, std::milli> took = Clock::now() - start;
            millis[reader].push_back(took.count());
            largeMillis[reader].push_back(std::chrono::duration<double, std::milli>(large).count());
            failed[reader].push_back(failures);
            std::printf("  %10.1f", took.count());
            std::fflush(stdout);
        }
        std::printf("\n");
    }

    std::printf(
        "\nreader    median ms     files/s      MB/s  failed  ms on the %zu files of 1 MB+\n",
        largeFiles);
    std::array<double, kReaders> medianMillis{};
    for (std::size_t reader = 0; reader < kReaders; ++reader) {
        if (!options.readers[reader])
            continue;
        std::vector<double> filesPerSecond;
        std::vector<double> megabytesPerSecond;
        for (const double ms : millis[reader]) {
            filesPerSecond.push_back(double(entries.size()) * 1000 / ms);
            megabytesPerSecond.push_back(megabytes * 1000 / ms);
        }
        medianMillis[reader] = median(millis[reader]);
        const auto [fewest, most] =
            std::minmax_element(failed[reader].begin(), failed[reader].end());
        std::printf("%-8s %10.1f %11.0f %9.1f  %6zu  %10.1f%s\n", kReaderNames[reader],
                    medianMillis[reader], median(filesPerSecond), median(megabytesPerSecond),
                    *fewest, median(largeMillis[reader]),
                    *fewest == *most ? "" : "  (failures varied between rounds)");
    }
    std::printf("\n");
    if (options.readers[0] && options.readers[1])
        std::printf("tonvert / floor time:  %.2f\n", medianMillis[1] / medianMillis[0]);
    if (options.readers[1] && options.readers[2])
        std::printf("libsmf / tonvert time: %.2f\n", medianMillis[2] / medianMillis[1]);
    if (!options.readers[1] || !options.readers[2])
        return floorSink == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;

    std::size_t both = 0;
    std::size_t agree = 0;
    std::vector<std::size_t> differ;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!tonvertSeconds[i] || !libsmfSeconds[i])
            continue;
        ++both;
        if (std::fabs(*tonvertSeconds[i] - *libsmfSeconds[i]) <= 0.01)
            ++agree;
        else
            differ.push_back(i);
    }
    std::printf("\ntonvert and libsmf agree within 0.01 s on %zu of the %zu files both timed\n",
                agree, both);
    for (std::size_t k = 0; k < differ.size() && k < 5; ++k) {
        const std::size_t i = differ[k];
        std::printf("  differ: tonvert %.6f, libsmf %.6f  %s\n", *tonvertSeconds[i],
                    *libsmfSeconds[i], entries[i].path.c_str());
    }
    std::size_t onlyTonvert = 0;
    std::size_t onlyLibsmf = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        onlyTonvert += tonvertSeconds[i] && !libsmfSeconds[i];
        onlyLibsmf += !tonvertSeconds[i] && libsmfSeconds[i];
    }
    std::printf("timed by tonvert only: %zu, by libsmf only: %zu\n", onlyTonvert, onlyLibsmf);
    return floorSink == 0xFFFFFFFFFFFFFFFFull ? 1 : 0; // keeps the floor's reads observable
}

// "floor,tonvert" and the like.
bool parseReaders(const std::string& list, std::array<bool, kReaders>& readers) {
    readers = {false, false, false};
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        const std::string name = list.substr(from, comma - from);
        const auto found = std::find(kReaderNames.begin(), kReaderNames.end(), name);
        if (found == kReaderNames.end())
            return false;
        readers[static_cast<std::size_t>(found - kReaderNames.begin())] = true;
        from = comma + 1;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "--print") {
        if (argc < 3)
            return usage();
        return printTimes(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (command != "--bench")
        return usage();

    std::string folder;
    BenchOptions options;
    std::uint64_t files = 3000;
    std::uint64_t seed = 1;
    bool keep = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            if (!parseNumber(argv[++i], options.rounds) || options.rounds == 0)
                return usage();
        } else if (arg == "--readers" && i + 1 < argc) {
            if (!parseReaders(argv[++i], options.readers))
                return usage();
        } else if (arg == "--files" && i + 1 < argc) {
            if (!parseNumber(argv[++i], files) || files == 0)
                return usage();
        } else if (arg == "--seed" && i + 1 < argc) {
            if (!parseNumber(argv[++i], seed))
                return usage();
        } else if (arg == "--keep") {
            keep = true;
        } else if (folder.empty() && !arg.starts_with("--")) {
            folder = arg;
        } else {
            return usage();
        }
    }

    try {
        if (!folder.empty())
            return runBench(folder, options);

        std::string name = (fs::temp_directory_path() / "tonvert-playtime-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            std::perror("playtime: mkdtemp");
            return 1;
        }
        const fs::path generated = name;
        const auto start = std::chrono::steady_clock::now();
        const auto summary = tonvert::bench::writeMidiCorpus(generated, files, seed);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("generated corpus, seed %llu, in %.1f s: ",
                    static_cast<unsigned long long>(seed), took.count());
        std::fflush(stdout);
        tonvert::bench::printCorpusSummary(std::cout, summary);
        std::cout.flush();
        const int status = runBench(generated, options);
        if (keep)
            std::printf("corpus kept in %s\n", name.c_str());
        else
            fs::remove_all(generated);
        return status;
    } catch (const std::exception& error) {
        std::cerr << "playtime: " << error.what() << '\n';
        return 1;
    }
}
