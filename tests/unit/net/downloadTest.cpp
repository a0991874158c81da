#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "httpTestServer.h"
#include "inetThread.h"
#include "netUnit.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace std::chrono_literals;

// Whether this process holds the file open.
bool isOpen(const std::string& path) {
    bool open = false;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(fds)) {
            char target[4096];
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            open = open || (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path);
        }
        ::closedir(fds);
    }
    return open;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        http.server.Get("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("body of " + std::string(req.matches[1]), "text/plain");
        });
        http.server.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("", "text/plain");
        });
        // The big body comes in slices with pauses, so that the owner sees it arrive.
        http.server.Get("/big", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(big.size(), "application/octet-stream",
                                     [this](size_t offset, size_t, httplib::DataSink& sink) {
                                         const size_t slice =
                                             std::min<size_t>(256 * 1024, big.size() - offset);
                                         std::this_thread::sleep_for(20ms);
                                         return sink.write(big.data() + offset, slice);
                                     });
        });
        // Chunked: no Content-Length.
        http.server.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                sink.write("!VAL 2\r\n", 8);
                sink.write("a\tb\r\n", 5);
                sink.done();
                return true;
            });
        });
        // Sends a little, then keeps the line open without a word.
        http.server.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000000, "application/octet-stream",
                                     [](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0)
                                             sink.write("0123456789", 10);
                                         else
                                             std::this_thread::sleep_for(100ms);
                                         return sink.is_writable();
                                     });
        });
        http.server.Get("/silent", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(2s);
            res.set_content("late", "text/plain");
        });
        http.server.Get("/thinking", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(1500ms);
            res.set_content("rendered", "text/plain");
        });
        big.resize(3 * 1024 * 1024 + 17);
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>((i * 131) ^ (i >> 9));
        http.start();
    }

    TransferResult fetch(const std::string& url, const std::string& target = "",
                         bool detailed = false) {
        DownloadRequest request{url, target, {}};
        request.options.detailed = detailed;
        return net.download(request);
    }

    test::HttpTestServer http;
    std::string big;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
    test::TempFolder folder;
};

TEST_F(DownloadTest, StatusCodesAndBodies) {
    TransferResult result = fetch(http.url("/status/200"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, "body of 200");
    EXPECT_EQ(result.message, "Done retrieving");
    result = fetch(http.url("/status/203"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, "body of 203");
    EXPECT_EQ(net.status, "Done retrieving");
    for (int refused : {204, 304, 404, 500}) {
        result = fetch(http.url("/status/" + std::to_string(refused)));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.reply, "");
        EXPECT_EQ(result.message,
                  "Server error " + std::to_string(refused) + ": Can't write to URL");
        EXPECT_EQ(net.status, result.message);
    }
    const std::string missing = http.url("/status/404");
    EXPECT_EQ(fetch(missing, "", true).message, "Server error 404: Can't write to URL " + missing);
    EXPECT_TRUE(fetch(http.url("/status/200"), "", true).ok);
    EXPECT_EQ(net.status, "Done retrieving " + http.url("/status/200"));

    result = fetch(http.url("/empty"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, "");

    // Without a Content-Length the transfer completes; no fraction reaches the owner.
    std::vector<double> fractions;
    net.OnProgress = [&](double f) { fractions.push_back(f); };
    result = fetch(http.url("/chunked"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.reply, "!VAL 2\r\na\tb\r\n");
    EXPECT_TRUE(fractions.empty());
}

TEST_F(DownloadTest, AnAddressWithoutSchemeIsAWebPage) {
    // The host name would make a guess at FTP.
    const std::string typed = "ftp.test.localhost:" + std::to_string(http.port()) + "/status/200";
    const TransferResult result = fetch(typed, "", true);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "body of 200");
    EXPECT_EQ(result.message, "Done retrieving " + typed);

    const std::string target = folder.file("page.txt");
    ASSERT_TRUE(
        fetch("FTP.test.localhost:" + std::to_string(http.port()) + "/status/203", target).ok);
    EXPECT_EQ(test::readBytes(target), "body of 203");
}

TEST_F(DownloadTest, LargeBodyIntoAFileWithProgress) {
    const std::string target = folder.file("audio.mp3");
    test::writeBytes(target, "an old file of that name is replaced");
    double last = 0;
    bool rising = true;
    net.OnProgress = [&](double f) {
        rising = rising && f >= last;
        last = f;
    };
    const TransferResult result = fetch(http.url("/big"), target);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "");
    EXPECT_TRUE(test::readBytes(target) == big);
    EXPECT_TRUE(rising);
    EXPECT_GT(last, 0.0);
    EXPECT_LE(last, 1.0);

    // A disk that takes no more: the file size limit stands in for a full disk.
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{1 << 20, limit.rlim_max};
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const TransferResult full = fetch(http.url("/big"), target, true);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(full.ok);
    EXPECT_EQ(full.message, "System error 27: Can't write file " + target);

    // A target that cannot be created.
    const TransferResult uncreated =
        fetch(http.url("/big"), folder.file("no/such/folder.mp3"), true);
    EXPECT_FALSE(uncreated.ok);
    EXPECT_EQ(uncreated.message, "Can't open file " + http.url("/big"));
}

TEST_F(DownloadTest, AbortAndSilenceEndTheTransfer) {
    const std::string target = folder.file("partial.bin");
    net.OnProgress = [&](double) { net.abort(); };
    const auto started = std::chrono::steady_clock::now();
    TransferResult result = fetch(http.url("/trickle"), target);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Internet connection aborted!");
    EXPECT_EQ(net.status, "Internet connection aborted!");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(test::readBytes(target), "0123456789") << "what arrived stays";
    EXPECT_FALSE(isOpen(target));

    // An abort while the server has not answered yet.
    net.OnProgress = nullptr;
    std::thread aborter([&] {
        std::this_thread::sleep_for(300ms);
        net.abort();
    });
    result = fetch(http.url("/silent"));
    aborter.join();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Internet connection aborted!");

    // An abort while the connection is still being made: a listener whose queue is full
    // leaves new connections hanging.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    std::thread connectAborter([&] {
        std::this_thread::sleep_for(300ms);
        net.abort();
    });
    const auto connecting = std::chrono::steady_clock::now();
    result = fetch("http://full.localhost:" + std::to_string(ntohs(address.sin_port)) + "/");
    connectAborter.join();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Internet connection aborted!");
    EXPECT_LT(std::chrono::steady_clock::now() - connecting, 5s);
    for (int fd : queued)
        ::close(fd);
    ::close(listener);
}

