#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "http/pages.h"
#include "midiBytes.h"
#include "serviceFixture.h"
#include "store/names.h"
#include "storeSupport.h"

namespace tonvert {
namespace {

using namespace service;
using namespace std::chrono_literals;
using ServiceRoadTest = test::ServiceFixture;

// Renders by copying the MIDI bytes: enough to see a record become an audio file. A file
// tagged "FAIL" is refused.
struct CopyingRenderer : Renderer {
    RenderResult render(const RenderJob& job, const std::string& output) override {
        if (test::readBytes(job.midiPath) == test::taggedMidi("FAIL"))
            return {false, "", "no such format", false, true};
        std::filesystem::copy_file(job.midiPath, output);
        return {true, "mp3", ""};
    }
};

TEST_F(ServiceRoadTest, AccountFundsAndUploadRoad) {
    const std::string user = "ann@example.org";
    EXPECT_EQ(get(signupRequestUrl(host, user)), "!VAL signed up");
    const std::string password = mailedPassword();
    ASSERT_EQ(password.size(), 10u);
    EXPECT_EQ(command(user, password, "listmidi"), "!ERR 1020");
    EXPECT_EQ(command(user, "wrong", "confirm"), "!ERR 1019");
    EXPECT_EQ(command(user, password, "confirm"), "!VAL confirmed");
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(command(user, password, "viewprices"), "!VAL 0.05\t0.10\t0.02\t0.03");

    EXPECT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");
    EXPECT_EQ(command(user, password, "listmidi"),
              "!VAL 1\r\n1\tSong.mid\twaiting\tMP3,128,44100,C,2\r\n");
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 4.85") << "charged once: 0.05 + 0.10";
    EXPECT_EQ(command(user, password, "delmidi", "1"), "!VAL deleted");
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");

    // A new password replaces the old one once it is used.
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    const std::string fresh = mailedPassword();
    EXPECT_NE(fresh, password);
    EXPECT_EQ(command(user, fresh, "viewfunds"), "!VAL 4.85");
    EXPECT_EQ(command(user, password, "viewfunds"), "!ERR 1019");
}

TEST_F(ServiceRoadTest, RenderedFilesComeBackByteForByte) {
    CopyingRenderer copying;
    stop();
    renderer = &copying;
    start();
    const std::string password = account("bob@example.org");
    const std::string tune = test::taggedMidi("tune bytes");
    ASSERT_EQ(upload("bob@example.org", password, "Tune.mid", tune), "!VAL 1");
    std::string list;
    for (int i = 0; i < 500 && list.find("Tune.mp3") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        list = command("bob@example.org", password, "listaudio");
    }
    EXPECT_EQ(list, "!VAL \t1\r\nTune.mp3\t" + std::to_string(tune.size()) + "\r\n");
    EXPECT_EQ(command("bob@example.org", password, "listmidi"), "!VAL 0\r\n");
    EXPECT_EQ(download("bob@example.org", password, "Tune.mp3"), tune);
    EXPECT_EQ(command("bob@example.org", password, "viewfunds"), "!VAL 4.80");

    // Another user sees none of it.
    const std::string other = account("eve@example.org");
    EXPECT_EQ(command("eve@example.org", other, "listaudio"), "!VAL \t0\r\n");
    EXPECT_EQ(command("eve@example.org", other, "getaudio", "Tune.mp3"), "!ERR 1033");
    EXPECT_EQ(command("eve@example.org", other, "delaudio", "Tune.mp3"), "!ERR 1035");

    // A file that cannot be rendered leaves the queue, its fee refunded, and the owner hears
    // why.
    ASSERT_EQ(upload("bob@example.org", password, "Bad.mid", test::taggedMidi("FAIL")), "!VAL 2");
    for (int i = 0; i < 500 && command("bob@example.org", password, "listmidi") != "!VAL 0\r\n";
         ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(mailsWith("no such format"), 1);
    EXPECT_EQ(command("bob@example.org", password, "viewfunds"), "!VAL 4.80");
}

TEST_F(ServiceRoadTest, EveryErrorCode) {
    // What the service logs meanwhile, to be searched for secrets at the end.
    std::ostringstream log;
    std::streambuf* const console = std::clog.rdbuf(log.rdbuf());
    const std::string user = "cid@example.org";
    EXPECT_EQ(get(signupRequestUrl(host, "not an address")), "!ERR 1003");
    EXPECT_EQ(get(signupRequestUrl(host, std::string(120, 'a') + "@example.org")), "!ERR 1002");
    const std::string password = account(user);
    EXPECT_EQ(get(signupRequestUrl(host, "CID@example.org")), "!ERR 1010");
    EXPECT_EQ(command("nobody@example.org", "x", "viewfunds"), "!ERR 1018");
    EXPECT_EQ(command(user, "", "viewfunds"), "!ERR 1001");
    EXPECT_EQ(command(user, password, "delmidi", "abc"), "!ERR 1040");
    EXPECT_EQ(command(user, password, "delmidi", "99"), "!ERR 1042");
    EXPECT_EQ(command(user, password, "getaudio", "Gone.mp3"), "!ERR 1033");

    // Names the client could not read back never get in.
    for (const auto& [name, code] :
         std::vector<std::pair<std::string, std::string>>{{".mid", "!ERR 1037"},
                                                          {"../x.mid", "!ERR 1037"},
                                                          {"a\tb.mid", "!ERR 1037"},
                                                          {"a\x01"
                                                           "b.mid",
                                                           "!ERR 1037"},
                                                          {"Song", "!ERR 1038"},
                                                          {"Song.midi", "!ERR 1039"},
                                                          {"Song.mp3", "!ERR 1039"},
                                                          {"a.b.mid", "!ERR 1039"}})
        EXPECT_EQ(upload(user, password, name, test::taggedMidi("")), code) << name;
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");

    EXPECT_EQ(upload(user, password, "One.mid", test::taggedMidi("")), "!VAL 1");
    EXPECT_EQ(upload(user, password, "ONE.MID", test::taggedMidi("")), "!ERR 1048");
    const auto rendering = store->takeNextJob();
    ASSERT_TRUE(rendering);
    EXPECT_EQ(rendering->record, 1);
    EXPECT_EQ(command(user, password, "delmidi", "1"), "!ERR 1043");
    const std::string other = account("dan@example.org");
    EXPECT_EQ(command("dan@example.org", other, "delmidi", "1"), "!ERR 1042");

    EXPECT_EQ(upload(user, password, "Big.mid", std::string(config.maxUploadBytes + 1, 'x')),
              "!ERR 1050");
    EXPECT_EQ(upload(user, password, "Huge.mid", std::string(config.maxUploadBytes * 2, 'x')),
              "!ERR 1050");
    setBalance(user, 4);
    EXPECT_EQ(upload(user, password, "Two.mid", test::taggedMidi("")), "!ERR 1030");
    setBalance(user, -1);
    EXPECT_EQ(upload(user, password, "Two.mid", test::taggedMidi("")), "!ERR 1029");

    EXPECT_NE(get(serviceScriptUrl(host) + "?LNG=us&VER=2.0&CMD=listmidi")
                  .find("!ERR 1100\t1.0\tupgrade\thttp://" + host + "/upgrade.html"),
              std::string::npos);
    // A Host header of the request's own choosing sends no one elsewhere.
    httplib::Client forger("127.0.0.1", loopback->port());
    const std::string script = serviceScriptUrl(host).substr(("http://" + host).size());
    const auto forged = forger.Get(script + "?VER=2.0&CMD=listmidi", {{"Host", "evil.example"}});
    ASSERT_TRUE(forged);
    EXPECT_EQ(forged->body, "!ERR 1100\t1.0\tupgrade\thttp://" + host + "/upgrade.html");
    EXPECT_EQ(forger.Get("/", {{"Host", "evil.example"}})->body.find("evil"), std::string::npos);

    stop();
    config.closedToNewUsers = true;
    config.maxMidiRecords = 1;
    start();
    EXPECT_EQ(get(signupRequestUrl(host, "new@example.org")), "!ERR 1004");
    setBalance("dan@example.org", 500);
    EXPECT_EQ(upload("dan@example.org", other, "First.mid", test::taggedMidi("")), "!VAL 2");
    EXPECT_EQ(upload("dan@example.org", other, "Second.mid", test::taggedMidi("")), "!ERR 1049");
    stop();
    std::clog.rdbuf(console);
    // No line the service logs holds a password or a request's query.
    for (const std::string& secret : {password, other, std::string("PWD="), std::string("?")})
        EXPECT_EQ(log.str().find(secret), std::string::npos) << secret << " in:\n" << log.str();
}

TEST(AudioNames, TakenNamesGetANumber) {
    EXPECT_EQ(audioNameFor("Song.mid", "mp3", {}), "Song.mp3");
    EXPECT_EQ(audioNameFor("Song.MID", "mp3", {"SONG.MP3", "Song-2.mp3"}), "Song-3.mp3");
    EXPECT_EQ(audioNameFor("Song.mid", "ogg", {"Song.mp3"}), "Song.ogg");
}

TEST_F(ServiceRoadTest, FundsPageCreditsAnAccount) {
    const std::string password = account("gus@example.org");
    httplib::Client browser("127.0.0.1", loopback->port());
    const auto tokenOn = [](const std::string& page) {
        std::smatch found;
        return std::regex_search(
                   page, found,
                   std::regex("name=\"token\" value=\"([0-9]+-[0-9a-f]{16}-[0-9a-f]{32})\""))
                   ? found[1].str()
                   : "";
    };
    const auto freshToken = [&] {
        const auto page = browser.Get("/addfunds.html");
        return page ? tokenOn(page->body) : "";
    };
    struct Answer {
        int status = 0;
        std::string body, location;
    };
    const auto post = [](httplib::Client& client, const std::string& path,
                         const httplib::Params& form) {
        const auto reply = client.Post(path, form);
        EXPECT_TRUE(reply) << path;
        return reply ? Answer{reply->status, reply->body, reply->get_header_value("Location")}
                     : Answer{};
    };
    const auto pay = [&](const std::string& user, const std::string& pwd, const std::string& amount,
                         const std::string& token) {
        return post(browser, "/addfunds.html",
                    {{"uid", user}, {"password", pwd}, {"amount", amount}, {"token", token}});
    };
    const auto booked = [&] {
        const auto entries = store->ledger(store->account("gus@example.org")->id);
        return std::count_if(entries.begin(), entries.end(), [](const LedgerEntry& entry) {
            return entry.reason == "funds added";
        });
    };

    // A payment redirects to its receipt, which shows the same outcome on every load.
    const std::string token = freshToken();
    ASSERT_FALSE(token.empty());
    const Answer paid = pay("gus@example.org", password, "2.50", token);
    EXPECT_EQ(paid.status, 303);
    ASSERT_TRUE(
        std::regex_match(paid.location, std::regex("/addfunds.html\\?receipt=[0-9a-f]{32}")))
        << paid.location;
    for (int load = 0; load < 2; ++load) {
        const auto receipt = browser.Get(paid.location);
        ASSERT_TRUE(receipt);
        EXPECT_EQ(receipt->status, 200);
        EXPECT_NE(receipt->body.find("<span id=\"added\">2.50</span> added to gus@example.org"),
                  std::string::npos);
        EXPECT_NE(receipt->body.find("<strong id=\"balance\">7.50</strong>"), std::string::npos);
        EXPECT_NE(tokenOn(receipt->body), token) << "a receipt's form takes a fresh token";
    }
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 7.50");

    // The same form again books nothing and offers a fresh form, without the amount.
    const Answer again = pay("gus@example.org", password, "2.50", token);
    EXPECT_EQ(again.status, 409);
    EXPECT_NE(again.body.find("already sent or has expired"), std::string::npos);
    EXPECT_EQ(again.body.find("id=\"balance\""), std::string::npos);
    EXPECT_EQ(again.body.find("value=\"2.50\""), std::string::npos);
    EXPECT_NE(tokenOn(again.body), "");
    EXPECT_NE(tokenOn(again.body), token);
    EXPECT_EQ(pay("gus@example.org", password, "1", "").status, 409) << "no token";
    EXPECT_EQ(pay("gus@example.org", password, "1", std::string(32, 'a')).status, 409);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 7.50");

    // Two posts of one form at once, as from a double click, book once.
    for (int round = 0; round < 4; ++round) {
        const std::string shared = freshToken();
        std::vector<Answer> answers(2);
        std::vector<std::thread> clicks;
        for (Answer& answer : answers)
            clicks.emplace_back([&, &answer = answer] {
                httplib::Client client("127.0.0.1", loopback->port());
                answer = post(client, "/addfunds.html",
                              {{"uid", "gus@example.org"},
                               {"password", password},
                               {"amount", "0.25"},
                               {"token", shared}});
            });
        for (auto& click : clicks)
            click.join();
        EXPECT_EQ(std::min(answers[0].status, answers[1].status), 303) << round;
        EXPECT_EQ(std::max(answers[0].status, answers[1].status), 409) << round;
    }
    EXPECT_EQ(booked(), 5);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 8.50");

    // Only the body counts: a password in the query string is never read, and a refusal
    // leaves the form's token for the next try.
    const std::string kept = freshToken();
    const Answer queried = post(browser, "/addfunds.html?password=" + password,
                                {{"uid", "gus@example.org"}, {"amount", "1"}, {"token", kept}});
    EXPECT_EQ(queried.status, 403);
    EXPECT_NE(queried.body.find("Give your account"), std::string::npos);
    EXPECT_EQ(
        post(browser,
             "/addfunds.html?uid=gus@example.org&password=" + password + "&amount=1&token=" + kept,
             {})
            .status,
        400);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 8.50");
    EXPECT_EQ(pay("gus@example.org", password, "1", kept).status, 303);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 9.50");

    // Tokens an hour old and receipts a day old are gone.
    const std::string stale = freshToken();
    later(3601);
    EXPECT_EQ(pay("gus@example.org", password, "1", stale).status, 409);
    later(86400 - 3600);
    for (const std::string& receipt : {paid.location, "/addfunds.html?receipt=" + token}) {
        const auto gone = browser.Get(receipt);
        ASSERT_TRUE(gone);
        EXPECT_EQ(gone->status, 404);
        EXPECT_NE(gone->body.find("unknown or has expired"), std::string::npos);
        EXPECT_EQ(gone->body.find("id=\"balance\""), std::string::npos);
        EXPECT_NE(
            gone->body.find("<input id=\"uid\" name=\"uid\" type=\"text\" inputmode=\"email\" "
                            "autocomplete=\"username\" size=\"40\" value=\"\">"),
            std::string::npos)
            << "an empty form";
    }
    EXPECT_EQ(pay("gus@example.org", password, "1", freshToken()).status, 303);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 10.50");

    // Each refusal books nothing, says why, keeps the user ID but never the password, and
    // leaves a fresh token.
    EXPECT_EQ(get(signupRequestUrl(host, "hal@example.org")), "!VAL signed up");
    const std::string unconfirmed = mailedPassword();
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"gus@example.org", "", "1"}, "Give your account"},
        {{"gus@example.org", "wrong<pwd>", "1"}, "password is wrong"},
        {{"nobody@example.org", password, "1"}, "no account with the user ID nobody@"},
        {{"hal@example.org", unconfirmed, "1"}, "not confirmed"},
        {{"gus@example.org", password, "1.234"}, "at most two decimals"},
        {{"gus@example.org", password, "1,5"}, "at most two decimals"},
        {{"gus@example.org", password, "-5"}, "above 0.00"},
        {{"gus@example.org", password, "0.00"}, "above 0.00"},
        {{"gus@example.org", password, "1000.01"}, "At most 1000.00"},
        {{"gus@example.org", password, "99999999999999999999"}, "At most 1000.00"},
        {{"<b>\"x\"</b>@example.org", password, "1"}, "&lt;b&gt;&quot;x&quot;&lt;/b&gt;@"},
    };
    for (const auto& [fields, message] : refused) {
        const Answer answer = pay(fields[0], fields[1], fields[2], freshToken());
        EXPECT_GE(answer.status, 400) << fields[2];
        EXPECT_NE(answer.body.find(message), std::string::npos) << answer.body;
        const std::string kept = fields[0][0] == '<' ? "&lt;b&gt;&quot;x" : fields[0];
        EXPECT_NE(answer.body.find("value=\"" + kept), std::string::npos) << "user ID not kept";
        if (!fields[1].empty()) {
            EXPECT_EQ(answer.body.find(fields[1]), std::string::npos) << "password echoed";
        }
        EXPECT_EQ(answer.body.find("<b>"), std::string::npos) << "unescaped";
        EXPECT_FALSE(tokenOn(answer.body).empty()) << "a fresh form";
    }
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 10.50");
    EXPECT_EQ(command("hal@example.org", unconfirmed, "confirm"), "!VAL confirmed");
    EXPECT_EQ(command("hal@example.org", unconfirmed, "viewfunds"), "!VAL 5.00");

