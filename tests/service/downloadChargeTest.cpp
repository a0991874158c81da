// What downloads cost, over real HTTP on loopback: a file is charged on its first whole
// delivery only, never for a transfer cut short.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <numeric>
#include <sys/socket.h>
#include <unistd.h>

#include "serviceFixture.h"
#include "storeSupport.h"

namespace tonvert {
namespace {

using namespace service;
using DownloadChargeTest = test::ServiceFixture;

// Asks for a download on a socket of its own with a small receive window, reads the reply's
// head and about half its body, then hangs up with a reset, as a client killed midway does.
// The body bytes read; 0 when the reply was not a download.
std::size_t hangUpHalfway(int port, const std::string& url, std::size_t size) {
    const std::string target = url.substr(url.find('/', std::string("http://").size()));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int window = 16 << 10;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    std::string head;
    std::size_t body = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        bool inBody = false;
        while (body < size / 2) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            if (inBody) {
                body += static_cast<std::size_t>(n);
                continue;
            }
            head.append(buffer, static_cast<std::size_t>(n));
            if (const auto end = head.find("\r\n\r\n"); end != std::string::npos) {
                inBody = true;
                body = head.size() - end - 4;
            }
        }
    }
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
    return head.rfind("HTTP/1.1 200", 0) == 0 ? body : 0;
}

TEST_F(DownloadChargeTest, AFileIsChargedOnItsFirstWholeDeliveryOnly) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    // Far more than the socket buffers on both sides hold.
    std::string big(16 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 % 251);
    ASSERT_TRUE(test::publishAudioFile(*store, user, "Big.mp3", big));
    ASSERT_TRUE(test::publishAudioFile(*store, user, "Small.mp3", "small"));
    const std::int64_t id = store->account(user)->id;
    const auto balance = [&] { return store->accountById(id)->balance; };
    const auto downloadsBooked = [&] {
        int count = 0;
        for (const LedgerEntry& entry : store->ledger(id))
            count += entry.reason.rfind("download of", 0) == 0;
        return count;
    };
    const auto ledgerIsBalance = [&] {
        const auto entries = store->ledger(id);
        return std::accumulate(entries.begin(), entries.end(), std::int64_t(0),
                               [](std::int64_t sum, const LedgerEntry& entry) {
                                   return sum + entry.amount;
                               }) == balance();
    };
    ASSERT_EQ(balance(), 500);

    // A client that hangs up halfway gets part of the file and pays nothing, then or later.
    int ended = loopback->downloadsEnded();
    const std::size_t got = hangUpHalfway(
        loopback->port(), audioDownloadUrlPrefix(host, user, password) + urlEncode("Big.mp3"),
        big.size());
    EXPECT_GE(got, big.size() / 2);
    EXPECT_LT(got, big.size());
    awaitDownloadsEnded(ended + 1);
    EXPECT_EQ(balance(), 500);
    EXPECT_EQ(downloadsBooked(), 0);
    EXPECT_TRUE(ledgerIsBalance());

    // The whole file costs its fee once: 2 cents and 3 for each of its 16 megabytes.
    EXPECT_TRUE(download(user, password, "Big.mp3") == big);
    EXPECT_EQ(balance(), 450);
    EXPECT_EQ(downloadsBooked(), 1);
    EXPECT_TRUE(ledgerIsBalance());

    // Delivered once, it is free, with a balance below its fee or below zero.
    setBalance(user, 10);
    EXPECT_TRUE(download(user, password, "big.MP3") == big);
    setBalance(user, -1);
    EXPECT_TRUE(download(user, password, "Big.mp3") == big);
    EXPECT_EQ(balance(), -1);
    EXPECT_EQ(downloadsBooked(), 1);

    // A file not delivered yet is refused before a byte goes out, and booked when it went.
    EXPECT_EQ(command(user, password, "getaudio", "Small.mp3"), "!ERR 1029");
    setBalance(user, 4);
    EXPECT_EQ(command(user, password, "getaudio", "Small.mp3"), "!ERR 1030");
    setBalance(user, 5);
    EXPECT_EQ(download(user, password, "Small.mp3"), "small");
    EXPECT_EQ(balance(), 0);
    EXPECT_EQ(downloadsBooked(), 2);
    EXPECT_TRUE(ledgerIsBalance());
}

} // namespace
} // namespace tonvert
