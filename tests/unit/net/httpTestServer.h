#pragma once

#include <atomic>
#include <httplib.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tonvert::test {

// An HTTP server on loopback in the test's own process, on a port the system picks. Routes
// are added to `server` before `start`; the server stops when the object goes away.
class HttpTestServer {
public:
    HttpTestServer() = default;
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    void start();
    int port() const { return port_; }
    // The address of `path` under a host name of its own below ".localhost".
    std::string url(const std::string& path, const std::string& host = "test.localhost") const;

    httplib::Server server;

private:
    int port_ = 0;
    std::thread thread_;
};

// A bare HTTP server on loopback that keeps each request byte for byte: the request line and
// headers as sent, and the body as counted by its Content-Length. It answers every request
// with `status` and `reply`.
class RawHttpServer {
public:
    struct Request {
        std::string head; // request line and headers, up to the empty line
        std::string body;
        std::optional<std::string> findHeader(const std::string& name) const;
        std::string header(const std::string& name) const { return findHeader(name).value_or(""); }
        bool hasHeader(const std::string& name) const { return findHeader(name).has_value(); }
    };

    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path, const std::string& host = "raw.localhost") const;
    Request lastRequest();

    // How the server ends a request: with its answer; with an answer that promises more body
    // than it sends; by hanging up once 64 KiB of the body are in; by closing after the whole
    // request without a word.
    enum class Ending { answer, shortBody, closeMidBody, closeWithoutAnswer };

    std::atomic<int> status{200};
    std::atomic<Ending> ending{Ending::answer};
    std::atomic<int> thinkMs{0}; // how long it waits, the request read, before it answers
    std::string reply = "!VAL 1";

private:
    void serve();
    void handle(int connection);

    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    Request last_;
    std::thread thread_;
};

// A port on loopback whose connections are made (the system completes them in the queue) but
// never taken in: nothing of a request is read and no answer comes. A small receive buffer
// makes a sender stall soon.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::string url(const std::string& path, const std::string& host = "mute.localhost") const;

private:
    int listener_ = -1;
    int port_ = 0;
};

// A port on loopback that nothing listens on.
int unusedPort();

} // namespace tonvert::test
