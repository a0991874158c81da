#include "http/httpListener.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <string_view>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "http/requestBody.h"
#include "http/requestHead.h"

namespace tonvert::service {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// After a refusal the client may still be sending what it meant to; its bytes are read and
// dropped for a while, so that closing does not reset the connection before the refusal is
// read.
constexpr auto kLingerTime = 1s;
constexpr std::size_t kLingerBytes = 1 << 20;

constexpr std::string_view kBadRequest =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kHeadTooLarge = "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                                           "Content-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kNotImplemented =
    "HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kLengthRequired =
    "HTTP/1.1 411 Length Required\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// What a connection watched without a thread waits for.
enum class Waiting {
    request, // the first byte of its next request
    head,    // the rest of a request's line and headers
    body,    // the rest of a request's body, to be kept for the request
    drop,    // the rest of a body over the limit, answered unread, to be read and dropped
    linger,  // the end of what the client sends after a refusal
};

struct Connection {
    Connection(int socket, const std::string& scratchFolder)
        : fd(socket)
        , body(scratchFolder) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    std::string buffer;         // read and not yet taken by a request
    std::size_t scanned = 0;    // how far `buffer` is known to hold no end of the headers
    std::string head;           // the request's line and headers, once whole
    RequestBody body;           // its body as far as gathered
    std::uint64_t bodyLeft = 0; // what of its body is still to come, to be kept or dropped
    // The answer to a body over the limit: the client reads it only once it has sent the body,
    // so it goes out when the body has been dropped, and the connection ends after it when
    // `lastReply`.
    std::string reply;
    bool lastReply = false;
    Waiting waiting = Waiting::head;
    Clock::time_point deadline;
    Clock::time_point whole; // when its request was whole, head and body
    std::size_t discarded = 0;
    unsigned served = 0;
    std::string remoteAddr;
    int remotePort = -1;
    std::string localAddr;
    int localPort = -1;
};

int waitMs(Clock::duration left) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// Whether the socket is ready for `events` before `until`; an error or a hang-up counts as
// ready, and the read or write that follows tells which.
bool readyBy(int fd, short events, Clock::time_point until) {
    for (;;) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        pollfd watched{fd, events, 0};
        const int result = ::poll(&watched, 1, waitMs(left));
        if (result > 0)
            return true;
        if (result < 0 && errno != EINTR)
            return false;
    }
}

