// onlinefill [--entries N] [--runs N]
//     Shows the online panes (off screen) from list files of N entries, as the first start
//     does, against reading the same list files' bytes.

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "ListViewXPSafe.h"
#include "benchStats.h"
#include "connectionState.h"
#include "fileIo.h"
#include "mainState.h"
#include "netUnit.h"
#include "onlinePane.h"
#include "qtMessagePump.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "systemClock.h"

using namespace tonvert;
using namespace tonvert::bench;

namespace {

// A list file as a refresh leaves it: the time line, then the service's reply.
std::string midiListFile(std::size_t entries) {
    std::string text = "46000.5\n!VAL " + std::to_string(entries) + "\r\n";
    for (std::size_t i = 0; i < entries; ++i)
        text += std::to_string(i + 1) + "\tPiece number " + std::to_string(i) +
                ".mid\twaiting\tMP3,128,44100,C,2\r\n";
    return text;
}

std::string audioListFile(std::size_t entries) {
    std::string text = "46000.5\n!VAL \t" + std::to_string(entries) + "\r\n";
    for (std::size_t i = 0; i < entries; ++i)
        text += "Piece number " + std::to_string(i) + ".mp3\t" + std::to_string(3000000 + i * 7) +
                "\r\n";
    return text;
}

void measure(const char* what, OnlinePane& pane, const std::string& text, int runs) {
    writeTextFile(pane.listFilePath(), text);
    std::vector<double> shows, paints, reads;
    for (int r = 0; r < runs; ++r) {
        auto started = Stopwatch::now();
        std::string bytes;
        readWholeFile(pane.listFilePath(), bytes);
        reads.push_back(millisSince(started));
        started = Stopwatch::now();
        pane.showList(false);
        shows.push_back(millisSince(started));
        // Then the window lays out and paints the rows it shows.
        started = Stopwatch::now();
        pane.repaint();
        paints.push_back(millisSince(started));
    }
    // Shown again with every row selected: each selected file is found again.
    pane.list().selectAll();
    const auto keptStarted = Stopwatch::now();
    pane.showList(true);
    const double kept = millisSince(keptStarted);
    // A click on the name column: the texts are compared as the user's locale orders them.
    const auto sortStarted = Stopwatch::now();
    emit pane.list().columnClicked(0);
    const double sort = millisSince(sortStarted);
    std::printf("%s: %d rows from %.1f kB; fill median %.2f ms, reading the bytes %.3f ms, "
                "ratio %.1f; then painting the pane %.2f ms; sorting by name %.1f ms; shown again "
                "keeping %zu selected rows %.1f ms\n",
                what, pane.model().rowCount(), double(text.size()) / 1e3, median(shows),
                median(reads), median(shows) / median(reads), median(paints), sort,
                pane.list().selectedRows().size(), kept);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::size_t entries = 10000;
    int runs = 15;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--entries")
            entries = std::stoul(argv[i + 1]);
        if (std::string(argv[i]) == "--runs")
            runs = std::stoi(argv[i + 1]);
    }
    QApplication application(argc, argv);
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tonvert-onlinefill-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    QtPrompts prompts;
    QtShell shell;
    PermanentConnection connection;
    QtMessagePump pump;
    SystemClock clock;
    const Seams seams{prompts, shell, connection, pump, clock};
    MainState state;
    state.tempFolder = folder.string() + "/";
    state.net = std::make_unique<TNet>(connection, pump);

    OnlinePane midi(kOnlineMidiPaneKind, state, seams);
    OnlinePane audio(kOnlineAudioPaneKind, state, seams);
    midi.resize(400, 600);
    audio.resize(400, 600);
    midi.show();
    audio.show();
    measure("online MIDI pane", midi, midiListFile(entries), runs);
    measure("online audio pane", audio, audioListFile(entries), runs);
    std::filesystem::remove_all(folder);
    return 0;
}
