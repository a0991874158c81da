#pragma once

#include <httplib.h>
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

// A port on loopback that nothing listens on.
int unusedPort();

} // namespace tonvert::test