void addressOf(const sockaddr_storage& address, socklen_t size, std::string& ip, int& port) {
    std::array<char, NI_MAXHOST> host{};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, host.data(), host.size(),
                      nullptr, 0, NI_NUMERICHOST) == 0)
        ip = host.data();
    if (address.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    else if (address.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

void describe(Connection& connection) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(connection.fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        addressOf(address, size, connection.remoteAddr, connection.remotePort);
    size = sizeof address;
    if (::getsockname(connection.fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        addressOf(address, size, connection.localAddr, connection.localPort);
}

// A request as the library reads it, and its connection as the library writes it: the head
// and the body the watching thread gathered, then nothing (of a body over the limit, left
// unread, too); no read waits.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(Connection& connection, const HttpOptions& options)
        : connection_(connection)
        , options_(options) {}

    bool failed() const { return failed_; }
    Clock::time_point requestWhole() const { return connection_.whole; }
    bool closeAfterReply = false;

    bool is_readable() const override { return true; }
    bool is_writable() const override {
        return readyBy(connection_.fd, POLLOUT, Clock::now() + options_.writeTimeout);
    }
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.remoteAddr;
        port = connection_.remotePort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.localAddr;
        port = connection_.localPort;
    }
    socket_t socket() const override { return connection_.fd; }

private:
    Connection& connection_;
    const HttpOptions& options_;
    std::size_t headRead_ = 0;
    std::uint64_t bodyRead_ = 0;
    bool failed_ = false;
    bool holdReply_ = false;
};

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    const std::string& head = connection_.head;
    if (headRead_ < head.size()) {
        const std::size_t count = std::min(size, head.size() - headRead_);
        std::memcpy(ptr, head.data() + headRead_, count);
        headRead_ += count;
        return static_cast<ssize_t>(count);
    }
    // A body over the limit is not there to be read: the watching thread drops it, and the
    // answer the library makes of its absence waits for that.
    if (connection_.bodyLeft > 0) {
        holdReply_ = true;
        return 0;
    }
    const ssize_t got = connection_.body.read(bodyRead_, ptr, size);
    failed_ = failed_ || got < 0;
    bodyRead_ += static_cast<std::uint64_t>(std::max<ssize_t>(got, 0));
    return got;
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (holdReply_) {
        connection_.reply.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t count = ::send(connection_.fd, ptr + sent, size - sent, MSG_NOSIGNAL);
        if (count > 0)
            sent += static_cast<std::size_t>(count);
        else if (count < 0 && errno == EINTR)
            continue;
        else if (count < 0 && errno == EAGAIN &&
                 readyBy(connection_.fd, POLLOUT, Clock::now() + options_.writeTimeout))
            continue;
        else
            return -1;
    }
    return static_cast<ssize_t>(size);
}

thread_local ConnectionStream* current = nullptr;

// The library's server with what this layer needs of it: its request processing on a stream
// of our own, and its limit on bodies.
class Dispatcher final : public httplib::Server {
public:
    using Server::process_request;
    std::size_t payloadLimit() const { return payload_max_length_; }
    // The library ends a reply it writes from a content provider when the server has no
    // listening socket: it must see ours while we serve.
    void setListening(int fd) { svr_sock_ = fd; }
};

enum class Outcome { keep, linger, close };

bool gathering(const Connection& connection) {
    return connection.waiting == Waiting::body || connection.waiting == Waiting::drop;
}

// After a request: the next one's head, or its first byte.
void awaitNext(Connection& connection, const HttpOptions& options) {
    const bool started = !connection.buffer.empty();
    connection.waiting = started ? Waiting::head : Waiting::request;
    connection.deadline = Clock::now() + (started ? options.headerDeadline : options.keepAlive);
}

// What the watching thread does with a connection after a request: `refused` when the routes
// end it, `ends` when the request or the connection cannot go on.
Outcome afterRequest(Connection& connection, bool refused, bool ends, const HttpOptions& options) {
    ends = ends || refused;
    connection.lastReply = ends;
    if (!connection.reply.empty() || (!ends && connection.bodyLeft > 0)) {
        connection.waiting = Waiting::drop;
        connection.deadline = Clock::now() + options.bodyDeadline;
        return Outcome::keep;
    }
    if (refused || (ends && connection.bodyLeft > 0)) {
        connection.waiting = Waiting::linger;
        connection.deadline = Clock::now() + kLingerTime;
        return Outcome::linger;
    }
    if (ends)
        return Outcome::close;
    awaitNext(connection, options);
    return Outcome::keep;
}

} // namespace

unsigned defaultHttpThreads() {
    return std::max(8u, std::max(1u, std::thread::hardware_concurrency()) - 1);
}

void closeConnectionAfterReply() {
    if (current != nullptr)
        current->closeAfterReply = true;
}

struct HttpListener::State {
    explicit State(HttpOptions httpOptions)
        : options(std::move(httpOptions)) {}
    ~State() {
        for (const int fd : {listening, wake, epoll})
            if (fd >= 0)
                ::close(fd);
    }

