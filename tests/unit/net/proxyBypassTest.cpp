#include "proxyBypass.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace tonvert {
namespace {

TEST(ProxyBypass, Entries) {
    EXPECT_FALSE(bypassesProxy("", "example.org"));
    EXPECT_FALSE(bypassesProxy(" ;, ;", "example.org"));
    EXPECT_TRUE(bypassesProxy("Example.ORG", "example.org"));
    EXPECT_FALSE(bypassesProxy("example.org", "www.example.org"));
    EXPECT_TRUE(bypassesProxy("other.net; example.org ,x.com", "example.org"));
    EXPECT_TRUE(bypassesProxy("a.com,,  example.org  ", "example.org"));
    EXPECT_TRUE(bypassesProxy("example.org:8080", "example.org"));
    EXPECT_FALSE(bypassesProxy(":8080", "example.org"));

    EXPECT_TRUE(bypassesProxy("<local>", "intranet"));
    EXPECT_FALSE(bypassesProxy("<local>", "intranet.example.org"));
}

TEST(ProxyBypass, Wildcards) {
    EXPECT_TRUE(bypassesProxy("*.example.org", "a.b.EXAMPLE.org"));
    EXPECT_FALSE(bypassesProxy("*.example.org", "example.org"));
    EXPECT_TRUE(bypassesProxy("192.168.*", "192.168.1.2"));
    EXPECT_FALSE(bypassesProxy("192.168.*", "10.192.168.1"));
    EXPECT_TRUE(bypassesProxy("*", "anything"));
    EXPECT_TRUE(bypassesProxy("ex*le.org", "example.org"));
    EXPECT_TRUE(bypassesProxy("*ab*ab", "xabyabab"));
    EXPECT_FALSE(bypassesProxy("*ab*ab", "xabyaba"));

    // Many stars over a long near-miss must not backtrack without end.
    const std::string host(20000, 'a');
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(bypassesProxy("*a*a*a*a*a*a*a*b", host));
    EXPECT_TRUE(bypassesProxy("*a*a*a*a*a*a*a*a", host));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
}

} // namespace
} // namespace tonvert
