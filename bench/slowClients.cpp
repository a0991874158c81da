// slowclients SERVICE_BINARY [--slow N] [--canaries M] [--http-threads T] [--bodies]
//     Starts the service binary on a free loopback port with a fresh data folder, holds N
//     connections (100 by default) that each send their request's headers one byte every 2 s
//     (with --bodies: whole headers announcing a 100000-byte body, then the body one byte every
//     2 s), and meanwhile times M plain requests for the home page (5 by default), one after
//     another, each given 15 s at most. Prints each latency, their median and the worst, then
//     ends the service and the connections. Nothing runs as a test; the figures are printed.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
#include "rawConnection.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The time a GET of the home page takes to its reply's first bytes, or -1 past `limit`.
double timeRequest(int port, std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    const int fd = connectTo(port);
    if (fd < 0)
        return -1;
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd watched{fd, POLLIN, 0};
    const bool answered = ::poll(&watched, 1, static_cast<int>(limit.count())) > 0;
    char chunk[64];
    const bool replied = answered && ::recv(fd, chunk, sizeof chunk, 0) > 0;
    ::close(fd);
    return replied ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: slowclients SERVICE_BINARY [--slow N] [--canaries M] "
                             "[--http-threads T] [--bodies]\n");
        return 2;
    }
    int slowCount = 100;
    int canaries = 5;
    std::string threads;
    bool bodies = false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--bodies")
            bodies = true;
        else if (word == "--slow" && hasValue)
            slowCount = std::atoi(argv[++i]);
        else if (word == "--canaries" && hasValue)
            canaries = std::atoi(argv[++i]);
        else if (word == "--http-threads" && hasValue)
            threads = argv[++i];
    }
    // One descriptor for each slow connection.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    const auto data =
        std::filesystem::temp_directory_path() / ("slowclients-" + std::to_string(::getpid()));
    const int port = tonvert::test::freePort();
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const pid_t service = ::fork();
    if (service == 0) {
        std::freopen("/dev/null", "w", stderr);
        std::vector<const char*> args{
            argv[1], "--listen", listen.c_str(), "--data", data.c_str(), "--workers", "1"};
        if (!threads.empty()) {
            args.push_back("--http-threads");
            args.push_back(threads.c_str());
        }
        args.push_back(nullptr);
        ::execv(argv[1], const_cast<char* const*>(args.data()));
        ::_exit(127);
    }
    for (int i = 0; i < 500 && timeRequest(port, 100ms) < 0; ++i)
        std::this_thread::sleep_for(10ms);
    std::printf("unloaded: %.2f ms\n", timeRequest(port, 15s));

    const std::string head =
        bodies ? "POST /addfunds.html HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\n\r\nuid="
               : "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    std::vector<int> slow;
    for (int i = 0; i < slowCount; ++i) {
        const int fd = connectTo(port);
        if (fd >= 0 && ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0)
            slow.push_back(fd);
    }
    std::atomic<bool> done = false;
    std::thread trickle([&slow, &done] {
        while (!done) {
            for (const int fd : slow)
                ::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            for (int i = 0; i < 20 && !done; ++i)
                std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(1s);
    std::printf("%zu connections each sending a byte of their %s every 2 s\n", slow.size(),
                bodies ? "body" : "headers");
    std::vector<double> latencies;
    for (int i = 0; i < canaries; ++i) {
        const double ms = timeRequest(port, 15s);
        if (ms < 0)
            std::printf("request %d: no answer in 15 s\n", i + 1);
        else
            std::printf("request %d: %.2f ms\n", i + 1, ms);
        latencies.push_back(ms < 0 ? 15000.0 : ms);
    }
    if (!latencies.empty())
        std::printf("median %.2f ms, worst %.2f ms (no answer counts as 15 s)\n",
                    tonvert::bench::median(latencies),
                    *std::max_element(latencies.begin(), latencies.end()));
    done = true;
    trickle.join();
    for (const int fd : slow)
        ::close(fd);
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    std::filesystem::remove_all(data);
    return 0;
}
