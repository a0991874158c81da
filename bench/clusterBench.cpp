// clusterbench SERVICE_BINARY WORKER_BINARY [--files N] [--play-seconds P] [--seconds S]
//               [--connections C]
//     Render throughput against the number of render workers (1, 2) on one batch of MIDI
//     files (N = 24 files of chords playing P = 30 s each), for the SQLite store (one service with
//     1 or 2 worker threads) and for the PostgreSQL store (a front that only answers requests
//     beside 1 or 2 tonvert-render-worker processes): jobs per minute, and the ratio from 1 to 2
//     workers. Then "listaudio" of an account with the batch's audio files under C connections
//     (100) through one front and through two. The PostgreSQL server is one of the benchmark's own,
//     on loopback, started as the tests start theirs (without fsync). Figures are printed.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <httplib.h>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
#include "childProcess.h"
#include "netMessages.h"
#include "pgServer.h"
#include "protocol/passwords.h"
#include "rawConnection.h"
#include "store/store.h"

namespace {

using namespace std::chrono_literals;
using tonvert::bench::Stopwatch;

const char* const kUser = "bench@example.org";
const char* const kPassword = "bench password";

struct Options {
    std::string service;
    std::string worker;
    int files = 24;
    int seconds = 10;
    int connections = 100;
    int playSeconds = 30; // of each MIDI file
};

void makeAccount(tonvert::service::Store& store) {
    const auto id = store.addAccount({kUser, tonvert::service::hashPassword(kPassword), 1000000});
    if (!id || !store.confirmAccount({*id, store.accountById(*id)->passwordHash}))
        throw std::runtime_error("cannot make the benchmark's account");
}

void awaitListening(int port) {
    for (int i = 0; i < 1000 && !tonvert::test::RawConnection(port).connected(); ++i)
        std::this_thread::sleep_for(10ms);
}

std::string command(int port, const std::string& name) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    const auto reply =
        client.Get(std::string("/cgi-bin/wmn.pl?LNG=us&VER=1.0&UID=") + tonvert::urlEncode(kUser) +
                   "&PWD=" + tonvert::urlEncode(kPassword) + "&CMD=" + name);
    return reply ? reply->body : "";
}

// Uploads the batch through the front and waits until every job is rendered: jobs a minute.
double renderBatch(int port, const std::vector<std::string>& midi) {
    const auto started = Stopwatch::now();
    httplib::Client client("127.0.0.1", port);
    for (std::size_t i = 0; i < midi.size(); ++i) {
        const std::string name = "File" + std::to_string(i) + ".mid";
        const httplib::MultipartFormDataItems form = {
            {"UID", kUser, "", ""},        {"PWD", kPassword, "", ""},
            {"LNG", "us", "", ""},         {"VER", "1.0", "", ""},
            {"CMD", "submitmidi", "", ""}, {"PRM", "MP3,128,44100,C,2", "", ""},
            {"FNM", name, "", ""},         {"BIN", midi[i], name, "audio/midi"}};
        const auto reply = client.Post("/cgi-bin/wmn.pl", form);
        if (!reply || reply->body.rfind("!VAL", 0) != 0)
            throw std::runtime_error("upload failed: " + (reply ? reply->body : "no reply"));
    }
    while (command(port, "listmidi").rfind("!VAL 0\r\n", 0) != 0)
        std::this_thread::sleep_for(50ms);
    const double seconds = std::chrono::duration<double>(Stopwatch::now() - started).count();
    const std::string list = command(port, "listaudio");
    if (list.find("\t" + std::to_string(midi.size()) + "\r\n") == std::string::npos)
        throw std::runtime_error("not every file was rendered: " + list.substr(0, 40));
    return static_cast<double>(midi.size()) * 60.0 / seconds;
}

