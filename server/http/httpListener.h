#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <httplib.h>
#include <memory>
#include <string>

namespace tonvert::service {

// The threads that run requests unless told: as many as the HTTP library would take, one fewer
// than the cores and at least 8.
unsigned defaultHttpThreads();

// One request answered, as the access log and the metrics see it.
struct ServedRequest {
    const httplib::Request& request;
    const httplib::Response& response;
    std::uint64_t bodyBytes = 0; // the reply's body
    // From the request whole in hand (waiting for a thread included) to its reply written.
    std::chrono::microseconds duration{0};
};

// How the service's connections are held. Waiting for a request (its first byte, its request
// line and headers, its body) takes no thread: one thread watches every such connection. A
// request whose head and body are whole goes to one of `threads`, which runs its handler and
// writes its reply; so a client that sends slowly holds no thread.
struct HttpOptions {
    unsigned threads = defaultHttpThreads();
    // From a new connection, or a request's first byte, to the blank line after its headers.
    std::chrono::milliseconds headerDeadline{10'000};
    // For a request's whole body, from the end of its headers.
    std::chrono::milliseconds bodyDeadline{120'000};
    // A kept-alive connection waiting for its next request.
    std::chrono::milliseconds keepAlive{5'000};
    // A reply's write that makes no progress.
    std::chrono::milliseconds writeTimeout{5'000};
    unsigned requestsPerConnection = 100;
    // A request line and headers longer than this are answered 431 and the connection closed.
    std::size_t maxHeaderBytes = 64 << 10;
    // Where bodies too large to wait in memory wait; the system's temporary folder when empty.
    std::string scratchFolder;
    // Told of every request answered, on the thread that answered it.
    std::function<void(const ServedRequest&)> served;
};

// For the routes' handlers, about the request that the calling thread serves.
// The connection ends after this reply, whatever else the client has sent on it.
void closeConnectionAfterReply();

// The service's HTTP server: its routes are those of `routes()`, a cpp-httplib server that never
// listens itself; this class accepts the connections, gathers each request's head and body,
// keeps the deadlines and hands whole requests to the library. A body comes with its length
// (a transfer coding is answered 411); one announced over the routes' payload limit is left
// for the routes to answer unread, then read and dropped.
class HttpListener {
public:
    explicit HttpListener(HttpOptions options = {});
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Where the routes go, before run(). Its own listen() must not be called.
    httplib::Server& routes();
    // Binds the listening socket on HOST:PORT (0: a port the system picks); gives the port, or
    // -1 when it cannot.
    int bind(const std::string& host, int port);
    // Serves on a socket another listener bound (a copy of its descriptor, which this one
    // closes): a process hands its address over without refusing a connection meanwhile.
    bool adopt(int listening);
    // The bound socket, or -1.
    int listeningSocket() const;
    // Serves until stop(); false when nothing is bound or the loop cannot start.
    bool run();
    // Ends run() and every connection. Safe from any thread and from a signal handler.
    void stop();
    bool running() const { return running_; }

    struct State;

private:
    std::unique_ptr<State> state_;
    std::atomic<bool> running_ = false;
};

} // namespace tonvert::service
