// metricscall [--calls N]
//     What counting one request costs the thread that served it: ServiceMetrics::requestServed
//     on a "viewfunds" request as the listener hands it over, N times (2,000,000) on one
//     thread and then split over two threads side by side (their locks contended), three
//     rounds each. Prints nanoseconds a call; hold them against the service CPU a request
//     takes (bench/metricsCost.sh prints it).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <httplib.h>
#include <thread>
#include <vector>

#include "metrics/serviceMetrics.h"

using namespace tonvert::service;

int main(int argc, char** argv) {
    long calls = 2'000'000;
    if (argc == 3 && std::strcmp(argv[1], "--calls") == 0)
        calls = std::max(2L, std::atol(argv[2]));
    ServiceMetrics metrics;
    httplib::Request request;
    request.method = "GET";
    request.path = "/cgi-bin/wmn.pl";
    for (const auto& [name, value] : {std::pair{"LNG", "us"},
                                      {"VER", "1.0"},
                                      {"UID", "load@example.org"},
                                      {"PWD", "abcdefghij"},
                                      {"CMD", "viewfunds"}})
        request.params.emplace(name, value);
    httplib::Response response;
    response.status = 200;
    response.body = "!VAL 5.00";
    const ServedRequest served{request, response, 9, std::chrono::microseconds(70)};
    for (const unsigned threads : {1u, 2u})
        for (int round = 0; round < 3; ++round) {
            const auto start = std::chrono::steady_clock::now();
            std::vector<std::thread> running;
            for (unsigned t = 0; t < threads; ++t)
                running.emplace_back([&] {
                    for (long i = 0; i < calls / threads; ++i)
                        metrics.requestServed(served);
                });
            for (std::thread& thread : running)
                thread.join();
            const std::chrono::duration<double, std::nano> took =
                std::chrono::steady_clock::now() - start;
            std::printf("%u thread%s: %.0f ns of wall time a call, %.0f ns of the threads' time\n",
                        threads, threads == 1 ? "" : "s", took.count() / static_cast<double>(calls),
                        took.count() * threads / static_cast<double>(calls));
        }
    return 0;
}