    EXPECT_EQ(pay("gus@example.org", password, " 1000 ", freshToken()).status, 303);
    EXPECT_EQ(command("gus@example.org", password, "viewfunds"), "!VAL 1010.50");
    EXPECT_NE(browser.Get("/")->body.find("<td class=\"money\" id=\"upload-per-mb\">0.10</td>"),
              std::string::npos);
    EXPECT_EQ(browser.Get("/style.css")->get_header_value("Content-Type"),
              "text/css; charset=utf-8");
    EXPECT_NE(browser.Get("/upgrade.html")->body.find("no download"), std::string::npos);
}

TEST(FundsForm, FieldsAsBrowsersSendThem) {
    EXPECT_EQ(formFields("uid=a%40b.org&password=p%2Bq+r%26&amount=&uid=second&flag&=x&%zz=%4"),
              (std::map<std::string, std::string>{{"uid", "a@b.org"},
                                                  {"password", "p+q r&"},
                                                  {"amount", ""},
                                                  {"flag", ""},
                                                  {"", "x"},
                                                  {"%zz", "%4"}}));
    EXPECT_TRUE(formFields("").empty());
}

TEST_F(ServiceRoadTest, JobInProgressIsTakenAgainAfterARestart) {
    const std::string password = account("fay@example.org");
    ASSERT_EQ(upload("fay@example.org", password, "Long.mid", test::taggedMidi("")), "!VAL 1");
    ASSERT_TRUE(store->takeNextJob());
    stop(); // the service dies while the job runs
    CopyingRenderer copying;
    renderer = &copying;
    start();
    std::string list;
    for (int i = 0; i < 500 && list.find("Long.mp3") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        list = command("fay@example.org", password, "listaudio");
    }
    EXPECT_EQ(list,
              "!VAL \t1\r\nLong.mp3\t" + std::to_string(test::taggedMidi("").size()) + "\r\n");
}