    // The watching thread.
    void loop();
    void acceptAll();
    void onReadable(int fd);
    void admit(std::unique_ptr<Connection> connection);
    void startBody(std::unique_ptr<Connection> connection);
    void takeBody(Connection& connection);
    bool sendHeldReply(Connection& connection);
    void queue(std::unique_ptr<Connection> connection);
    void watch(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> unwatch(int fd);
    void refuse(std::unique_ptr<Connection> connection, std::string_view answer);
    void takeReturned();
    void sweep();
    void finish();

    // The threads that serve requests.
    void work();
    Outcome serve(Connection& connection);

    const HttpOptions options;
    Dispatcher dispatcher;
    int listening = -1;
    int wake = -1;
    int epoll = -1;
    std::atomic<bool> stopping = false;

    // The watching thread's own: connections waiting without a thread, by socket.
    std::unordered_map<int, std::unique_ptr<Connection>> watched;
    Clock::time_point nextSweep = Clock::time_point::max();

    std::mutex mutex;
    std::condition_variable ready;                     // a request waits, or the server stops
    std::deque<std::unique_ptr<Connection>> requests;  // whole heads waiting for a thread
    std::vector<std::unique_ptr<Connection>> returned; // back from the threads, to be watched
    std::set<int> serving;                             // the sockets the threads hold
    std::vector<std::thread> workers;
};

void HttpListener::State::loop() {
    std::array<epoll_event, 64> events{};
    while (!stopping) {
        int timeout = -1;
        if (nextSweep != Clock::time_point::max())
            timeout = waitMs(nextSweep - Clock::now());
        const int count = ::epoll_wait(epoll, events.data(), events.size(), timeout);
        if (count < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count; ++i) {
            const int fd = events[static_cast<std::size_t>(i)].data.fd;
            if (fd == listening)
                acceptAll();
            else if (fd == wake)
                takeReturned();
            else
                onReadable(fd);
        }
        sweep();
    }
    stopping = true;
}

void HttpListener::State::acceptAll() {
    for (;;) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            // Out of descriptors, the pending connection stays in the queue: a short pause
            // rather than a busy loop until connections end.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(10ms);
            return;
        }
        auto connection = std::make_unique<Connection>(fd, options.scratchFolder);
        // A reply goes out in more than one write. Nagle's algorithm would hold the last one
        // back until the client acknowledges the first, which a client waiting for the rest
        // delays by 40 ms on every kept-alive request.
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        describe(*connection);
        connection->deadline = Clock::now() + options.headerDeadline;
        watch(std::move(connection));
    }
}

void HttpListener::State::onReadable(int fd) {
    const auto found = watched.find(fd);
    if (found == watched.end())
        return;
    Connection& connection = *found->second;
    std::array<char, 16 << 10> chunk;
    const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) {
        unwatch(fd);
        return;
    }
    if (connection.waiting == Waiting::linger) {
        connection.discarded += static_cast<std::size_t>(got);
        if (connection.discarded > kLingerBytes)
            unwatch(fd);
        return;
    }
    if (connection.waiting == Waiting::request) {
        connection.waiting = Waiting::head;
        connection.deadline = Clock::now() + options.headerDeadline;
        nextSweep = std::min(nextSweep, connection.deadline);
    }
    connection.buffer.append(chunk.data(), static_cast<std::size_t>(got));
    if (gathering(connection)) {
        takeBody(connection);
        if (connection.bodyLeft > 0)
            return;
    } else if (scanHead(connection.buffer, connection.scanned, options.maxHeaderBytes) ==
               Head::partial)
        return;
    admit(unwatch(fd));
}

// Takes a connection that is watched no more where what it holds leads: to more waiting, to a
// thread, or to a refusal.
void HttpListener::State::admit(std::unique_ptr<Connection> connection) {
    if (gathering(*connection)) {
        takeBody(*connection);
        if (connection->bodyLeft > 0)
            return watch(std::move(connection));
        if (connection->waiting == Waiting::body)
            return queue(std::move(connection));
        if (!sendHeldReply(*connection))
            return; // the connection ends
        awaitNext(*connection, options);
    }
    switch (scanHead(connection->buffer, connection->scanned, options.maxHeaderBytes)) {
    case Head::partial:
        return watch(std::move(connection));
    case Head::unknownMethod:
        return refuse(std::move(connection), kNotImplemented);
    case Head::malformed:
        return refuse(std::move(connection), kBadRequest);
    case Head::tooLarge:
        return refuse(std::move(connection), kHeadTooLarge);
    case Head::whole:
        break;
    }
    startBody(std::move(connection));
}