// wrk on "listaudio" against each port at once, the connections shared out: requests a
// second, all together.
double listLoad(const std::vector<int>& ports, const Options& options) {
    std::vector<std::FILE*> runs;
    for (const int port : ports) {
        const std::string url = "http://127.0.0.1:" + std::to_string(port) +
                                "/cgi-bin/wmn.pl?LNG=us&VER=1.0&UID=" + tonvert::urlEncode(kUser) +
                                "&PWD=" + tonvert::urlEncode(kPassword) + "&CMD=listaudio";
        const std::string line = "wrk -t1 -c" + std::to_string(options.connections / ports.size()) +
                                 " -d" + std::to_string(options.seconds) + "s '" + url + "' 2>&1";
        runs.push_back(::popen(line.c_str(), "r"));
    }
    double total = 0;
    const std::regex rate(R"(Requests/sec:\s+([0-9.]+))");
    for (std::FILE* run : runs) {
        std::string output;
        char buffer[512];
        while (run != nullptr && std::fgets(buffer, sizeof buffer, run) != nullptr)
            output += buffer;
        if (run != nullptr)
            ::pclose(run);
        std::smatch found;
        if (std::regex_search(output, found, rate))
            total += std::stod(found[1]);
        else
            std::cerr << "wrk said: " << output << "\n";
    }
    return total;
}

bool parse(int argc, char** argv, Options& options) {
    if (argc < 3)
        return false;
    options.service = argv[1];
    options.worker = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string word = argv[i];
        if (word == "--files")
            options.files = std::stoi(argv[i + 1]);
        else if (word == "--seconds")
            options.seconds = std::stoi(argv[i + 1]);
        else if (word == "--play-seconds")
            options.playSeconds = std::stoi(argv[i + 1]);
        else if (word == "--connections")
            options.connections = std::stoi(argv[i + 1]);
        else
            return false;
    }
    return (argc - 3) % 2 == 0 && options.files > 0 && options.connections > 1;
}

// A Standard MIDI File of chords on a piano, a quarter of a second each, playing for so many
// seconds: long enough that rendering, not the requests around it, takes the time.
std::string chordFile(int seconds, int transpose) {
    std::string track = {0x00, static_cast<char>(0xc0), 0x00};
    for (int step = 0; step < seconds * 4; ++step) {
        const int root = 48 + transpose + (step * 5) % 24;
        for (const int note : {root, root + 4, root + 7}) {
            track += {0x00, static_cast<char>(0x90), static_cast<char>(note), 0x50};
        }
        for (int i = 0; i < 3; ++i) {
            const int note = root + (i == 0 ? 0 : i == 1 ? 4 : 7);
            track += {static_cast<char>(i == 0 ? 0x30 : 0x00), static_cast<char>(0x80),
                      static_cast<char>(note), 0x00};
        }
    }
    track += {0x00, static_cast<char>(0xff), 0x2f, 0x00};
    const auto size = static_cast<std::uint32_t>(track.size());
    std::string file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
    for (int shift = 24; shift >= 0; shift -= 8)
        file += static_cast<char>((size >> shift) & 0xff);
    return file + track;
}

std::vector<std::string> batch(int files, int seconds) {
    std::vector<std::string> midi;
    for (int i = 0; i < files; ++i)
        midi.push_back(chordFile(seconds, i % 12));
    return midi;
}

std::vector<std::string> frontWords(const Options& options, int port, const std::string& data,
                                    const std::string& store) {
    std::vector<std::string> words = {options.service,
                                      "--listen",
                                      "127.0.0.1:" + std::to_string(port),
                                      "--data",
                                      data,
                                      "--max-midi-files",
                                      "100000",
                                      "--max-queued-minutes",
                                      "100000"};
    if (!store.empty())
        words.insert(words.end(), {"--store", store, "--no-render"});
    return words;
}

