// transfer get URL [TARGET_FILE] [options]
// transfer post URL FILE NAME=VALUE... [options]
//     Runs one transfer through the program's connection object and prints "ok" or "failed",
//     then the reply (or the failure text). Options: --proxy HOST:PORT, --bypass LIST,
//     --timeout MS, --detailed. Exits 0 either way.
// transfer --bench [--get-mb N] [--post-mb N] [--runs N]
//     On loopback, side by side: a download into a file and a multipart upload through the
//     connection object and through the curl command line; then the CPU the owner spends
//     while a transfer waits on a slow server.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "netUnit.h"

using namespace tonvert;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    std::string proxy;
    std::string bypass;
    int timeout = 0;
    bool detailed = false;
    std::vector<std::string> words;
};

Options parseOptions(int argc, char** argv, int from) {
    Options options;
    for (int i = from; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--proxy" && hasValue)
            options.proxy = argv[++i];
        else if (word == "--bypass" && hasValue)
            options.bypass = argv[++i];
        else if (word == "--timeout" && hasValue)
            options.timeout = std::atoi(argv[++i]);
        else if (word == "--detailed")
            options.detailed = true;
        else
            options.words.push_back(word);
    }
    return options;
}

void configure(TNet& net, const Options& options) {
    const auto colon = options.proxy.rfind(':');
    if (colon != std::string::npos) {
        net.proxyServer = options.proxy.substr(0, colon);
        net.proxyPort = static_cast<std::uint16_t>(std::atoi(options.proxy.c_str() + colon + 1));
    }
    net.proxyBypass = options.bypass;
    net.timeout = options.timeout;
}

int runOne(const std::string& verb, const Options& options) {
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    configure(net, options);
    TransferOptions how;
    how.detailed = options.detailed;
    TransferResult result;
    const auto& w = options.words;
    if (verb == "get" && !w.empty()) {
        result = net.download({w[0], w.size() > 1 ? w[1] : "", how});
    } else if (verb == "post" && w.size() >= 2) {
        const std::vector<std::string> fields(w.begin() + 2, w.end());
        result = net.upload(
            {w[0], w[1], "BIN", std::filesystem::path(w[1]).filename().string(), fields, how});
    } else {
        std::cerr << "usage: transfer get URL [TARGET_FILE] | transfer post URL FILE NAME=VALUE..."
                     " [--proxy HOST:PORT] [--bypass LIST] [--timeout MS] [--detailed]\n"
                     "       transfer --bench [--get-mb N] [--post-mb N] [--runs N]\n";
        return 2;
    }
    std::cout << (result.ok ? "ok" : "failed") << "\n"
              << (result.ok ? result.reply : result.message) << "\n";
    return 0;
}

