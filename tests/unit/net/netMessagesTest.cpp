#include "netMessages.h"

#include <gtest/gtest.h>
#include <string>

namespace tonvert {
namespace {

TEST(NetMessages, TextsStayAtTheirPositions) {
    EXPECT_STREQ(netMessages[0], "Abort");
    EXPECT_STREQ(netMessageText(NetMessage::invalidProtocol), "Ivalid protocol");
    EXPECT_STREQ(netMessageText(NetMessage::invalidUrl), "Invalid URL");
    EXPECT_STREQ(netMessageText(NetMessage::connectionAborted), "Internet connection aborted!");
    EXPECT_STREQ(netMessageText(NetMessage::cantCreateBoundary),
                 "Can't create unique multipart boundary!");
    EXPECT_STREQ(netMessages[27], "Out of memory!");
    for (const char* text : netMessages)
        EXPECT_NE(std::string(text), "");
}

TEST(NetMessages, UrlEncode) {
    EXPECT_EQ(urlEncode("azAZ09"), "azAZ09");
    EXPECT_EQ(urlEncode("a b/c.d"), "a%20b%2Fc%2Ed");
    EXPECT_EQ(urlEncode("-_~+%"), "%2D%5F%7E%2B%25");
    EXPECT_EQ(urlEncode(std::string("\xE9\x00\x0A\xFF", 4)), "%E9%00%0A%FF");
    EXPECT_EQ(urlEncode(""), "");
}

} // namespace
} // namespace tonvert
