// The service behind nginx as deploy/nginx/tonvert.conf sets it up: nginx started by the test on
// loopback with a temporary prefix, as the current user, in front of the service in the test's
// process.

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "midiBytes.h"
#include "rawConnection.h"
#include "serviceFixture.h"

namespace tonvert {
namespace {

using namespace std::chrono_literals;
using test::freePort;
using test::RawConnection;
using test::Tricklers;

// The repository's server block, listening on `port` in front of the service on `servicePort`,
// in a whole configuration whose files all lie under `prefix`.
std::string nginxConfig(const std::string& prefix, int port, int servicePort) {
    std::ifstream file(TONVERT_NGINX_CONF);
    std::stringstream text;
    text << file.rdbuf();
    std::string block = text.str();
    block = std::regex_replace(block, std::regex("listen 80;"),
                               "listen 127.0.0.1:" + std::to_string(port) + ";");
    block = std::regex_replace(block, std::regex("127\\.0\\.0\\.1:8080"),
                               "127.0.0.1:" + std::to_string(servicePort));
    block = std::regex_replace(block, std::regex("/var/log/nginx/"), prefix);
    std::string config = "worker_processes 1;\npid " + prefix + "nginx.pid;\n";
    // A master started by root would hand its workers to another user, who could not reach
    // the temporary files.
    if (::geteuid() == 0)
        config += std::string("user ") + ::getpwuid(0)->pw_name + ";\n";
    config += "events { worker_connections 128; }\nhttp {\n    access_log off;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += std::string("    ") + kind + "_temp_path " + prefix + kind + ";\n";
    return config + block + "}\n";
}

class NginxFrontTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        // Two threads, and slow requests would take them both were nginx not in front.
        http.threads = 2;
        http.bodyDeadline = 60s;
        start();
        const std::string prefix = folder.file("nginx/");
        std::filesystem::create_directories(prefix);
        errorLog = prefix + "error.log";
        port = freePort();
        test::writeBytes(prefix + "nginx.conf", nginxConfig(prefix, port, loopback->port()));
        nginx = ::fork();
        if (nginx == 0) {
            ::execl(TONVERT_NGINX, TONVERT_NGINX, "-p", prefix.c_str(), "-c",
                    (prefix + "nginx.conf").c_str(), "-e", errorLog.c_str(), "-g", "daemon off;",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(nginx, 0);
        for (int i = 0; i < 500 && !RawConnection(port).connected(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(RawConnection(port).connected()) << test::readBytes(errorLog);
        front = "service.localhost:" + std::to_string(port);
    }
    void TearDown() override {
        if (nginx > 0) {
            ::kill(nginx, SIGTERM);
            ::waitpid(nginx, nullptr, 0);
        }
        stop();
    }

    pid_t nginx = -1;
    int port = 0;
    std::string front;
    std::string errorLog;
};

TEST_F(NginxFrontTest, RequestsAndUploadsPassAndSlowClientsStayWithNginx) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    host = front;
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");
    // Over the service's limit: nginx passes it whole, the service reads it and answers.
    EXPECT_EQ(upload(user, password, "Big.mid", std::string(6 << 20, 'x')), "!ERR 1050");
    // Far beyond it: nginx refuses it before the body, with the service's answer.
    RawConnection huge(port);
    ASSERT_TRUE(huge.send("POST /cgi-bin/wmn.pl HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                          std::to_string(20 << 20) + "\r\n\r\n"));
    const std::string refusal = huge.read(10s, "!ERR 1050");
    EXPECT_EQ(refusal.rfind("HTTP/1.1 413 ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("\r\n\r\n!ERR 1050"), std::string::npos) << refusal;

    // Five clients send their bodies a byte at a time: nginx holds them all, the service none.
    Tricklers slow(port, 5,
                   "POST /addfunds.html HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\n\r\nuid=",
                   200ms);
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(command(user, password, "listmidi").rfind("!VAL 1\r\n", 0), 0u) << i;
    httplib::Client browser("127.0.0.1", port);
    browser.set_read_timeout(10s);
    const auto home = browser.Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);
    EXPECT_EQ(slow.closed(), 0) << "nginx still holds the slow clients";
    slow.stop();
    EXPECT_EQ(test::readBytes(errorLog).find("[emerg]"), std::string::npos)
        << test::readBytes(errorLog);

    // The access log keeps each request's path, never its query and the password in it.
    const std::string accessLog = test::readBytes(folder.file("nginx/tonvert.access.log"));
    EXPECT_NE(accessLog.find("\"GET /cgi-bin/wmn.pl HTTP/1.1\" 200"), std::string::npos)
        << accessLog;
    EXPECT_EQ(accessLog.find(password), std::string::npos) << accessLog;
}

} // namespace
} // namespace tonvert
