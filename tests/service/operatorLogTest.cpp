// The service's log lines: a time, a level and one line of event; an access line per request
// that never holds its query.

#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/accessLog.h"
#include "http/httpListener.h"
#include "log/log.h"

namespace tonvert {
namespace {

using namespace service;

TEST(OperatorLogTest, ALineIsTimeLevelAndOneLineOfEvent) {
    const auto time = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(1'796'717'815'042)); // 2026-12-08T08:16:55.042Z
    EXPECT_EQ(logText(time, LogLevel::info, "started"), "2026-12-08T08:16:55.042Z info started\n");
    EXPECT_EQ(logText(time, LogLevel::error, "refused\n\tIs it running?\n"),
              "2026-12-08T08:16:55.042Z error refused Is it running?\n");
    EXPECT_EQ(logText(time, LogLevel::warning, "a\x1b[2Jb"),
              "2026-12-08T08:16:55.042Z warning a\\x1b[2Jb\n");
}

TEST(OperatorLogTest, EveryRequestHasAnAccessLineWithoutItsQuery) {
    std::mutex mutex;
    std::vector<std::string> events;
    HttpOptions options;
    options.threads = 1;
    options.served = [&](const ServedRequest& served) {
        const std::lock_guard lock(mutex);
        events.push_back(accessEvent(served));
    };
    HttpListener listener(options);
    listener.routes().Get("/cgi-bin/wmn.pl", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("!VAL 4.80", "text/plain");
    });
    listener.routes().Post("/cgi-bin/wmn.pl", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("!VAL 1", "text/plain");
    });
    const int port = listener.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    std::thread serving([&] { listener.run(); });

    httplib::Client client("127.0.0.1", port);
    ASSERT_TRUE(client.Get("/cgi-bin/wmn.pl?UID=alice%20b&PWD=secret&CMD=viewfunds"));
    ASSERT_TRUE(
        client.Post("/cgi-bin/wmn.pl", httplib::MultipartFormDataItems{{"UID", "bob", "", ""},
                                                                       {"PWD", "hidden", "", ""}}));
    ASSERT_TRUE(client.Get("/no%0Asuch"));
    listener.stop();
    serving.join();

    ASSERT_EQ(events.size(), 3u);
    const std::string expected[] = {
        "access method=GET path=/cgi-bin/wmn.pl status=200 bytes=9 ms=",
        "access method=POST path=/cgi-bin/wmn.pl status=200 bytes=6 ms=",
        "access method=GET path=/no%0Asuch status=404 bytes=",
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].rfind(expected[i], 0), 0u) << events[i];
        for (const char* secret : {"secret", "hidden", "PWD", "?"})
            EXPECT_EQ(events[i].find(secret), std::string::npos) << events[i];
    }
    EXPECT_NE(events[0].find(" account=alice%20b"), std::string::npos) << events[0];
    EXPECT_NE(events[1].find(" account=bob"), std::string::npos) << events[1];
    EXPECT_NE(events[2].find(" account=-"), std::string::npos) << events[2];
}

} // namespace
} // namespace tonvert
