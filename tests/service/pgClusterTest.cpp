// Two fronts and three render workers, each a process of its own, on one PostgreSQL database:
// what any front takes in is rendered once, a worker killed mid-render leaves its job to
// another, and every ledger matches its balance. (An upload whose front dies before its
// commit is pgStoreTest's.)

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <numeric>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "childProcess.h"
#include "midiBytes.h"
#include "pgServer.h"
#include "protocol/passwords.h"
#include "rawConnection.h"
#include "store/names.h"
#include "store/pgDatabase.h"
#include "store/pgStore.h"
#include "storeSupport.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace service;
using namespace std::chrono_literals;

const char* const kScript = "/cgi-bin/wmn.pl";

// A mistyped --store is refused at the start, never served from a SQLite database of its own.
TEST(ServiceProgram, RefusesAStoreThatIsNoPostgresUrl) {
    test::TempFolder folder;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string data = folder.file("data");
        ::execl(TONVERT_SERVICE_BINARY, TONVERT_SERVICE_BINARY, "--listen", "127.0.0.1:0", "--data",
                data.c_str(), "--store", "postgress://localhost/tonvert",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 600 && !ended; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            std::this_thread::sleep_for(50ms);
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended) << "went on serving";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_FALSE(std::filesystem::exists(folder.file("data") + "/tonvert.sqlite"));
}

