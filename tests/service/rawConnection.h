#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tonvert::test {

using Clock = std::chrono::steady_clock;

// A loopback port that was free a moment ago.
inline int freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

// A connection that sends what the test says, as slowly as it says.
class RawConnection {
public:
    explicit RawConnection(int port)
        : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        // A send into a connection the service no longer reads fails in time.
        const timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What arrives until the service ends the connection (then `closed`), `needle` has come,
    // or `within` has passed.
    std::string read(std::chrono::milliseconds within, const std::string& needle = "") {
        std::string reply;
        const auto until = Clock::now() + within;
        while (needle.empty() || reply.find(needle) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd watched{fd_, POLLIN, 0};
            if (left <= std::chrono::milliseconds(0) ||
                ::poll(&watched, 1, static_cast<int>(left.count())) <= 0)
                break;
            char chunk[4096];
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                closed = true;
                break;
            }
            reply.append(chunk, static_cast<std::size_t>(got));
        }
        return reply;
    }
    // Whether the service has closed the connection, without waiting; what it sent before is
    // dropped.
    bool closedByService() {
        char chunk[4096];
        ssize_t got = 0;
        while (!closed && (got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) {
        }
        closed = closed || got == 0 || (got < 0 && errno != EAGAIN);
        return closed;
    }

    bool closed = false;

private:
    int fd_;
    bool connected_ = false;
};

// Connections that each send a byte of their request at every turn, until stopped.
class Tricklers {
public:
    Tricklers(int port, int count, const std::string& head, std::chrono::milliseconds turn) {
        for (int i = 0; i < count; ++i) {
            connections_.push_back(std::make_unique<RawConnection>(port));
            connections_.back()->send(head);
        }
        thread_ = std::thread([this, turn] {
            while (!stopped_) {
                for (auto& connection : connections_)
                    connection->send("x");
                std::this_thread::sleep_for(turn);
            }
        });
    }
    ~Tricklers() { stop(); }
    void stop() {
        stopped_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // How many the service has closed so far.
    int closed() {
        int count = 0;
        for (auto& connection : connections_)
            count += connection->closedByService() ? 1 : 0;
        return count;
    }

private:
    std::vector<std::unique_ptr<RawConnection>> connections_;
    std::atomic<bool> stopped_ = false;
    std::thread thread_;
};

} // namespace tonvert::test