// The SQLite store: one service, its workers threads of its own.
void sqliteRuns(const Options& options, const std::vector<std::string>& midi,
                const std::string& folder) {
    double rates[2] = {};
    for (int workers = 1; workers <= 2; ++workers) {
        const std::string data = folder + "/sqlite" + std::to_string(workers);
        makeAccount(*tonvert::service::openStore("", data));
        const int port = tonvert::test::freePort();
        auto words = frontWords(options, port, data, "");
        words.insert(words.end(), {"--workers", std::to_string(workers)});
        tonvert::test::ChildProcess service(words, {.quietErrors = true});
        awaitListening(port);
        rates[workers - 1] = renderBatch(port, midi);
        std::printf("   SQLite, %d worker thread(s): %.1f jobs/min\n", workers, rates[workers - 1]);
        if (workers == 2)
            std::printf("   SQLite, listaudio through 1 service: %.0f requests/s\n",
                        listLoad({port}, options));
    }
    std::printf("   SQLite scaling 1 -> 2 workers: %.2fx\n", rates[1] / rates[0]);
}

// The PostgreSQL store: fronts that only answer requests, workers processes of their own.
void postgresRuns(const Options& options, const std::vector<std::string>& midi,
                  const std::string& folder) {
    std::string why;
    tonvert::test::PgServer* server = tonvert::test::PgServer::shared(why);
    if (server == nullptr) {
        std::printf("   PostgreSQL skipped: %s\n", why.c_str());
        return;
    }
    double rates[2] = {};
    for (int workers = 1; workers <= 2; ++workers) {
        const std::string url = server->newDatabase();
        const std::string data = folder + "/pg" + std::to_string(workers);
        makeAccount(*tonvert::service::openStore(url, data + "/setup"));
        const int port = tonvert::test::freePort();
        tonvert::test::ChildProcess front(frontWords(options, port, data + "/front0", url),
                                          {.quietErrors = true});
        std::vector<std::unique_ptr<tonvert::test::ChildProcess>> renderers;
        for (int w = 0; w < workers; ++w)
            renderers.push_back(std::make_unique<tonvert::test::ChildProcess>(
                std::vector<std::string>{options.worker, "--store", url, "--workers", "1", "--data",
                                         data + "/worker" + std::to_string(w)},
                tonvert::test::ChildProcess::Options{.quietErrors = true}));
        awaitListening(port);
        rates[workers - 1] = renderBatch(port, midi);
        std::printf("   PostgreSQL, %d worker process(es): %.1f jobs/min\n", workers,
                    rates[workers - 1]);
        if (workers < 2)
            continue;
        renderers.clear(); // the fronts alone under the load
        const int second = tonvert::test::freePort();
        tonvert::test::ChildProcess other(frontWords(options, second, data + "/front1", url),
                                          {.quietErrors = true});
        awaitListening(second);
        command(second, "listaudio"); // its first login hashes the password anew
        std::printf("   PostgreSQL, listaudio through 1 front: %.0f requests/s\n",
                    listLoad({port}, options));
        std::printf("   PostgreSQL, listaudio through 2 fronts: %.0f requests/s\n",
                    listLoad({port, second}, options));
    }
    std::printf("   PostgreSQL scaling 1 -> 2 workers: %.2fx\n", rates[1] / rates[0]);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!parse(argc, argv, options))
            throw std::invalid_argument("usage");
    } catch (const std::exception&) {
        std::cerr << "usage: clusterbench SERVICE_BINARY WORKER_BINARY [--files N] "
                     "[--play-seconds P] [--seconds S] [--connections C]\n";
        return 2;
    }
    char pattern[] = "/tmp/tonvert-clusterbench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string folder = pattern;
    const auto midi = batch(options.files, options.playSeconds);
    std::printf("== %d MIDI files of %d s, rendered as MP3; %u cores\n", options.files,
                options.playSeconds, std::thread::hardware_concurrency());
    try {
        sqliteRuns(options, midi, folder);
        postgresRuns(options, midi, folder);
    } catch (const std::exception& failure) {
        std::cerr << "clusterbench: " << failure.what() << "\n";
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