// A request's body is gathered before a thread takes the request, so a client that sends it
// slowly holds no thread. One announced over the payload limit is not: the routes answer it
// unread (or have it dropped after their answer).
void HttpListener::State::startBody(std::unique_ptr<Connection> connection) {
    Connection& request = *connection;
    const std::size_t length = headLength(request.buffer);
    request.head.assign(request.buffer, 0, length);
    request.buffer.erase(0, length);
    request.scanned = 0;
    const BodyFraming framing = bodyFraming(request.head);
    if (framing.kind == BodyFraming::Kind::lengthRequired)
        return refuse(std::move(connection), kLengthRequired);
    if (framing.kind == BodyFraming::Kind::malformed)
        return refuse(std::move(connection), kBadRequest);
    request.bodyLeft = framing.length;
    if (framing.length > dispatcher.payloadLimit())
        return queue(std::move(connection));
    request.waiting = Waiting::body;
    request.deadline = Clock::now() + options.bodyDeadline;
    // The body is taken whole whatever the routes would make of it, so the client may go on.
    if (framing.expectsContinue && request.bodyLeft > request.buffer.size())
        ::send(request.fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    admit(std::move(connection));
}

// What the buffer holds of the body goes into it, or of a body to drop, nowhere.
void HttpListener::State::takeBody(Connection& connection) {
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(connection.bodyLeft, connection.buffer.size()));
    if (connection.waiting == Waiting::body)
        connection.body.append(std::string_view(connection.buffer).substr(0, count));
    connection.buffer.erase(0, count);
    connection.bodyLeft -= count;
}

// Its send buffer has held nothing since the client last read: a short answer goes out whole.
// False when the connection ends.
bool HttpListener::State::sendHeldReply(Connection& connection) {
    if (connection.reply.empty())
        return true;
    const std::string& reply = connection.reply;
    const bool sent = ::send(connection.fd, reply.data(), reply.size(),
                             MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(reply.size());
    connection.reply.clear();
    return sent && !connection.lastReply;
}

void HttpListener::State::queue(std::unique_ptr<Connection> connection) {
    connection->whole = Clock::now();
    {
        const std::lock_guard lock(mutex);
        requests.push_back(std::move(connection));
    }
    ready.notify_one();
}

void HttpListener::State::watch(std::unique_ptr<Connection> connection) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = connection->fd;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, connection->fd, &event) != 0)
        return; // the connection closes
    nextSweep = std::min(nextSweep, connection->deadline);
    watched.emplace(connection->fd, std::move(connection));
}

std::unique_ptr<Connection> HttpListener::State::unwatch(int fd) {
    auto entry = watched.extract(fd);
    ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    return std::move(entry.mapped());
}

void HttpListener::State::refuse(std::unique_ptr<Connection> connection, std::string_view answer) {
    ::send(connection->fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(connection->fd, SHUT_WR);
    connection->waiting = Waiting::linger;
    connection->deadline = Clock::now() + kLingerTime;
    watch(std::move(connection));
}

void HttpListener::State::takeReturned() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = ::read(wake, &count, sizeof count);
    std::vector<std::unique_ptr<Connection>> back;
    {
        const std::lock_guard lock(mutex);
        back.swap(returned);
    }
    for (auto& connection : back) {
        if (connection->waiting == Waiting::linger)
            watch(std::move(connection));
        else
            admit(std::move(connection));
    }
}

void HttpListener::State::sweep() {
    const auto now = Clock::now();
    if (now < nextSweep)
        return;
    nextSweep = Clock::time_point::max();
    std::vector<int> late;
    for (const auto& [fd, connection] : watched) {
        if (connection->deadline <= now)
            late.push_back(fd);
        else
            nextSweep = std::min(nextSweep, connection->deadline);
    }
    for (const int fd : late)
        unwatch(fd);
}

void HttpListener::State::finish() {
    dispatcher.setListening(INVALID_SOCKET);
    ::close(listening);
    listening = -1;
    for (auto& [fd, connection] : watched)
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    watched.clear();
    {
        // Requests in progress end at their next read or write.
        const std::lock_guard lock(mutex);
        for (const int fd : serving)
            ::shutdown(fd, SHUT_RDWR);
    }
    ready.notify_all();
    for (auto& worker : workers)
        worker.join();
    workers.clear();
    requests.clear();
    returned.clear();
}

