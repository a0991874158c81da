#include <filesystem>
#include <gtest/gtest.h>

#include "httpTestServer.h"
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
    bool get(const std::string& url, std::string& reply) {
        return net.get(url, "", "", "Tonvert", 2048, false, false, reply, "");
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

    std::string reply;
    ASSERT_TRUE(get(http.url("/who", "proxied.localhost"), reply)) << reply;
    EXPECT_NE(reply.find("tinyproxy"), std::string::npos) << reply;

    ASSERT_TRUE(get(http.url("/who", "a.direct.localhost"), reply)) << reply;
    EXPECT_EQ(reply, "via=");

    // With the proxy gone, a bypassed host is still reached and the others are not.
    net.proxyPort = static_cast<std::uint16_t>(test::unusedPort());
    EXPECT_TRUE(get(http.url("/who", "b.direct.localhost"), reply)) << reply;
    EXPECT_FALSE(get(http.url("/who", "proxied.localhost"), reply));
    EXPECT_EQ(reply, "System error 111: Can't connect to host");
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

    std::string reply;
    ASSERT_TRUE(get(base + "song.mp3", reply)) << reply;
    EXPECT_TRUE(reply == content);
    const std::string target = folder.file("song.mp3");
    ASSERT_TRUE(net.get(base + "song.mp3", "", "", "Tonvert", 2048, false, false, reply, target));
    EXPECT_TRUE(test::readBytes(target) == content);

    // A file the server does not have leaves the connection stage's text.
    EXPECT_FALSE(net.get(base + "missing.mp3", "", "", "Tonvert", 2048, false, true, reply, ""));
    EXPECT_EQ(reply, "Can't connect to host ftp.localhost");
}

} // namespace
} // namespace tonvert
