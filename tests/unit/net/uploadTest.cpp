#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "httpTestServer.h"
#include "inetUpThread.h"
#include "netUnit.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace std::chrono_literals;

class UploadTest : public ::testing::Test {
protected:
    // The service's upload of `file`, to `url` when one is given.
    UploadRequest songUpload(const std::string& file, bool detailed = false,
                             const std::string& url = "") const {
        UploadRequest request{
            url.empty() ? server.url("/cgi-bin/wmn.pl") : url,  file, "BIN", "Song.mid",
            {"VER=1.0", "UID=user@example.org", "PRM=MP3,128"}, {}};
        request.options.detailed = detailed;
        return request;
    }
    TransferResult send(const std::string& file, bool detailed = false,
                        const std::string& url = "") {
        return net.upload(songUpload(file, detailed, url));
    }

    // Runs an upload worker with boundary candidates of the test's choosing.
    const NetWorker& runWorker(const std::string& file, std::vector<std::string> candidates) {
        SessionSettings settings;
        auto next = std::make_shared<std::size_t>(0);
        worker = std::make_unique<TINetUpThread>(
            settings,
            TINetUpThread::Request{server.url("/cgi-bin/wmn.pl"),
                                   file,
                                   "BIN",
                                   "x.mid",
                                   {"VER=1.0", "FIELD=" + candidates.front()},
                                   false},
            [candidates, next] { return candidates.at((*next)++ % candidates.size()); });
        while (!worker->done())
            std::this_thread::sleep_for(5ms);
        return *worker;
    }

    test::RawHttpServer server;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
    test::TempFolder folder;
    std::unique_ptr<TINetUpThread> worker;
};

std::string boundaryOf(const test::RawHttpServer::Request& request) {
    const std::string prefix = "multipart/form-data; boundary=";
    const std::string type = request.header("Content-Type");
    return type.rfind(prefix, 0) == 0 ? type.substr(prefix.size()) : "";
}

TEST_F(UploadTest, TheBodyOnTheWire) {
    const std::string file = folder.file("Song.mid");
    std::string content = "MThd";
    for (int i = 0; i < 5000; ++i)
        content += static_cast<char>(i * 7);
    test::writeBytes(file, content);

    std::vector<double> fractions;
    net.OnProgress = [&](double f) { fractions.push_back(f); };
    TransferResult result = send(file);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "!VAL 1");
    EXPECT_EQ(net.status, "Done retrieving");

    const auto request = server.lastRequest();
    const std::string b = boundaryOf(request);
    ASSERT_EQ(b.size(), 40u);
    EXPECT_EQ(b.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              std::string::npos);
    const std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"VER\"\r\n\r\n1.0\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"UID\"\r\n\r\nuser@example.org\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"PRM\"\r\n\r\nMP3,128\r\n" + "--" + b +
        "\r\nContent-Disposition: form-data; name=\"BIN\"; filename=\"Song.mid\"\r\n"
        "Content-Type: application/upload\r\n\r\n" +
        content + "\r\n--" + b + "--\r\n";
    EXPECT_TRUE(request.body == expected);
    EXPECT_EQ(request.header("Content-Length"), std::to_string(expected.size()));
    EXPECT_FALSE(request.hasHeader("Expect"));
    EXPECT_EQ(request.head.substr(0, 26), "POST /cgi-bin/wmn.pl HTTP/");
    ASSERT_FALSE(fractions.empty());
    EXPECT_LE(fractions.back(), 1.0);

    // A file shorter than a boundary goes whole; an error status is still a completed upload.
    test::writeBytes(file, "tiny");
    server.status = 500;
    result = send(file);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "!VAL 1");
    EXPECT_NE(server.lastRequest().body.find("\r\n\r\ntiny\r\n--"), std::string::npos);

    // An address without a scheme is a web address, whatever its host name.
    server.status = 200;
    result = send(file, false, "ftp.raw.localhost:" + std::to_string(server.port()) + "/up");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(server.lastRequest().head.substr(0, 13), "POST /up HTTP");
}