// Takes any request, reads its body to the end and answers "!VAL 1": the upload's far side.
class SinkServer {
public:
    SinkServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (::pipe(stop_) != 0)
            std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    ~SinkServer() {
        [[maybe_unused]] auto n = ::write(stop_[1], "x", 1);
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    void serve() {
        std::vector<char> buffer(1 << 18);
        for (;;) {
            pollfd watched[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0 || (watched[1].revents & POLLIN))
                return;
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            std::string head;
            std::size_t bodyLeft = 0;
            bool inBody = false;
            for (;;) {
                const ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    break;
                std::size_t used = static_cast<std::size_t>(n);
                if (!inBody) {
                    head.append(buffer.data(), used);
                    const auto end = head.find("\r\n\r\n");
                    if (end == std::string::npos)
                        continue;
                    const auto at = head.find("Content-Length: ");
                    const std::size_t total =
                        at == std::string::npos ? 0 : std::stoull(head.substr(at + 16));
                    const std::size_t already = head.size() - end - 4;
                    bodyLeft = total - std::min(total, already);
                    inBody = true;
                } else {
                    bodyLeft -= std::min(bodyLeft, used);
                }
                if (inBody && bodyLeft == 0)
                    break;
            }
            const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\n!VAL 1";
            ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

void writeFile(const std::string& path, std::size_t megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + (i >> 11));
    for (std::size_t m = 0; m < megabytes; ++m)
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <typename Run> double medianSeconds(int runs, Run&& run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto started = Clock::now();
        if (!run()) {
            std::cerr << "a transfer failed\n";
            std::exit(1);
        }
        times.push_back(seconds(Clock::now() - started));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int runBench(const Options& options) {
    std::size_t getMb = 256, postMb = 64;
    int runs = 5;
    for (std::size_t i = 0; i + 1 < options.words.size(); ++i) {
        if (options.words[i] == "--get-mb")
            getMb = std::stoul(options.words[i + 1]);
        if (options.words[i] == "--post-mb")
            postMb = std::stoul(options.words[i + 1]);
        if (options.words[i] == "--runs")
            runs = std::stoi(options.words[i + 1]);
    }
    const auto folder =
        std::filesystem::temp_directory_path() / ("tonvert-transfer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "served");
    const std::string served = (folder / "served" / "big.bin").string();
    const std::string upload = (folder / "upload.mid").string();
    const std::string target = (folder / "got.bin").string();
    writeFile(served, getMb);
    writeFile(upload, postMb);

    httplib::Server files;
    files.set_mount_point("/", (folder / "served").string());
    files.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        res.set_content("!VAL 0", "text/plain");
    });
    const int filePort = files.bind_to_any_port("127.0.0.1");
    std::thread fileThread([&] { files.listen_after_bind(); });
    while (!files.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SinkServer sink;

    const std::string getUrl = "http://bench.localhost:" + std::to_string(filePort) + "/big.bin";
    const std::string postUrl =
        "http://bench.localhost:" + std::to_string(sink.port()) + "/cgi-bin/wmn.pl";
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    const DownloadRequest get{getUrl, target, {}};
    const UploadRequest post{
        postUrl, upload, "BIN", "upload.mid", {"VER=1.0", "UID=bench@example.org"}, {}};

    const auto curl = [](const std::string& arguments) {
        return std::system(("curl -s -S " + arguments + " > /dev/null").c_str()) == 0;
    };
    std::vector<double> tonvertGet, curlGet, tonvertPost, curlPost;
    for (int r = 0; r < runs; ++r) {
        tonvertGet.push_back(medianSeconds(1, [&] { return net.download(get).ok; }));
        curlGet.push_back(medianSeconds(1, [&] { return curl("-o " + target + " " + getUrl); }));
        tonvertPost.push_back(medianSeconds(1, [&] { return net.upload(post).ok; }));
        curlPost.push_back(medianSeconds(1, [&] {
            // No "Expect: 100-continue": the sink, like the service, does not answer it.
            return curl("-H Expect: -F VER=1.0 -F UID=bench@example.org -F BIN=@" + upload + " " +
                        postUrl);
        }));
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double tg = median(tonvertGet), cg = median(curlGet);
    const double tp = median(tonvertPost), cp = median(curlPost);
    std::printf("get  %zu MB into a file:  tonvert %.3f s (%.0f MB/s)   curl %.3f s (%.0f MB/s)   "
                "throughput ratio %.2f\n",
                getMb, tg, double(getMb) / tg, cg, double(getMb) / cg, cg / tg);
    std::printf("post %zu MB multipart:    tonvert %.3f s (%.0f MB/s)   curl %.3f s (%.0f MB/s)   "
                "throughput ratio %.2f\n",
                postMb, tp, double(postMb) / tp, cp, double(postMb) / cp, cp / tp);

    // The owner waits on a server that answers after five seconds.
    const double cpuBefore = cpuSeconds();
    const auto started = Clock::now();
    net.download({"http://bench.localhost:" + std::to_string(filePort) + "/slow", "", {}});
    const double wall = seconds(Clock::now() - started);
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("waiting %.2f s on a slow server: process CPU %.1f ms (%.2f%% of the wall time)\n",
                wall, cpu * 1000, 100 * cpu / wall);

    files.stop();
    fileThread.join();
    std::filesystem::remove_all(folder);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return runOne("", {});
    const std::string verb = argv[1];
    const Options options = parseOptions(argc, argv, 2);
    if (verb == "--bench")
        return runBench(options);
    return runOne(verb, options);
}
