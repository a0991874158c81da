// downloadbench [--mb N] [--runs N] [--phases]
//     One large audio file (200 MiB, 15 runs unless told) fetched on loopback through the download
//     dialog, off screen, from showing it to its closing, and by the curl command line from
//     the same URL, taking turns at going first. Prints the median time and throughput of each
//     and their ratio; --phases adds each run's time to the request, for the body and after it.

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <httplib.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
#include "clock.h"
#include "connectionState.h"
#include "downloadUnit.h"
#include "mainState.h"
#include "netUnit.h"
#include "noDesktop.h"
#include "prompts.h"
#include "qtMessagePump.h"
#include "serviceRequests.h"
#include "shell.h"

using namespace tonvert;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

using tonvert::bench::median;

namespace {

// A box during the benchmark means a failed run; it is printed and the run counted as failed.
class PrintedPrompts : public Prompts {
public:
    PromptAnswer show(PromptKind, const std::string&, const std::string& text,
                      PromptButtons) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        ++shown;
        return PromptAnswer::ok;
    }
    int shown = 0;
};

class StoppedClock : public tonvert::Clock {
public:
    double now() override { return 0; }
};

void writeFile(const std::string& path, std::size_t megabytes) {
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + (i >> 11));
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (std::size_t m = 0; m < megabytes; ++m)
        std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
}

double secondsSince(Steady::time_point started) {
    return std::chrono::duration<double>(Steady::now() - started).count();
}

} // namespace

int main(int argc, char** argv) {
    std::size_t megabytes = 200;
    int runs = 15;
    bool phases = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--phases")
            phases = true;
        else if (i + 1 == argc)
            break;
        else if (word == "--mb")
            megabytes = std::stoul(argv[++i]);
        else if (word == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const fs::path folder =
        fs::temp_directory_path() / ("tonvert-dlbench-" + std::to_string(::getpid()));
    fs::create_directories(folder / "served");
    fs::create_directories(folder / "audio");
    const std::string served = (folder / "served" / "big.mp3").string();
    writeFile(served, megabytes);
    const std::size_t size = fs::file_size(served);

    // The service's script, answering with the file from disk in large slices. It notes when
    // the request came and when the last byte went, in seconds since `origin`.
    const auto origin = Steady::now();
    std::atomic<double> requested{0}, sent{0};
    httplib::Server http;
    http.Get("/cgi-bin/wmn.pl", [&](const httplib::Request&, httplib::Response& res) {
        requested = secondsSince(origin);
        const int fd = ::open(served.c_str(), O_RDONLY | O_CLOEXEC);
        auto buffer = std::make_shared<std::vector<char>>(1 << 20);
        res.set_content_provider(
            size, "audio/mpeg",
            [fd, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
                const ssize_t n = ::pread(fd, buffer->data(), std::min(length, buffer->size()),
                                          static_cast<off_t>(offset));
                return n > 0 && sink.write(buffer->data(), static_cast<size_t>(n));
            },
            [fd, &sent, origin](bool) {
                sent = secondsSince(origin);
                ::close(fd);
            });
    });
    const int port = http.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { http.listen_after_bind(); });
    while (!http.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const ServiceAccount account{"bench.localhost:" + std::to_string(port), "bench@example.org",
                                 "secret"};

    PrintedPrompts prompts;
    bench::NoDesktop shell;
    PermanentConnection connection;
    QtMessagePump pump;
    StoppedClock clock;
    const Seams seams{prompts, shell, connection, pump, clock};
    MainState state;
    state.audioFolder = (folder / "audio").string() + "/";
    state.net = std::make_unique<TNet>(connection, pump);

    const std::string ours = state.audioFolder + "big.mp3";
    const std::string theirs = (folder / "curl.mp3").string();
    std::vector<double> oursTimes, curlTimes;
    const auto timed = [&](const char* who, std::vector<double>& times, auto&& run) {
        const auto started = Steady::now();
        const bool ok = run();
        times.push_back(secondsSince(started));
        if (phases) {
            const double begun = std::chrono::duration<double>(started - origin).count();
            std::printf("  %-6s to request %.4f s  body %.4f s  after %.4f s\n", who,
                        requested - begun, sent - requested, secondsSince(origin) - sent);
        }
        return ok;
    };
    const auto runOurs = [&] {
        fs::remove(ours);
        TdownloadForm form(nullptr, state, seams);
        form.setJob({account, {"big.mp3"}, state.audioFolder});
        return timed("dialog", oursTimes, [&] { return form.execute(); }) && prompts.shown == 0 &&
               fs::file_size(ours) == size;
    };
    const auto runCurl = [&] {
        fs::remove(theirs);
        const std::string command =
            "curl -s -o " + theirs + " '" + audioDownloadUrl(account, "big.mp3") + "'";
        return timed("curl", curlTimes, [&] { return std::system(command.c_str()) == 0; }) &&
               fs::file_size(theirs) == size;
    };
    bool failed = false;
    for (int r = 0; r < runs && !failed; ++r)
        failed = r % 2 == 0 ? !(runOurs() && runCurl()) : !(runCurl() && runOurs());

    http.stop();
    serving.join();
    fs::remove_all(folder);
    if (failed) {
        std::fprintf(stderr, "a download failed\n");
        return 1;
    }
    const double mib = double(size) / double(1 << 20);
    const double t = median(oursTimes), c = median(curlTimes);
    std::printf("download %.0f MiB on loopback, median of %d runs\n", mib, runs);
    std::printf("  download dialog  %.3f s  %7.1f MiB/s\n", t, mib / t);
    std::printf("  curl -s -o       %.3f s  %7.1f MiB/s\n", c, mib / c);
    std::printf("  throughput ratio (dialog / curl) %.3f\n", c / t);
    return 0;
}
