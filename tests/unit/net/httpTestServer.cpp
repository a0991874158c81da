#include "httpTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tonvert::test {

HttpTestServer::~HttpTestServer() {
    server.stop();
    if (thread_.joinable())
        thread_.join();
}

void HttpTestServer::start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("cannot bind a test server");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server.is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string HttpTestServer::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
}

namespace {

bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<std::string> RawHttpServer::Request::findHeader(const std::string& name) const {
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", at + 2);
        const std::string line = head.substr(at + 2, end - at - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && sameNoCase(line.substr(0, colon), name))
            return line.substr(line.find_first_not_of(' ', colon + 1) == std::string::npos
                                   ? line.size()
                                   : line.find_first_not_of(' ', colon + 1));
        at = end;
    }
    return std::nullopt;
}

RawHttpServer::RawHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 || ::pipe(stopPipe_) != 0)
        throw std::runtime_error("cannot start a raw test server");
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer() {
    [[maybe_unused]] const auto n = ::write(stopPipe_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::string RawHttpServer::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
}

RawHttpServer::Request RawHttpServer::lastRequest() {
    std::lock_guard lock(mutex_);
    return last_;
}

void RawHttpServer::serve() {
    for (;;) {
        pollfd watched[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 || (watched[1].revents & POLLIN))
            return;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            handle(connection);
            ::close(connection);
        }
    }
}

void RawHttpServer::handle(int connection) {
    Request request;
    std::string data;
    char buffer[65536];
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = 0;
    const Ending end = ending.load();
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                request.head = data.substr(0, headEnd + 2);
                const std::string length = request.header("Content-Length");
                wanted = headEnd + 4 + (length.empty() ? 0 : std::stoull(length));
                if (end == Ending::closeMidBody)
                    wanted = std::min(wanted, headEnd + 4 + 64 * 1024);
            }
        }
        if (headEnd != std::string::npos && data.size() >= wanted)
            break;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    if (headEnd != std::string::npos)
        request.body = data.substr(headEnd + 4);
    {
        std::lock_guard lock(mutex_);
        last_ = request;
    }
    if (end == Ending::closeMidBody) {
        // Closing with unread data makes the peer see a reset.
        linger immediate{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
        return;
    }
    if (end == Ending::closeWithoutAnswer)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(thinkMs.load()));
    const std::size_t promised = reply.size() + (end == Ending::shortBody ? 1000 : 0);
    const std::string answer = "HTTP/1.1 " + std::to_string(status.load()) + " Answer\r\n" +
                               "Content-Length: " + std::to_string(promised) +
                               "\r\nConnection: close\r\n\r\n" + reply;
    ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
}

SilentListener::SilentListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Set before listening, so that the queued connections have it too.
    const int small = 4096;
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0)
        throw std::runtime_error("cannot start a silent test listener");
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    ::close(listener_);
}

std::string SilentListener::url(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
}

int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace tonvert::test