TEST_F(UploadTest, BoundaryCandidatesThatCollide) {
    std::vector<std::string> candidates;
    for (int i = 0; i < 11; ++i)
        candidates.push_back(std::string(39, 'a' + static_cast<char>(i)) + "Z");
    const std::string file = folder.file("crafted.mid");

    // The file holds the first ten candidates: the worker gives up after ten.
    std::string crafted = "MThd";
    for (int i = 0; i < 10; ++i)
        crafted += "::" + candidates[static_cast<std::size_t>(i)];
    test::writeBytes(file, crafted);
    // The first candidate is also the value of a field: it is passed over without counting.
    std::vector<std::string> withField = candidates;
    withField.insert(withField.begin(), "FIELDVALUE");
    EXPECT_FALSE(runWorker(file, withField).succeeded());
    EXPECT_EQ(worker->message(), "Can't create unique multipart boundary!");

    // The worker passes over a candidate that the file holds.
    std::string holding(256 * 1024 - 20, '.');
    holding += candidates[0] + std::string(200, '.');
    test::writeBytes(file, holding);
    ASSERT_TRUE(runWorker(file, {candidates[0], candidates[1]}).succeeded()) << worker->message();
    EXPECT_EQ(boundaryOf(server.lastRequest()), candidates[1]);

    // One that lies after many reads is found as well.
    std::string late(3000000, '-');
    late += candidates[2];
    test::writeBytes(file, late);
    ASSERT_TRUE(runWorker(file, {candidates[2], candidates[3]}).succeeded());
    EXPECT_EQ(boundaryOf(server.lastRequest()), candidates[3]);
}

TEST_F(UploadTest, RefusedUploads) {
    const std::string file = folder.file("Song.mid");
    test::writeBytes(file, "MThd");
    const auto refusal = [&](const std::string& path, bool detailed, const std::string& url) {
        const TransferResult result = send(path, detailed, url);
        EXPECT_FALSE(result.ok);
        return result.message;
    };
    EXPECT_EQ(refusal(file, true, "ftp://test.localhost/x"), "Ivalid protocol ftp://");
    EXPECT_EQ(refusal(file, false, "ftp://test.localhost/x"), "Ivalid protocol");
    EXPECT_EQ(refusal(file, false, "http://nodot/x"), "Invalid URL");
    EXPECT_EQ(refusal(folder.file("missing.mid"), true, ""),
              "Can't open file " + folder.file("missing.mid"));
    const std::string refused =
        "http://test.localhost:" + std::to_string(test::unusedPort()) + "/cgi-bin/wmn.pl";
    EXPECT_EQ(refusal(file, false, refused), "System error 111: Can't connect to host");
}

TEST_F(UploadTest, NamesThatWouldBreakThePartHeadAreRefusedBeforeSending) {
    const std::string file = folder.file("Song.mid");
    test::writeBytes(file, "MThd");
    for (const char* bad : {"a\"b.mid", "a\rb.mid", "a\nb.mid", "\""}) {
        UploadRequest named = songUpload(file);
        named.uploadName = bad;
        UploadRequest part = songUpload(file, true);
        part.filePartName = std::string("B") + bad;
        UploadRequest field = songUpload(file);
        field.fields.insert(field.fields.begin() + 1, std::string("X") + bad + "=1");

        TransferResult result = net.upload(named);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "Error: Can't open file");
        result = net.upload(part);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "Error: Can't open file " + file);
        result = net.upload(field);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "Error: Can't open file");
    }
    EXPECT_EQ(server.lastRequest().head, "") << "nothing went out";

    // The same characters in a value or in the file's own path are sent as they are.
    const std::string oddPath = folder.file("odd\"\r\nname.mid");
    test::writeBytes(oddPath, "MThd");
    UploadRequest values = songUpload(oddPath);
    values.fields.push_back("NOTE=say \"hi\"\r\nthen go");
    const TransferResult result = net.upload(values);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_NE(server.lastRequest().body.find("\r\n\r\nsay \"hi\"\r\nthen go\r\n"),
              std::string::npos);
}

TEST_F(UploadTest, ServersThatFailOnTheWay) {
    const std::string file = folder.file("Song.mid");
    test::writeBytes(file, std::string(8 << 20, 'x'));

    // The server hangs up while the body is on its way.
    server.ending = test::RawHttpServer::Ending::closeMidBody;
    TransferResult result = send(file);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message == "System error 104: Can't write to URL" ||
                result.message == "System error 32: Can't write to URL")
        << result.message;

    // It takes the whole body and leaves without an answer.
    test::writeBytes(file, "MThd");
    server.ending = test::RawHttpServer::Ending::closeWithoutAnswer;
    result = send(file, true);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Error: Can't read from URL " + server.url("/cgi-bin/wmn.pl"));

    // A download whose body ends before its announced length.
    server.ending = test::RawHttpServer::Ending::shortBody;
    result = net.download({server.url("/list"), "", {}});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Error: Can't read from URL");
}

