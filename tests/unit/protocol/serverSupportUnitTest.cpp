#include "serverSupportUnit.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

const std::string kSupport = "help@tonvert.example.com";

// "message|address" of an error reply, or "-" when the reply is not taken as an error.
std::string parse(const std::string& reply) {
    std::string message = "old", address = "old";
    if (!parseServerError(reply, kSupport, message, address))
        return "-";
    return message + "|" + address;
}

TEST(ServerSupportUnit, ErrorCodes) {
    EXPECT_EQ(parse("\r\n\r\n!ERR 1019\tx"), "Wrong password.|");
    EXPECT_EQ(parse("!ERR 1019\r\n"), "Server error.|");
    EXPECT_EQ(parse("!ERR \t"), "Server error.|");
    EXPECT_EQ(parse("!ERR 99999999999"), "Server error.|");
    EXPECT_EQ(parse("!ERR 999"), "Unknown server error.|");
    EXPECT_EQ(parse("!ERR 1080"), "Unknown server error.|");
    EXPECT_EQ(parse("!ERR 1062"), "Unknown server error.|");
    EXPECT_EQ(parse("!ERR 1061"), "Server error 1061. Please notify " + kSupport + "|");
    EXPECT_EQ(parse("!ERR 1007"), "Server error 1007. Please notify " + kSupport + "|");
    EXPECT_EQ(parse("!ERR 1020"), "Unconfirmed account. Please select \"Confirm account\" in the "
                                  "Setup menu to confirm your account.|");
    EXPECT_EQ(parse("!ERR 1000"), "-");
    EXPECT_EQ(parse("!VAL 1019"), "-");
    EXPECT_EQ(parse("!ERR"), "-");
}

TEST(ServerSupportUnit, UpgradeAddress) {
    const std::string tooOld = "Client application too old. Please upgrade.";
    EXPECT_EQ(parse("!ERR 1100\tf1\tf2\t \thttp://www.example.com/new \r\n"),
              tooOld + " Go to\n\nhttp://www.example.com/new\n\nnow?|http://www.example.com/new");
    EXPECT_EQ(parse("!ERR 1100\tf1\tf2\t\x7F http://www.example.com/b\t\x7F\x01\n"),
              tooOld + " Go to\n\nhttp://www.example.com/b\n\nnow?|http://www.example.com/b");
    // Fewer fields: what follows the last tab, less the blanks and line breaks that end it.
    EXPECT_EQ(parse("!ERR 1100\tftp://files.example.com/c"),
              tooOld + " Go to\n\nftp://files.example.com/c\n\nnow?|ftp://files.example.com/c");
    EXPECT_EQ(parse("!ERR 1100\tx\thttp://host.example.com/upgrade.html\r\n"),
              tooOld + " Go to\n\nhttp://host.example.com/upgrade.html\n\nnow?|"
                       "http://host.example.com/upgrade.html");
    EXPECT_EQ(parse("!ERR 1100\thttp://www.example.com/new \x7F\x1B \r\n\r\n"),
              tooOld + " Go to\n\nhttp://www.example.com/new\n\nnow?|http://www.example.com/new");
    // What leads the address in a short reply is kept, and spoils it.
    EXPECT_EQ(parse("!ERR 1100\tx\t http://www.example.com/new\r\n"), tooOld + "|");
    EXPECT_EQ(parse("!ERR 1100\t\nhttp://www.example.com/new"), tooOld + "|");
    // A break inside the address is not trimmed away.
    EXPECT_EQ(parse("!ERR 1100\tx\thttp://www.example.com/a\r\nb\r\n"), tooOld + "|");
    EXPECT_EQ(parse("!ERR 1100\tx\t \r\n"), tooOld + "|");
    // Never a bare name that the shell could take for a program.
    EXPECT_EQ(parse("!ERR 1100\tf1\tf2\tsetup.exe").substr(tooOld.size()),
              " Go to\n\nhttp://setup.exe\n\nnow?|http://setup.exe");
    EXPECT_EQ(parse("!ERR 1100\tf1\tf2\thttp://example.com/a b"), tooOld + "|");
    EXPECT_EQ(parse("!ERR 1100\tf1\tf2\thttps://example.com/"), tooOld + "|");
    EXPECT_EQ(parse("!ERR 1100"), tooOld + "|");
}

TEST(ServerSupportUnit, RemoveBlanks) {
    EXPECT_EQ(removeBlanks("1 234 567"), "1234567");
    EXPECT_EQ(removeBlanks(" a\tb \n"), "a\tb\n");
}

} // namespace
} // namespace tonvert
