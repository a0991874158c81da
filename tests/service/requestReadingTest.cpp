// The service's reading of requests apart from its sockets: the listener's verdict on a
// request's head and what it says of the body, and the fields the script's routes take from what
// the library parsed.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "http/clientAddress.h"
#include "http/requestHead.h"
#include "protocol/requestFields.h"

namespace tonvert {
namespace {

using namespace service;

// The verdict as the listener reaches it on bytes that arrive `piece` at a time: the first
// one other than partial.
Head inPieces(const std::string& bytes, std::size_t piece, std::size_t maxBytes) {
    std::string buffer;
    std::size_t scanned = 0;
    Head verdict = Head::partial;
    for (std::size_t at = 0; at < bytes.size() && verdict == Head::partial; at += piece) {
        buffer += bytes.substr(at, piece);
        verdict = scanHead(buffer, scanned, maxBytes);
    }
    return verdict;
}

TEST(RequestHeadTest, HeadsAreJudgedAlikeHoweverTheyArrive) {
    constexpr std::size_t kMax = 64;
    const std::string line = "GET /cgi-bin/wmn.pl HTTP/1.1\r\n"; // 30 bytes
    struct Case {
        std::string bytes;
        Head verdict;
    };
    const std::vector<Case> cases = {
        {line + "Host: h\r\n\r\n", Head::whole},
        {line + "Host: h\r\n\r\nGET / HTTP/1.1\r\n", Head::whole}, // the next request behind
        {line + "X: " + std::string(kMax - 37, 'x') + "\r\n\r\n", Head::whole}, // kMax exactly
        // One byte over: too large whether it comes at once or byte by byte.
        {line + "X: " + std::string(kMax - 36, 'x') + "\r\n\r\n", Head::tooLarge},
        {line + "X: " + std::string(200, 'x') + "\r\n\r\n", Head::tooLarge},
        {"GET /" + std::string(kMax, 'a') + " HTTP/1.1\r\n\r\n", Head::tooLarge},
        {std::string(kMax + 10, 'G') + " / HTTP/1.1\r\n\r\n", Head::tooLarge},
        {line + "Host: h\r\n", Head::partial},
        {"BREW /pot HTTP/1.1\r\n\r\n", Head::unknownMethod},
        {"GET / HTTP/1.1\nHost: h\n\n", Head::malformed},
        {"GET / HTTP/2.0\r\n\r\n", Head::malformed},
    };
    for (const Case& each : cases) {
        std::size_t scanned = 0;
        EXPECT_EQ(scanHead(each.bytes, scanned, kMax), each.verdict) << each.bytes;
        for (const std::size_t piece : {1, 7, 16})
            EXPECT_EQ(inPieces(each.bytes, piece, kMax), each.verdict)
                << piece << "-byte pieces: " << each.bytes;
    }
}

TEST(RequestHeadTest, ABodyIsFramedByItsLengthAlone) {
    using Kind = BodyFraming::Kind;
    struct Case {
        std::string headers;
        Kind kind;
        std::uint64_t length;
        bool expectsContinue;
    };
    const std::vector<Case> cases = {
        {"", Kind::length, 0, false},
        {"content-length:  12 \r\nExpect: 100-continue\r\n", Kind::length, 12, true},
        {"Content-Length: 5\r\nContent-Length: 5\r\n", Kind::length, 5, false},
        {"X-Content-Length: 5\r\nContent-Length: 5\n", Kind::length, 0, false}, // no CR LF
        {"Content-Length: 5\r\nContent-Length: 6\r\n", Kind::malformed, 0, false},
        {"Content-Length: -1\r\n", Kind::malformed, 0, false},
        {"Content-Length: 5x\r\n", Kind::malformed, 0, false},
        {"Content-Length: 99999999999999999999\r\n", Kind::malformed, 0, false},
        {"Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", Kind::lengthRequired, 0, false},
    };
    for (const Case& each : cases) {
        const std::string head = "POST / HTTP/1.1\r\nHost: h\r\n" + each.headers + "\r\n";
        EXPECT_EQ(headLength(head + "next"), head.size()) << each.headers;
        const BodyFraming framing = bodyFraming(head);
        EXPECT_EQ(framing.kind, each.kind) << each.headers;
        EXPECT_EQ(framing.length, each.length) << each.headers;
        EXPECT_EQ(framing.expectsContinue, each.expectsContinue) << each.headers;
    }
}

TEST(RequestFieldsTest, TheFirstOfEachNameCounts) {
    const httplib::Params params = {{"CMD", "listmidi"}, {"UID", "a@b.c"}, {"CMD", "delmidi"}};
    const auto query = queryFields(params);
    EXPECT_EQ(query.size(), 2u);
    EXPECT_EQ(query.at("CMD"), "listmidi");

    httplib::MultipartFormDataMap parts;
    parts.emplace("FNM", httplib::MultipartFormData{"FNM", "Song.mid", "", ""});
    parts.emplace("BIN", httplib::MultipartFormData{"BIN", "MThd one", "Song.mid", ""});
    parts.emplace("BIN", httplib::MultipartFormData{"BIN", "MThd two", "Other.mid", ""});
    parts.emplace("FNM", httplib::MultipartFormData{"FNM", "Other.mid", "", ""});
    const UploadFields read = uploadFields(parts);
    ASSERT_TRUE(read.upload);
    EXPECT_EQ(read.upload->content, "MThd one");
    EXPECT_EQ(read.upload->fileName, "Song.mid");
    EXPECT_EQ(read.fields.count("BIN"), 0u) << "a later file part is no field";
    EXPECT_EQ(read.fields.at("FNM"), "Song.mid");
    EXPECT_FALSE(uploadFields({}).upload);

    const auto form = formFields("uid=a%40b.c&amount=2.5&&uid=x&password=p+w%26&%zz=1");
    EXPECT_EQ(form.at("uid"), "a@b.c");
    EXPECT_EQ(form.at("password"), "p w&");
    EXPECT_EQ(form.at("%zz"), "1") << "an escape that is none stays as it is";
}

// A request names its client only through the proxy on this machine, and only as an address.
TEST(ClientAddressTest, OnlyTheLocalProxyNamesTheClient) {
    const struct {
        const char* peer;
        const char* realIp;
        const char* client;
    } cases[] = {
        {"127.0.0.1", "203.0.113.7", "203.0.113.7"},
        {"::1", "2001:db8::1", "2001:db8::1"},
        {"::ffff:127.0.0.1", "203.0.113.7", "203.0.113.7"},
        {"127.0.0.1", "", "127.0.0.1"},
        {"127.0.0.1", "203.0.113.7, 10.0.0.1", "127.0.0.1"},
        {"198.51.100.2", "203.0.113.7", "198.51.100.2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clientAddress(c.peer, c.realIp), c.client) << c.peer << " " << c.realIp;
}

} // namespace
} // namespace tonvert
