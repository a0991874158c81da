// arrivaldelay SERVICE_BINARY [--runs N] MIDI...
// arrivaldelay --make-piece SECONDS OUT.mid
//     The delay from a render's end to its audio file listed in the online audio pane, with no
//     refresh by hand. The client's own panes and automatic refresh run off screen against the
//     reference service (one render worker); a second connection asks the service every 25 ms
//     and notes when each audio file first appears, which is when its render ended. Each MIDI
//     file is uploaded N times, one after the other; the figures are the median and the worst.
//     --make-piece writes a short piece of that length (piano arpeggios over a held bass) for
//     the pieces too short to be made of whole real ones.

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
#include "childProcess.h"
#include "connectionState.h"
#include "loopbackService.h"
#include "mainState.h"
#include "messagePump.h"
#include "midiBytes.h"
#include "midiUnit.h"
#include "netUnit.h"
#include "noDesktop.h"
#include "notifications.h"
#include "onlineArrivals.h"
#include "onlineListFile.h"
#include "onlinePane.h"
#include "prompts.h"
#include "qtMessagePump.h"
#include "serviceRequests.h"
#include "systemClock.h"

using namespace tonvert;
using Steady = std::chrono::steady_clock;

namespace {

struct SilentPrompts : Prompts {
    PromptAnswer show(PromptKind, const std::string&, const std::string& text,
                      PromptButtons) override {
        std::fprintf(stderr, "arrivaldelay: message: %s\n", text.c_str());
        return PromptAnswer::ok;
    }
};

struct CountedNotices : Notifications {
    int count = 0;
    void notify(const std::string&, const std::string&, const std::string&,
                std::function<void()>) override {
        ++count;
    }
};

double secondsSince(Steady::time_point start) {
    return std::chrono::duration<double>(Steady::now() - start).count();
}

// Sleeps in the event loop, so that the client's timers and replies are served meanwhile.
void serveEvents(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The audio names of a listaudio reply, read as the pane reads it.
std::set<std::string> audioNames(const std::string& reply) {
    std::set<std::string> names;
    for (const FileRow& row : readOnlineListFile(onlineListFileText(0, reply, "."), true, ".").rows)
        names.insert(row.fileName);
    return names;
}

// Asks the service for the audio list every 25 ms on its own connection and notes when a name
// that `known` did not hold first appears.
class Watcher {
public:
    Watcher(std::string url, std::set<std::string> known)
        : url_(std::move(url))
        , known_(std::move(known))
        , thread_([this] { run(); }) {}
    ~Watcher() {
        stop_ = true;
        thread_.join();
    }
    bool seen() const { return seen_; }
    Steady::time_point seenAt() const { return seenAt_; }
    std::set<std::string> names() const { return names_; }

private:
    void run() {
        PermanentConnection connection;
        WaitingPump pump;
        TNet net(connection, pump);
        while (!stop_ && !seen_) {
            const TransferResult result = net.download({url_, "", {}});
            const Steady::time_point answered = Steady::now();
            for (const std::string& name : audioNames(result.reply))
                if (!known_.count(name)) {
                    names_ = audioNames(result.reply);
                    seenAt_ = answered;
                    seen_ = true;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    std::string url_;
    std::set<std::string> known_;
    std::set<std::string> names_;
    Steady::time_point seenAt_;
    std::atomic<bool> stop_ = false;
    std::atomic<bool> seen_ = false;
    std::thread thread_;
};

struct Client {
    SilentPrompts prompts;
    bench::NoDesktop shell;
    PermanentConnection connection;
    QtMessagePump pump;
    SystemClock clock;
    CountedNotices notices;
    MainState state;
    std::unique_ptr<OnlinePane> midi, audio;
    std::unique_ptr<OnlineArrivals> arrivals;

    Client(const std::string& folder, const std::string& host, const std::string& user,
           const std::string& password) {
        const Seams seams{prompts, shell, connection, pump, clock};
        state.tempFolder = folder + "/";
        state.audioFolder = folder + "/";
        state.userID = user;
        state.password = password;
        state.service.host = host;
        state.net = std::make_unique<TNet>(connection, pump);
        midi = std::make_unique<OnlinePane>(kOnlineMidiPaneKind, state, seams);
        audio = std::make_unique<OnlinePane>(kOnlineAudioPaneKind, state, seams);
        arrivals = std::make_unique<OnlineArrivals>(*midi, *audio, state, notices,
                                                    [](const std::vector<std::string>&) {});
        arrivals->start();
    }

    bool lists(const std::set<std::string>& names) const {
        for (const FileRow& row : audio->model().rows())
            if (names.count(row.fileName))
                return true;
        return false;
    }
};

struct Piece {
    std::string path;
    double playTime = 0;
    std::vector<double> delays, renders;
};

std::string upload(Client& client, const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    return client.state.net
        ->upload({serviceScriptUrl(client.state.service.host),
                  path,
                  kUploadFilePart,
                  name,
                  uploadFormFields(client.state.userID, client.state.password, "MP3,128,44100,C,2",
                                   name),
                  {}})
        .reply;
}

// One upload as the upload command makes it, then hands off until the pane lists its audio.
bool measure(Client& client, Piece& piece) {
    const std::string listUrl = serviceRequestUrl(client.state.service.host, client.state.userID,
                                                  client.state.password, kListAudioCommand);
    std::set<std::string> before;
    for (const FileRow& row : client.audio->model().rows())
        before.insert(row.fileName);
    Watcher watcher(listUrl, before);
    const Steady::time_point sent = Steady::now();
    const std::string reply = upload(client, piece.path);
    if (reply.rfind("!VAL", 0) != 0) {
        std::fprintf(stderr, "arrivaldelay: upload refused: %s\n", reply.c_str());
        return false;
    }
    client.midi->refresh(true);
    while (!watcher.seen() && secondsSince(sent) < 1800)
        serveEvents(50);
    if (!watcher.seen())
        return false;
    std::set<std::string> fresh;
    for (const std::string& name : watcher.names())
        if (!before.count(name))
            fresh.insert(name);
    while (!client.lists(fresh) && secondsSince(sent) < 1800)
        serveEvents(50);
    const Steady::time_point listed = Steady::now();
    piece.renders.push_back(std::chrono::duration<double>(watcher.seenAt() - sent).count());
    piece.delays.push_back(std::chrono::duration<double>(listed - watcher.seenAt()).count());
    // The schedule comes to rest before the next upload, as between a user's uploads.
    while (client.arrivals->schedule().running())
        serveEvents(50);
    return true;
}

void report(const Piece& piece) {
    std::vector<double> delays = piece.delays;
    std::sort(delays.begin(), delays.end());
    std::vector<double> renders = piece.renders;
    std::sort(renders.begin(), renders.end());
    std::printf("%-28s %6.1f s of music, %2zu runs: upload to render's end %5.1f s (median); "
                "listed after the "
                "render's end: median %.2f s, worst %.2f s, best %.2f s\n",
                std::filesystem::path(piece.path).filename().c_str(), piece.playTime, delays.size(),
                renders[renders.size() / 2], delays[delays.size() / 2], delays.back(),
                delays.front());
    std::fflush(stdout);
}

// 480 ticks a quarter at 120 beats a minute: 960 ticks a second; eight notes a second.
bool writePiece(double seconds, const std::string& path) {
    using namespace test;
    const int arpeggio[] = {0x3C, 0x40, 0x43, 0x48, 0x43, 0x40};
    std::string track = bytes({0x00, 0xC0, 0x00, 0x00, 0xC1, 0x20, 0x00, 0x91, 0x24, 0x50});
    const int notes = static_cast<int>(seconds * 8);
    for (int i = 0; i < notes; ++i) {
        const int key = arpeggio[i % 6];
        track += bytes({0x00, 0x90, key, 0x60, 0x78, 0x80, key, 0x00}); // 120 ticks on
    }
    track += bytes({0x00, 0x81, 0x24, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    std::ofstream out(path, std::ios::binary);
    out << header(0, 1, 480) << trackChunk(track);
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--make-piece")
        return writePiece(std::atof(argv[2]), argv[3]) ? 0 : 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int runs = 10;
    std::string service;
    std::vector<Piece> pieces;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (service.empty())
            service = word;
        else
            pieces.push_back({word, 0, {}, {}});
    }
    if (service.empty() || pieces.empty()) {
        std::fprintf(stderr, "usage: arrivaldelay SERVICE_BINARY [--runs N] MIDI...\n");
        return 2;
    }
    for (Piece& piece : pieces) {
        TMidiFile midi;
        std::string message;
        if (loadMidiFile(piece.path, false, midi, message))
            piece.playTime = midiPlayTime(midi, message).value_or(0);
    }

    const auto work = std::filesystem::temp_directory_path() /
                      ("tonvert-arrivaldelay-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work / "client");
    const int port = 20000 + ::getpid() % 20000;
    const std::string host = "tonvert.localhost:" + std::to_string(port);
    test::ChildProcess server({service, "--listen", "127.0.0.1:" + std::to_string(port), "--data",
                               (work / "service").string(), "--workers", "1", "--starting-balance",
                               "1000000", "--max-queued-minutes", "600"},
                              {true});
    std::string password;
    for (int attempt = 0; attempt < 100 && password.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        password =
            test::makeAccountOn(host, (work / "service" / "outbox").string(), "bench@example.org");
    }
    if (password.empty()) {
        std::fprintf(stderr, "arrivaldelay: no account on the service at %s\n", host.c_str());
        return 1;
    }
    Client client((work / "client").string(), host, "bench@example.org", password);
    std::printf("automatic refresh against %s, %d runs a piece\n", service.c_str(), runs);
    for (Piece& piece : pieces) {
        for (int run = 0; run < runs; ++run)
            if (!measure(client, piece))
                return 1;
        report(piece);
    }
    std::printf("notices shown: %d\n", client.notices.count);
    std::filesystem::remove_all(work);
    return 0;
}