void HttpListener::State::work() {
    for (;;) {
        std::unique_ptr<Connection> connection;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [this] { return stopping || !requests.empty(); });
            if (stopping)
                return;
            connection = std::move(requests.front());
            requests.pop_front();
            serving.insert(connection->fd);
        }
        const Outcome outcome = serve(*connection);
        if (outcome == Outcome::linger)
            ::shutdown(connection->fd, SHUT_WR);
        {
            const std::lock_guard lock(mutex);
            serving.erase(connection->fd);
            if (outcome != Outcome::close && !stopping)
                returned.push_back(std::move(connection));
        }
        if (connection == nullptr) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
        }
    }
}

// One request, whose body is in hand. A request behind it goes to the watching thread, which
// gathers its body.
Outcome HttpListener::State::serve(Connection& connection) {
    ConnectionStream stream(connection, options);
    current = &stream;
    const bool last = ++connection.served >= options.requestsPerConnection;
    const bool gathered = connection.bodyLeft == 0;
    bool closed = false;
    const bool answered =
        dispatcher.process_request(stream, last, closed, [gathered](httplib::Request& request) {
            // The watching thread let the client go on, if it asked, as it gathered the body.
            if (gathered)
                request.headers.erase("Expect");
        });
    current = nullptr;
    connection.head.clear();
    connection.body.clear();
    const bool ends = !answered || closed || last || stream.failed() || stopping;
    return afterRequest(connection, stream.closeAfterReply, ends, options);
}

HttpListener::HttpListener(HttpOptions options)
    : state_(std::make_unique<State>(std::move(options))) {
    state_->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    state_->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // The library names these in its Keep-Alive header.
    const auto idle = std::chrono::ceil<std::chrono::seconds>(state_->options.keepAlive).count();
    state_->dispatcher.set_keep_alive_timeout(static_cast<time_t>(std::max<long long>(idle, 1)));
    state_->dispatcher.set_keep_alive_max_count(state_->options.requestsPerConnection);
    if (state_->options.served)
        state_->dispatcher.set_logger(
            [&tell = state_->options.served](const httplib::Request& request,
                                             const httplib::Response& response) {
                // A reply from a content provider has its length apart from its body.
                const std::uint64_t bytes =
                    response.body.empty() ? response.content_length_ : response.body.size();
                const auto took =
                    current == nullptr ? Clock::duration{} : Clock::now() - current->requestWhole();
                tell({request, response, bytes,
                      std::chrono::duration_cast<std::chrono::microseconds>(took)});
            });
}

HttpListener::~HttpListener() = default;

httplib::Server& HttpListener::routes() {
    return state_->dispatcher;
}

int HttpListener::bind(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (state_->listening >= 0 || ::getaddrinfo(host.empty() ? nullptr : host.c_str(),
                                                std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const int fd =
            ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, entry->ai_addr, entry->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            state_->listening = fd;
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (state_->listening < 0)
        return -1;
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    std::string ip;
    int bound = -1;
    if (::getsockname(state_->listening, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        addressOf(address, size, ip, bound);
    return bound;
}

bool HttpListener::adopt(int listening) {
    if (state_->listening >= 0 || listening < 0)
        return false;
    state_->listening = listening;
    return true;
}

int HttpListener::listeningSocket() const {
    return state_->listening;
}

bool HttpListener::run() {
    State& state = *state_;
    if (state.listening < 0 || state.epoll < 0 || state.wake < 0)
        return false;
    for (const int fd : {state.listening, state.wake}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(state.epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return false;
    }
    state.dispatcher.setListening(state.listening);
    for (unsigned i = 0; i < std::max(1u, state.options.threads); ++i)
        state.workers.emplace_back([&state] { state.work(); });
    running_ = true;
    state.loop();
    state.finish();
    running_ = false;
    return true;
}

void HttpListener::stop() {
    state_->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(state_->wake, &one, sizeof one);
}

} // namespace tonvert::service