TEST_F(ServiceRoadTest, UploadLimitsRefuseBeforeAnyFee) {
    const std::string user = "kim@example.org";
    const std::string password = account(user);
    // Names no request could address again or that are no text, and presets the service
    // does not render, are refused before any fee.
    const std::string longest = std::string(kMaxUploadRootBytes, 'r');
    EXPECT_EQ(upload(user, password, longest + "x.mid", test::taggedMidi("")), "!ERR 1040");
    EXPECT_EQ(upload(user, password, std::string(5000, 'r') + ".mid", test::taggedMidi("")),
              "!ERR 1040");
    for (const char* notText : {"\xC3.mid", "\xC0\xAF.mid", "\xED\xA0\x80.mid", "Caf\xE9.mid"})
        EXPECT_EQ(upload(user, password, notText, test::taggedMidi("")), "!ERR 1040") << notText;
    for (const char* preset : {"", "MP3,128,44100,C", "MP3,129,44100,C,2", "WAV,1378,8000,C,2",
                               "FLAC,1,44100,C,2", "MP3,0128,44100,C,2"})
        EXPECT_EQ(upload(user, password, "Song.mid", test::taggedMidi(""), preset), "!ERR 1041")
            << preset;
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");
    // A name of the longest root in UTF-8, with an offered preset, goes in.
    EXPECT_EQ(upload(user, password, "Caf\xC3\xA9 " + longest.substr(6) + ".mid",
                     test::taggedMidi(""), "OGG,500,44100,V,2"),
              "!VAL 1");
}

