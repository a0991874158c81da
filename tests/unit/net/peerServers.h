#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tonvert::test {

// A server program of the system started for a test, on a loopback port; it is stopped when
// the object goes away. `ready` tells whether it came up and accepts connections.
class PeerProcess {
public:
    PeerProcess(const std::vector<std::string>& command, int port);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    bool ready() const { return ready_; }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_;
    bool ready_ = false;
};

// tinyproxy on a free port, writing its configuration and log into `folder`.
struct TinyProxy {
    explicit TinyProxy(const std::string& folder);
    int port;
    PeerProcess process;
};

// An anonymous, read-only FTP server serving `folder`.
struct FtpServer {
    explicit FtpServer(const std::string& folder);
    int port;
    PeerProcess process;
};

} // namespace tonvert::test