TEST_F(UploadTest, TheTimeOutLimitsSendingNotTheReply) {
    // A server that takes the connection and never reads: the body stops going out.
    const std::string file = folder.file("Song.mid");
    test::writeBytes(file, std::string(8 << 20, 'x'));
    const test::SilentListener mute;
    net.timeout = 300;
    TransferResult result = send(file, true, mute.url("/up"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Error: Can't write to URL " + mute.url("/up"));

    // One that reads it all and thinks three times the time-out before it answers.
    test::writeBytes(file, "MThd");
    net.timeout = 500;
    server.thinkMs = 1500;
    result = send(file);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.reply, "!VAL 1");

    // Thinking longer than the reply silence, shortened here, ends the upload.
    SessionSettings settings;
    settings.timeout = 300;
    settings.replySilence = 500ms;
    const UploadRequest song = songUpload(file);
    worker = std::make_unique<TINetUpThread>(
        settings, TINetUpThread::Request{song.url, file, song.filePartName, song.uploadName,
                                         song.fields, false});
    while (!worker->done())
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(worker->succeeded());
    EXPECT_EQ(worker->message(), "Error: Can't read from URL");
}

TEST_F(UploadTest, RepliesLongerThanMemoryTakesFail) {
    // Slightly over the cap, sent from one small buffer again and again.
    const std::size_t length = kMaxReplyInMemory + 1;
    const std::string slice(1 << 20, 'r');
    test::HttpTestServer flood;
    const auto answer = [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(length, "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     return sink.write(slice.data(),
                                                       std::min(slice.size(), length - offset));
                                 });
    };
    flood.server.Get("/flood", answer);
    flood.server.Post("/flood", answer);
    flood.start();

    const std::string file = folder.file("Song.mid");
    test::writeBytes(file, "MThd");
    const TransferResult uploaded = send(file, true, flood.url("/flood"));
    EXPECT_FALSE(uploaded.ok);
    EXPECT_EQ(uploaded.reply, "");
    EXPECT_EQ(uploaded.message, "Error: Can't read from URL " + flood.url("/flood"));

    // The download in memory gives up the same way.
    const TransferResult downloaded = net.download({flood.url("/flood"), "", {}});
    EXPECT_FALSE(downloaded.ok);
    EXPECT_EQ(downloaded.message, "Error: Can't read from URL");
}

TEST(BoundaryScan, ReadsThatSplitTheTextFindItToo) {
    test::TempFolder folder;
    const std::string text = std::string(39, 'q') + "Z";
    const auto scan = [&](const std::string& content, std::size_t readSize, bool mayMap) {
        test::writeBytes(folder.file("f"), content);
        const int fd = ::open(folder.file("f").c_str(), O_RDONLY);
        const FileScan result = scanFileFor(fd, text, readSize, mayMap);
        ::close(fd);
        return result;
    };
    for (bool mayMap : {false, true}) {
        // Across the first and second read of 100 bytes, and across later reads.
        EXPECT_EQ(scan(std::string(80, '.') + text + std::string(200, '.'), 100, mayMap),
                  FileScan::found);
        EXPECT_EQ(scan(std::string(1000, '.') + text, 100, mayMap), FileScan::found);
        EXPECT_EQ(scan(std::string(5000, '.') + text.substr(1), 100, mayMap), FileScan::absent);
        EXPECT_EQ(scan(text.substr(0, 30), 100, mayMap), FileScan::absent);
    }
}

TEST(NetWorker, AbandonedWorkerEndsOnItsOwn) {
    // A worker whose thread is still running when its owner lets go of it.
    struct Stubborn : NetWorker {
        explicit Stubborn(std::shared_ptr<std::atomic<bool>> release) {
            start([release](NetWorkerState& state) {
                while (!*release)
                    std::this_thread::sleep_for(1ms);
                state.message = "finished late";
                state.reply.assign(1 << 20, 'x');
            });
        }
    };
    auto release = std::make_shared<std::atomic<bool>>(false);
    WaitingPump pump;
    {
        Stubborn worker(release);
        worker.setOnDone([&pump] { pump.wake(); });
        EXPECT_FALSE(worker.done());
    }
    *release = true; // the thread now writes its own copy of the state and ends
    std::this_thread::sleep_for(50ms);
    SUCCEED() << "no crash, no use after free under the sanitizers";
}

} // namespace
} // namespace tonvert