TEST_F(DownloadTest, TheTimeOutLimitsConnectingNotTheReply) {
    // An answer after three times the time-out.
    net.timeout = 500;
    TransferResult result = fetch(http.url("/thinking"));
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "rendered");

    // The reply silence, shortened here, ends a server that never answers.
    const auto work = [](const SessionSettings& settings, const std::string& url) {
        auto worker = std::make_unique<TINetThread>(settings, TINetThread::Request{url, "", true});
        while (!worker->done())
            std::this_thread::sleep_for(5ms);
        return worker;
    };
    SessionSettings settings;
    settings.timeout = 300;
    settings.replySilence = 500ms;
    const test::SilentListener mute;
    auto worker = work(settings, mute.url("/list"));
    EXPECT_FALSE(worker->succeeded());
    EXPECT_EQ(worker->message(), "Error: Can't read from URL " + mute.url("/list"));

    // A time-out longer than the reply silence stands for it.
    settings.timeout = 2500;
    settings.replySilence = 100ms;
    worker = work(settings, http.url("/thinking"));
    EXPECT_TRUE(worker->succeeded()) << worker->message();
    EXPECT_EQ(worker->reply(), "rendered");

    // No time-out set: the default one, which lets a transfer through.
    net.timeout = 0;
    result = fetch(http.url("/status/200"));
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "body of 200");
}

TEST_F(DownloadTest, AddressesThatCannotBeReached) {
    const std::string refused =
        "http://test.localhost:" + std::to_string(test::unusedPort()) + "/x";
    EXPECT_EQ(fetch(refused).message, "System error 111: Can't connect to host");
    const TransferResult detailed = fetch(refused, "", true);
    EXPECT_FALSE(detailed.ok);
    EXPECT_EQ(detailed.message, "System error 111: Can't connect to host test.localhost");

    for (const char* bad : {"https://test.localhost/x", "http://localhost/x", "http://127.0.0.1/",
                            "http://test.localhost:99999/", "gopher://a.b/"}) {
        const TransferResult result = fetch(bad);
        EXPECT_FALSE(result.ok) << bad;
        EXPECT_EQ(result.message, "Invalid URL") << bad;
    }
    EXPECT_EQ(fetch("http://test..localhost/", "", true).message,
              "Invalid URL http://test..localhost/");
}

// A connection that is not up and cannot be brought up, or only over a modem.
class FakeConnection : public ConnectionState {
public:
    bool up = false;
    bool canDial = false;
    int hangUps = 0;
    bool connected(std::uint32_t& flags) override {
        flags = kModem;
        return up;
    }
    bool attemptConnect() override {
        up = canDial;
        return canDial;
    }
    void hangUp() override {
        ++hangUps;
        up = false;
    }
};

TEST_F(DownloadTest, ConnectionStateAndStatusTexts) {
    FakeConnection offline;
    TNet dialler(offline, pump);
    std::vector<std::string> statuses;
    dialler.OnStatus = [&](TNet& sender) { statuses.push_back(sender.status); };
    DownloadRequest request{http.url("/status/200"), "", {}};
    const TransferResult offLine = dialler.download(request);
    EXPECT_FALSE(offLine.ok);
    EXPECT_EQ(offLine.message, "Connection error!");
    EXPECT_EQ(dialler.status, "Can't establish Internet connection!");
    EXPECT_EQ(statuses, (std::vector<std::string>{"Going online...",
                                                  "Can't establish Internet connection!"}));

    offline.canDial = true;
    statuses.clear();
    request.options.hangUp = true;
    EXPECT_TRUE(dialler.download(request).ok);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Going online...", "Connected", "Done retrieving",
                                                  "Hanging up...", "Disconnected"}));
    EXPECT_EQ(offline.hangUps, 1);

    // Already on line: no "Connected" again.
    statuses.clear();
    TNet copy(connection, pump);
    copy.assign(dialler);
    copy.online = true;
    request.options.hangUp = false;
    EXPECT_TRUE(copy.download(request).ok);
    EXPECT_EQ(statuses, std::vector<std::string>{"Done retrieving"}) << "events come along";
}

} // namespace
} // namespace tonvert
