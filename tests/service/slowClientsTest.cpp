// Clients that send slowly, too much or nonsense, over real sockets on loopback: none of them
// keeps the service from answering others.

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "midiBytes.h"
#include "rawConnection.h"
#include "serviceFixture.h"

namespace tonvert {
namespace {

using namespace std::chrono_literals;
using test::RawConnection;
using test::Tricklers;
using Clock = std::chrono::steady_clock;

class SlowClientsTest : public test::ServiceFixture {
protected:
    void SetUp() override {}

    // A plain request by a client that waits 10 s at most for it.
    bool answers(const std::string& path = "/") {
        httplib::Client client("127.0.0.1", loopback->port());
        client.set_connection_timeout(10s);
        client.set_read_timeout(10s);
        const auto result = client.Get(path.c_str());
        return result && result->status == 200;
    }
    int port() const { return loopback->port(); }
};

TEST_F(SlowClientsTest, SlowHeadsHoldNoThread) {
    http.threads = 2;
    http.headerDeadline = 60s;
    start();
    // Twenty clients each send their headers a byte at a time and never finish them.
    Tricklers slow(port(), 20, "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ", 200ms);
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(answers()) << "request " << i << " while the slow heads are held";
    EXPECT_TRUE(answers("/cgi-bin/wmn.pl?LNG=us&VER=1.0&UID=a@example.org&CMD=viewprices"));
    EXPECT_EQ(slow.closed(), 0) << "the slow heads are still held, within their deadline";
}

TEST_F(SlowClientsTest, SlowBodiesHoldNoThread) {
    http.threads = 2;
    http.bodyDeadline = 60s;
    start();
    const std::string user = "bea@example.org";
    const std::string password = account(user);
    // Both ends of each connection are this process's: as many as its descriptors allow.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
    const int count = static_cast<int>(std::min<rlim_t>(1000, (files.rlim_cur - 200) / 2));
    Tricklers slow(port(), count,
                   "POST /addfunds.html HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\n\r\nuid=",
                   200ms);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(answers()) << "while " << count << " slow bodies are held";

    // An upload whose body trickles in, and ends, once told to go on (and told once): it
    // arrives whole, past what waits in memory.
    std::string tag;
    for (int i = 0; tag.size() < 300'000; ++i)
        tag += static_cast<char>(i % 251);
    const std::string file = test::taggedMidi(tag);
    std::string body;
    for (const std::string& field : uploadFormFields(user, password, "MP3,128,44100,C,2", "S.mid"))
        body += "--b\r\nContent-Disposition: form-data; name=\"" +
                field.substr(0, field.find('=')) + "\"\r\n\r\n" +
                field.substr(field.find('=') + 1) + "\r\n";
    body += "--b\r\nContent-Disposition: form-data; name=\"BIN\"; filename=\"S.mid\"\r\n\r\n" +
            file + "\r\n--b--\r\n";
    RawConnection upload(port());
    ASSERT_TRUE(upload.send("POST /cgi-bin/wmn.pl HTTP/1.1\r\nHost: x\r\nContent-Type: "
                            "multipart/form-data; boundary=b\r\nExpect: 100-continue\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n"));
    EXPECT_EQ(upload.read(10s, "\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    for (std::size_t at = 0; at < body.size(); at += 16'000) {
        ASSERT_TRUE(upload.send(body.substr(at, 16'000)));
        std::this_thread::sleep_for(20ms);
    }
    const std::string reply = upload.read(10s, "!VAL");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\n\r\n!VAL 1"), std::string::npos) << reply;
    const auto job = store->takeNextJob();
    ASSERT_TRUE(job);
    ASSERT_TRUE(store->fetchMidi(job->record, folder.file("fetched.mid")));
    EXPECT_TRUE(test::readBytes(folder.file("fetched.mid")) == file);
    EXPECT_EQ(slow.closed(), 0) << "the slow bodies are still held, within their deadline";
}

TEST_F(SlowClientsTest, DeadlinesAreForTheWholeHeadAndBodyAndForIdleConnections) {
    http.threads = 1;
    http.headerDeadline = 300ms;
    http.bodyDeadline = 300ms;
    http.keepAlive = 300ms;
    start();
    // A byte every 50 ms is never 300 ms without one, yet the head as a whole is late.
    Tricklers slowHead(port(), 3, "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ", 50ms);
    Tricklers slowBody(port(), 3,
                       "POST /addfunds.html HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n"
                       "Content-Type: application/x-www-form-urlencoded\r\n\r\nuid=",
                       50ms);
    RawConnection silent(port());
    RawConnection idle(port());
    ASSERT_TRUE(idle.send("GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_NE(idle.read(10s, "\r\n\r\n").find("200 OK"), std::string::npos);

    const auto until = Clock::now() + 10s;
    while (Clock::now() < until && (slowHead.closed() < 3 || slowBody.closed() < 3))
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(slowHead.closed(), 3) << "heads past their deadline";
    EXPECT_EQ(slowBody.closed(), 3) << "bodies past their deadline";
    silent.read(10s);
    EXPECT_TRUE(silent.closed) << "a connection that never sends";
    idle.read(10s);
    EXPECT_TRUE(idle.closed) << "a kept-alive connection with no next request";
    EXPECT_TRUE(answers());
}

TEST_F(SlowClientsTest, KeptAliveConnectionsHoldNoThreadBetweenRequests) {
    http.threads = 1;
    http.keepAlive = 60s;
    start();
    std::vector<std::unique_ptr<RawConnection>> kept;
    for (int i = 0; i < 4; ++i) {
        kept.push_back(std::make_unique<RawConnection>(port()));
        ASSERT_TRUE(kept.back()->send("GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_NE(kept.back()->read(10s, "\r\n\r\n").find("200 OK"), std::string::npos) << i;
    }
    EXPECT_TRUE(answers());
    // Two requests in one write are answered in turn on the same connection.
    ASSERT_TRUE(
        kept[0]->send("GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n"
                      "GET /upgrade.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const std::string both = kept[0]->read(10s);
    EXPECT_TRUE(kept[0]->closed);
    EXPECT_NE(both.find("text/css"), std::string::npos);
    EXPECT_NE(both.find("text/html"), std::string::npos);
}

TEST_F(SlowClientsTest, RequestLinesAreJudgedAtOnce) {
    http.headerDeadline = 60s;
    http.keepAlive = 60s;
    start();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"FOO / HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 501 "},
        {"BREW /pot", "HTTP/1.1 501 "}, // the rest of the line never comes
        {"GET / HTTP/9.9\r\nHost: x\r\n\r\n", "HTTP/1.1 400 "},
        {"GET /\r\n\r\n", "HTTP/1.1 400 "},
        {"GET / HTTP/1.1\r\n" + std::string(70000, 'x'), "HTTP/1.1 431 "},
        // Whole, but over the limit: sent at once it is refused as if it trickled in.
        {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n", "HTTP/1.1 431 "},
    };
    for (const auto& [request, answer] : cases) {
        RawConnection connection(port());
        ASSERT_TRUE(connection.send(request));
        const std::string reply = connection.read(10s);
        EXPECT_EQ(reply.rfind(answer, 0), 0u) << request.substr(0, 20) << ": " << reply;
        EXPECT_TRUE(connection.closed) << request.substr(0, 20);
    }
    EXPECT_TRUE(answers());
}

TEST_F(SlowClientsTest, BodiesOverTheLimit) {
    http.bodyDeadline = 60s;
    start();
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    // Through the client: a body over the limit, though not far over it, is read to its end,
    // and the answer shown.
    EXPECT_EQ(upload(user, password, "Big.mid", std::string(config.maxUploadBytes * 7 / 2, 'x')),
              "!ERR 1050");
    EXPECT_EQ(upload(user, password, "Small.mid", test::taggedMidi("")), "!VAL 1");

    const std::string post = "POST /cgi-bin/wmn.pl HTTP/1.1\r\nHost: x\r\n"
                             "Content-Type: multipart/form-data; boundary=b\r\n";
    // Announced far beyond the limit: refused before a byte of it is sent.
    RawConnection huge(port());
    ASSERT_TRUE(huge.send(post + "Content-Length: " + std::to_string(config.maxUploadBytes * 5) +
                          "\r\n\r\n"));
    std::string reply = huge.read(10s);
    EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\n\r\n!ERR 1050"), std::string::npos) << reply;
    EXPECT_TRUE(huge.closed);
    // Over the limit, and waiting to be told to go on: refused, never told.
    RawConnection asking(port());
    ASSERT_TRUE(asking.send(post + "Expect: 100-continue\r\nContent-Length: " +
                            std::to_string(config.maxUploadBytes * 2) + "\r\n\r\n"));
    reply = asking.read(10s);
    EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
    EXPECT_TRUE(asking.closed);

    // A body in chunks has no length to be held to: refused before a byte of it is read.
    RawConnection chunked(port());
    ASSERT_TRUE(chunked.send(post + "Transfer-Encoding: chunked\r\n\r\n"));
    ASSERT_TRUE(chunked.send("10000\r\n" + std::string(0x10000, 'x') + "\r\n"));
    reply = chunked.read(10s);
    EXPECT_EQ(reply.rfind("HTTP/1.1 411 ", 0), 0u) << reply;
    EXPECT_TRUE(chunked.closed);

    EXPECT_EQ(command(user, password, "listmidi").rfind("!VAL 1\r\n", 0), 0u);
}

} // namespace
} // namespace tonvert
