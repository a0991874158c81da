// panefill [--files N] [--runs N]
//     Fills the local MIDI pane of the main window (off screen) from a folder of generated
//     MIDI files, and reads the same files' bytes as the floor to compare with.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ListViewXPSafe.h"
#include "benchStats.h"
#include "connectionState.h"
#include "mainUnit.h"
#include "midiCorpus.h"
#include "qtMessagePump.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "systemClock.h"

using tonvert::bench::median;
using tonvert::bench::millisSince;
using Clock = tonvert::bench::Stopwatch;

namespace {

// Every file's bytes, read whole into a buffer of its size: what a fill cannot beat.
std::size_t readAll(const std::filesystem::path& folder) {
    std::size_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        ::fstat(fd, &info);
        std::vector<char> bytes(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        total += done;
    }
    return total;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::size_t files = 2000;
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--files")
            files = std::stoul(argv[i + 1]);
        if (std::string(argv[i]) == "--runs")
            runs = std::stoi(argv[i + 1]);
    }
    QApplication application(argc, argv);

    const auto folder =
        std::filesystem::temp_directory_path() / ("tonvert-panefill-" + std::to_string(::getpid()));
    const auto midi = folder / "MIDI";
    const auto summary = tonvert::bench::writeMidiCorpus(midi, files, 7);
    std::printf("%zu MIDI files, %.1f MB\n", summary.files, double(summary.bytes) / 1e6);

    tonvert::QtPrompts prompts;
    tonvert::QtShell shell;
    tonvert::PermanentConnection connection;
    tonvert::QtMessagePump pump;
    tonvert::SystemClock clock;
    tonvert::TmainForm form((folder / "tonvert").string(),
                            {prompts, shell, connection, pump, clock});
    form.state.midiFolder = midi.string() + "/";
    auto* list = form.findChild<tonvert::TListViewXPSafe*>(QStringLiteral("localMidiListView"));

    std::vector<double> fill, floor;
    std::size_t bytes = 0;
    for (int r = 0; r < runs; ++r) {
        auto started = Clock::now();
        bytes = readAll(midi);
        floor.push_back(millisSince(started));
        started = Clock::now();
        form.fillLocalMidiList(true);
        fill.push_back(millisSince(started));
    }
    std::printf("rows in the pane: %d (%zu bytes read by the floor)\n", list->model()->rowCount(),
                bytes);
    std::printf("fill of the local MIDI pane: median %.1f ms over %d runs\n", median(fill), runs);
    std::printf("reading every file's bytes:  median %.1f ms\n", median(floor));
    std::printf("fill / floor: %.2f\n", median(fill) / median(floor));
    std::filesystem::remove_all(folder);
    return 0;
}