TEST_F(ServiceRoadTest, TheDataFolderAndDatabaseAreTheOwnersOnly) {
    namespace fs = std::filesystem;
    // A folder an older service left readable to all is made private at the next start.
    stop();
    const std::string data = folder.file("data");
    fs::permissions(data, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(data + "/tonvert.sqlite", fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);
    start();
    account("gil@example.org");
    const auto others = fs::perms::group_all | fs::perms::others_all;
    for (const char* path :
         {"", "/outbox", "/midi", "/audio", "/scratch", "/tonvert.sqlite", "/tonvert.sqlite-wal"})
        EXPECT_EQ(fs::status(data + path).permissions() & others, fs::perms::none) << path;
}

// A store whose database has stopped answering.
struct SilentStore : test::ForwardingStore {
    using ForwardingStore::ForwardingStore;
    bool answers() override { return false; }
};

TEST_F(ServiceRoadTest, HealthAndReadinessAreToldToTheOperator) {
    const auto probe = [this](const char* path) {
        httplib::Client client("127.0.0.1", loopback->port());
        const auto answer = client.Get(path);
        return answer ? std::to_string(answer->status) + " " + answer->body : "no answer";
    };
    EXPECT_EQ(probe("/healthz"), "200 ok\n");
    EXPECT_EQ(probe("/readyz"), "200 ready\n");
    stop();
    config.scratchRoomBytes = std::numeric_limits<std::uint64_t>::max();
    start();
    EXPECT_EQ(probe("/readyz").rfind("503 not ready: the scratch folder has ", 0), 0u);
    stop();
    config.scratchRoomBytes = 0;
    wrapStore = [](std::unique_ptr<Store> inner) -> std::unique_ptr<Store> {
        return std::make_unique<SilentStore>(std::move(inner));
    };
    start();
    EXPECT_EQ(probe("/readyz"), "503 not ready: the store does not answer\n");
    EXPECT_EQ(probe("/healthz"), "200 ok\n");
}

} // namespace
} // namespace tonvert
