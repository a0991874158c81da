#include "urlsUnit.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

// The outputs of splitUrl as "scheme|host|port|path", with "!" in front on refusal. The
// outputs start as "old" to show which ones were written.
std::string split(const std::string& url) {
    std::string scheme = "old", host = "old", port = "old", path = "old";
    const bool ok = splitUrl(url, scheme, host, port, path);
    return (ok ? "" : "!") + scheme + "|" + host + "|" + port + "|" + path;
}

TEST(UrlsUnit, DomainNames) {
    EXPECT_TRUE(isDomainChars(""));
    EXPECT_TRUE(isDomainChars("a-Z_0.9"));
    EXPECT_FALSE(isDomainChars("a b"));
    EXPECT_FALSE(isDomainChars("caf\xE9"));

    EXPECT_TRUE(isDomainName("my_host.example.org"));
    EXPECT_FALSE(isDomainName("localhost"));
    EXPECT_FALSE(isDomainName("127.0.0.1")) << "last part too short";
    EXPECT_FALSE(isDomainName("example.c"));
    EXPECT_FALSE(isDomainName("example..com"));
    EXPECT_FALSE(isDomainName("exa+mple.com"));
}

TEST(UrlsUnit, SplitUrl) {
    EXPECT_EQ(split("Tonvert.example.com/render?x=1"), "http://|Tonvert.example.com||/render?x=1");
    EXPECT_EQ(split("HTTP://Example.com/x"), "http://|Example.com||/x");
    EXPECT_EQ(split("ftp://files.example.org:21"), "ftp://|files.example.org|:21|");
    EXPECT_EQ(split("example.com?q=a/b"), "http://|example.com||?q=a/b");
    EXPECT_EQ(split("http://tonvert.localhost:8080/api"), "http://|tonvert.localhost|:8080|/api");
    EXPECT_EQ(split("example.com:65535"), "http://|example.com|:65535|");

    EXPECT_EQ(split("https://example.com/"), "!old|old|old|old");
    EXPECT_EQ(split("example.com:65536").front(), '!');
    EXPECT_EQ(split("example.com:99999999999999999999").front(), '!');
    EXPECT_EQ(split("example.com:/x").front(), '!');
    EXPECT_EQ(split("example.com:8o").front(), '!');
    EXPECT_EQ(split("http://localhost:8080/"), "!http://|localhost|:8080|/");
    EXPECT_EQ(split("127.0.0.1").front(), '!');

    EXPECT_EQ(portNumber(""), 0);
    EXPECT_EQ(portNumber(":8080"), 8080);
}

} // namespace
} // namespace tonvert
