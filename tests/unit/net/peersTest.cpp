#include <filesystem>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "httpTestServer.h"
#include "inetThread.h"
#include "netUnit.h"
#include "peerServers.h"
#include "testFiles.h"

namespace tonvert {
namespace {

class PeersTest : public ::testing::Test {
protected:
    void SetUp() override {
        http.server.Get("/who", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("via=" + req.get_header_value("Via"), "text/plain");
        });
        http.start();
    }
    TransferResult fetch(const std::string& url, const std::string& target = "",
                         bool detailed = false) {
        DownloadRequest request{url, target, {}};
        request.options.detailed = detailed;
        return net.download(request);
    }

    test::TempFolder folder;
    test::HttpTestServer http;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
};

TEST_F(PeersTest, ProxyCarriesRequestsExceptBypassedHosts) {
    test::TinyProxy proxy(folder.path());
    ASSERT_TRUE(proxy.process.ready()) << "tinyproxy did not start";
    net.proxyServer = "proxy.localhost";
    net.proxyPort = static_cast<std::uint16_t>(proxy.port);
    net.proxyBypass = "<local>; *.direct.localhost";

    TransferResult result = fetch(http.url("/who", "proxied.localhost"));
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_NE(result.reply.find("tinyproxy"), std::string::npos) << result.reply;

    result = fetch(http.url("/who", "a.direct.localhost"));
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "via=");

    // With the proxy gone, a bypassed host is still reached and the others are not.
    net.proxyPort = static_cast<std::uint16_t>(test::unusedPort());
    EXPECT_TRUE(fetch(http.url("/who", "b.direct.localhost")).ok);
    result = fetch(http.url("/who", "proxied.localhost"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "System error 111: Can't connect to host");
}

TEST_F(PeersTest, FtpThroughAnHttpProxyThatRefusesIsAFailure) {
    test::TinyProxy proxy(folder.path());
    ASSERT_TRUE(proxy.process.ready()) << "tinyproxy did not start";
    net.proxyServer = "proxy.localhost";
    net.proxyPort = static_cast<std::uint16_t>(proxy.port);
    const std::string url =
        "ftp://ftp.localhost:" + std::to_string(test::unusedPort()) + "/song.mp3";

    // The proxy answers with an error page of its own; the status is what counts.
    const std::string target = folder.file("song.mp3");
    TransferResult result = fetch(url, target, true);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.starts_with("Server error 4") ||
                result.message.starts_with("Server error 5"))
        << result.message;
    const std::string cause = result.message.substr(0, result.message.find(':'));
    EXPECT_EQ(result.message, cause + ": Can't write to URL " + url);
    EXPECT_EQ(test::readBytes(target), "") << "none of the page is taken for the file";

    result = fetch(url);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, cause + ": Can't write to URL");

    // Nor is the page kept as the reply of a download into memory.
    SessionSettings settings;
    settings.proxyServer = net.proxyServer;
    settings.proxyPort = net.proxyPort;
    const TINetThread worker(settings, {url, "", false});
    while (!worker.done())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(worker.succeeded());
    EXPECT_EQ(worker.message(), result.message);
    EXPECT_EQ(worker.reply(), "");
}

TEST_F(PeersTest, FtpDownloads) {
    const std::string served = folder.file("served/");
    std::filesystem::create_directories(served);
    std::string content;
    for (int i = 0; i < 100000; ++i)
        content += static_cast<char>(i % 251);
    test::writeBytes(served + "song.mp3", content);
    test::FtpServer ftp(served);
    ASSERT_TRUE(ftp.process.ready()) << "the FTP server did not start";
    const std::string base = "ftp://ftp.localhost:" + std::to_string(ftp.port) + "/";

    TransferResult result = fetch(base + "song.mp3");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(result.reply == content);
    const std::string target = folder.file("song.mp3");
    result = fetch(base + "song.mp3", target);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(test::readBytes(target) == content);

    // A file the server does not have leaves the connection stage's text.
    result = fetch(base + "missing.mp3", "", true);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Can't connect to host ftp.localhost");
}

} // namespace
} // namespace tonvert