// A test program killed outright leaves no database server behind.
TEST(PgTestServer, StopsWhenItsProgramIsKilled) {
    std::string why;
    if (test::PgServer::shared(why) == nullptr)
        TONVERT_WITHOUT_POSTGRES(why);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t program = ::fork();
    if (program == 0) {
        ::close(ends[0]);
        std::string failure;
        const auto server = test::PgServer::startNew(failure);
        const int port = server ? server->port() : 0;
        if (::write(ends[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ASSERT_GT(program, 0);
    ::close(ends[1]);
    int port = 0;
    const bool told = ::read(ends[0], &port, sizeof port) == sizeof port;
    ::close(ends[0]);
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    ASSERT_TRUE(told && port > 0) << "the program's server did not start";
    bool stopped = false;
    for (int i = 0; i < 600 && !stopped; ++i) {
        stopped = !test::RawConnection(port).connected();
        if (!stopped)
            std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(stopped);
}

struct Front {
    int port = 0;
    std::unique_ptr<test::ChildProcess> process;
};

class PgCluster : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        test::PgServer* server = test::PgServer::shared(why);
        if (server == nullptr)
            TONVERT_WITHOUT_POSTGRES(why);
        url = server->newDatabase();
        StoreOptions options;
        store = std::make_unique<PgStore>(url, folder.file("test"), options);
        for (int i = 0; i < 2; ++i) {
            Front front;
            front.port = test::freePort();
            front.process = std::make_unique<test::ChildProcess>(std::vector<std::string>{
                TONVERT_SERVICE_BINARY, "--store", url, "--no-render", "--listen",
                "127.0.0.1:" + std::to_string(front.port), "--data",
                folder.file("front" + std::to_string(i)), "--http-threads", "4"});
            fronts.push_back(std::move(front));
        }
        for (int i = 0; i < 3; ++i)
            workers.push_back(std::make_unique<test::ChildProcess>(
                std::vector<std::string>{TONVERT_TEST_WORKER_BINARY, "--store", url, "--workers",
                                         "1", "--lease-seconds", "3", "--data", workerFolder(i)}));
        // A busy machine may take a while to start them.
        for (const Front& front : fronts) {
            bool up = false;
            for (int i = 0; i < 3000 && !up; ++i) {
                up = test::RawConnection(front.port).connected();
                if (!up)
                    std::this_thread::sleep_for(10ms);
            }
            ASSERT_TRUE(up) << "a front did not come up";
        }
    }

    std::string workerFolder(int worker) const {
        return folder.file("worker" + std::to_string(worker));
    }
    // A confirmed account with a password that is quick to check.
    std::string account(const std::string& user) {
        const std::string password = "secret of " + user;
        const auto id = store->addAccount({user, hashPassword(password, {64, 1, 1}), 500});
        EXPECT_TRUE(id);
        EXPECT_TRUE(store->confirmAccount(*test::callerOf(*store, user)));
        passwords[user] = password;
        return password;
    }
    std::string upload(const Front& front, const std::string& user, const std::string& name,
                       const std::string& bytes) {
        httplib::Client client("127.0.0.1", front.port);
        const httplib::MultipartFormDataItems form = {
            {"UID", user, "", ""},         {"PWD", passwords[user], "", ""},
            {"LNG", "us", "", ""},         {"VER", "1.0", "", ""},
            {"CMD", "submitmidi", "", ""}, {"PRM", "MP3,128,44100,C,2", "", ""},
            {"FNM", name, "", ""},         {"BIN", bytes, name, "audio/midi"}};
        const auto result = client.Post(kScript, form);
        return result ? result->body : "no reply";
    }
    // The worker rendering the job of that name now, or -1.
    int workerRendering(const std::string& name) const {
        for (int i = 0; i < 3; ++i)
            if (test::readBytes(workerFolder(i) + "/rendering") == name)
                return i;
        return -1;
    }
    std::size_t queued() {
        std::size_t count = 0;
        for (const auto& [user, password] : passwords)
            count += store->midiRecords(test::callerOf(*store, user)->account).size();
        return count;
    }
    // The "Rendered:" mails the workers sent, by recipient and subject.
    std::map<std::string, int> renderedMails() const {
        std::map<std::string, int> mails;
        for (int i = 0; i < 3; ++i) {
            std::error_code error;
            for (const auto& entry :
                 std::filesystem::directory_iterator(workerFolder(i) + "/outbox", error)) {
                const std::string mail = test::readBytes(entry.path().string());
                const auto to = mail.find("To: ");
                const auto subject = mail.find("Subject: Rendered: ");
                if (to != std::string::npos && subject != std::string::npos)
                    ++mails[mail.substr(to + 4, mail.find('\r', to) - to - 4) + " " +
                            mail.substr(subject + 9, mail.find('\r', subject) - subject - 9)];
            }
        }
        return mails;
    }
    // Mails published but not yet sent (or being sent).
    std::int64_t keptMail() const {
        PgConnection db(url);
        return db.queryOne("SELECT count(*) FROM mail_outbox")->integer(0);
    }
    int mailCount() const {
        int count = 0;
        for (const auto& [mail, times] : renderedMails())
            count += times;
        return count;
    }

    test::TempFolder folder;
    std::string url;
    std::unique_ptr<PgStore> store;
    std::vector<Front> fronts;
    std::vector<std::unique_ptr<test::ChildProcess>> workers;
    std::map<std::string, std::string> passwords;
};

TEST_F(PgCluster, JobsFromEitherFrontAreRenderedOnceAndNoLedgerGoesWrong) {
    const std::vector<std::string> users = {"ann@example.org", "bob@example.org",
                                            "cyd@example.org"};
    for (const std::string& user : users)
        account(user);

    // A slow job; its worker is killed mid-render, and the job's lease runs out.
    ASSERT_EQ(upload(fronts[0], users[0], "Slow.mid", test::taggedMidi("slow")), "!VAL 1");
    int killed = -1;
    for (int i = 0; i < 500 && killed < 0; ++i) {
        std::this_thread::sleep_for(10ms);
        killed = workerRendering("Slow.mid");
    }
    ASSERT_GE(killed, 0) << "no worker took the slow job";
    workers[static_cast<std::size_t>(killed)]->end(SIGKILL);

    // Uploads through both fronts, side by side.
    std::map<std::string, std::string> expected{{"Slow.mp3", test::taggedMidi("slow")}};
    std::vector<std::thread> uploaders;
    std::mutex answersMutex;
    std::vector<std::string> answers;
    for (std::size_t u = 0; u < users.size(); ++u)
        uploaders.emplace_back([&, u] {
            for (int n = 0; n < 3; ++n) {
                const std::string name = "Song" + std::to_string(n) + ".mid";
                const std::string answer = upload(fronts[(u + n) % 2], users[u], name,
                                                  test::taggedMidi(users[u] + " " + name));
                std::lock_guard lock(answersMutex);
                answers.push_back(answer);
            }
        });
    for (std::thread& uploader : uploaders)
        uploader.join();
    for (const std::string& answer : answers)
        EXPECT_EQ(answer.rfind("!VAL ", 0), 0u) << answer;

    for (int i = 0; i < 6000 && queued() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(queued(), 0u);
    for (std::size_t u = 0; u < users.size(); ++u) {
        const auto caller = test::callerOf(*store, users[u]);
        const auto files = store->audioFiles(caller->account);
        EXPECT_EQ(files.size(), u == 0 ? 4u : 3u) << users[u] << ": each job published once";
        for (const AudioFile& file : files) {
            const std::string want =
                file.name == "Slow.mp3"
                    ? test::taggedMidi("slow")
                    : test::taggedMidi(users[u] + " " + rootOf(file.name) + ".mid");
            EXPECT_EQ(test::audioBytes(*store, users[u], file.name), want) << file.name;
        }
        const auto ledger = store->ledger(caller->account);
        const std::int64_t sum = std::accumulate(
            ledger.begin(), ledger.end(), std::int64_t(0),
            [](std::int64_t total, const LedgerEntry& entry) { return total + entry.amount; });
        const std::int64_t balance = store->accountById(caller->account)->balance;
        EXPECT_EQ(sum, balance) << users[u];
        EXPECT_EQ(balance, 500 - 15 * static_cast<std::int64_t>(files.size()))
            << users[u] << ": one upload fee per file, none twice";
    }

    // The slow job was begun at least twice: by the worker killed, and by the one that took it
    // over once the lease ran out. A renewal late on a busy machine may hand it on once more;
    // what counts is that it was published, charged and mailed once.
    int begun = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string names = test::readBytes(workerFolder(i) + "/begun");
        for (auto at = names.find("Slow.mid\n"); at != std::string::npos;
             at = names.find("Slow.mid\n", at + 1))
            ++begun;
    }
    EXPECT_GE(begun, 2);

    // Each owner is mailed once per file, by whichever worker published it. Mail goes out
    // from the store's outbox: once that is empty and nothing is queued, no more can come.
    for (int i = 0; i < 6000 && (mailCount() < 10 || keptMail() > 0); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(keptMail(), 0);
    const auto mails = renderedMails();
    EXPECT_EQ(mails.size(), 10u);
    for (const auto& [mail, times] : mails)
        EXPECT_EQ(times, 1) << mail;
    EXPECT_EQ(mails.count("<ann@example.org> Rendered: Slow.mid"), 1u);
}

// A front and a worker started before their database exists wait for it: the front answers
// meanwhile, /readyz saying it is not ready; once the database is made both take it up.
TEST(LateStore, FrontAndWorkerWaitForTheirDatabase) {
    std::string why;
    test::PgServer* server = test::PgServer::shared(why);
    if (server == nullptr)
        TONVERT_WITHOUT_POSTGRES(why);
    const std::string made = server->newDatabase();
    const std::string serverUrl = made.substr(0, made.rfind('/') + 1);
    const std::string url = serverUrl + "late";
    test::TempFolder folder;
    const int port = test::freePort();
    test::ChildProcess front({TONVERT_SERVICE_BINARY, "--store", url, "--no-render", "--listen",
                              "127.0.0.1:" + std::to_string(port), "--data", folder.file("front")},
                             {.quietErrors = true});
    test::ChildProcess worker({TONVERT_TEST_WORKER_BINARY, "--store", url, "--workers", "1",
                               "--data", folder.file("worker")},
                              {.quietErrors = true});
    httplib::Client client("127.0.0.1", port);
    const auto readiness = [&] {
        const auto reply = client.Get("/readyz");
        return reply ? reply->status : 0;
    };
    for (int i = 0; i < 3000 && readiness() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(readiness(), 503);
    EXPECT_EQ(client.Get("/healthz")->status, 200);
    EXPECT_EQ(client.Get(std::string(kScript) + "?VER=1.0&CMD=viewfunds")->body, "!ERR 1005");

    PgConnection(serverUrl + "postgres").execute("CREATE DATABASE late");
    // The first delays double from half a second: both try again within a few seconds.
    for (int i = 0; i < 3000 && readiness() != 200; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(readiness(), 200);
    PgStore store(url, folder.file("test"), {});
    const auto id = store.addAccount({"late@example.org", hashPassword("pw", {64, 1, 1}), 500});
    ASSERT_TRUE(id);
    ASSERT_TRUE(store.confirmAccount(*test::callerOf(store, "late@example.org")));
    const httplib::MultipartFormDataItems form = {
        {"UID", "late@example.org", "", ""},
        {"PWD", "pw", "", ""},
        {"VER", "1.0", "", ""},
        {"CMD", "submitmidi", "", ""},
        {"PRM", "MP3,128,44100,C,2", "", ""},
        {"FNM", "Late.mid", "", ""},
        {"BIN", test::taggedMidi("late"), "Late.mid", "audio/midi"}};
    ASSERT_EQ(client.Post(kScript, form)->body, "!VAL 1");
    const auto account = test::callerOf(store, "late@example.org")->account;
    for (int i = 0; i < 3000 && store.audioFiles(account).empty(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(store.audioFiles(account).size(), 1u) << "the worker took no job";
}

} // namespace
} // namespace tonvert
