// Stores made by the service before its schema had versions (tests/service/oldStores) open in
// this one with every account, balance, ledger line, audio file and waiting upload as it was;
// a database of a newer version than the program's is refused and left alone.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <numeric>
#include <sqlite3.h>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "loopbackService.h"
#include "messagePump.h"
#include "netUnit.h"
#include "pgServer.h"
#include "serviceRequests.h"
#include "store/pgDatabase.h"
#include "store/pgStore.h"
#include "store/schema.h"
#include "store/sqliteStore.h"
#include "testFiles.h"
#include "urlsUnit.h"

namespace tonvert::test {
namespace {

using namespace service;

const std::string kOldStores = TONVERT_OLD_STORES;

// What the old service answered its users: passwords, then (user, command, reply) lines.
struct Answers {
    std::map<std::string, std::string> passwords;
    std::vector<std::tuple<std::string, std::string, std::string>> replies;
};

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return out;
}

Answers answersOf(const std::string& store) {
    Answers answers;
    std::ifstream in(kOldStores + "/" + store + ".expected.txt");
    for (std::string line; std::getline(in, line);) {
        const std::size_t first = line.find('\t');
        const std::size_t second = line.find('\t', first + 1);
        if (second == std::string::npos)
            answers.passwords[line.substr(0, first)] = line.substr(first + 1);
        else
            answers.replies.emplace_back(line.substr(0, first),
                                         line.substr(first + 1, second - first - 1),
                                         unescaped(line.substr(second + 1)));
    }
    return answers;
}

// Everything each user had is there, as the upgraded service answers it and in its store.
void expectIntact(LoopbackService& service, const Answers& old) {
    ASSERT_FALSE(old.replies.empty());
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    const auto ask = [&](const std::string& user, const std::string& command,
                         const std::string& value = "") {
        return net
            .download(
                {serviceRequestUrl(service.host(), user, old.passwords.at(user), command, value),
                 "",
                 {}})
            .reply;
    };
    for (const auto& [user, command, reply] : old.replies)
        EXPECT_EQ(ask(user, command), reply) << user << " " << command;
    for (const auto& [user, password] : old.passwords) {
        const auto account = service.store().account(user);
        ASSERT_TRUE(account) << user;
        const auto ledger = service.store().ledger(account->id);
        EXPECT_EQ(std::accumulate(ledger.begin(), ledger.end(), std::int64_t(0),
                                  [](std::int64_t sum, const LedgerEntry& entry) {
                                      return sum + entry.amount;
                                  }),
                  account->balance)
            << user;
        // Each audio file's body comes back whole.
        for (const AudioFile& file : service.store().audioFiles(account->id)) {
            const TransferResult body = net.download(
                {audioDownloadUrlPrefix(service.host(), user, password) + urlEncode(file.name),
                 "",
                 {}});
            EXPECT_EQ(static_cast<std::int64_t>(body.reply.size()), file.size) << file.name;
        }
    }
    // The user who never confirmed still can.
    EXPECT_EQ(ask("carl@example.org", kConfirmCommand), "!VAL confirmed");
}

std::string copyOfOldSqliteStore(TempFolder& folder) {
    const std::string data = folder.file("data");
    std::filesystem::copy(kOldStores + "/sqlite", data, std::filesystem::copy_options::recursive);
    return data;
}

void setSqliteVersion(const std::string& data, int version) {
    sqlite3* db = nullptr;
    sqlite3_open((data + "/tonvert.sqlite").c_str(), &db);
    const std::string update = "UPDATE schema_version SET version = " + std::to_string(version);
    EXPECT_EQ(sqlite3_exec(db, update.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

std::int64_t sqliteVersion(const std::string& data) {
    sqlite3* db = nullptr;
    sqlite3_open((data + "/tonvert.sqlite").c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT version FROM schema_version", -1, &statement, nullptr);
    const std::int64_t version =
        sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return version;
}

std::string oldPostgresStore(PgServer& server) {
    const std::string url = server.newDatabase();
    const std::string load = "psql -q -v ON_ERROR_STOP=1 -d '" + url + "' -f " + kOldStores +
                             "/postgresql.sql > /dev/null";
    EXPECT_EQ(std::system(load.c_str()), 0) << load;
    return url;
}

TEST(SchemaUpgrade, TheSqliteStoreOfTheUnversionedServiceKeepsEverything) {
    TempFolder folder;
    const std::string data = copyOfOldSqliteStore(folder);
    {
        LoopbackService service(data, nullptr);
        expectIntact(service, answersOf("sqlite"));
    }
    EXPECT_EQ(sqliteVersion(data), latestSchemaVersion());
}

TEST(SchemaUpgrade, ThePostgresStoreOfTheUnversionedServiceKeepsEverything) {
    std::string why;
    PgServer* server = PgServer::shared(why);
    if (server == nullptr)
        TONVERT_WITHOUT_POSTGRES(why);
    TempFolder folder;
    const std::string url = oldPostgresStore(*server);
    {
        LoopbackService service(std::make_unique<PgStore>(url, folder.file("front")), nullptr, {});
        expectIntact(service, answersOf("postgresql"));
    }
    PgConnection db(url);
    EXPECT_EQ(db.queryOne("SELECT version FROM schema_version")->integer(0), latestSchemaVersion());
}

// A program older than its database would write rows the newer one does not expect.
TEST(SchemaUpgrade, ADatabaseOfANewerVersionIsRefusedAndLeftAlone) {
    const int newer = latestSchemaVersion() + 1;
    const auto expectRefused = [&](const std::function<void()>& open) {
        try {
            open();
            ADD_FAILURE() << "a newer schema was taken";
        } catch (const std::runtime_error& refusal) {
            EXPECT_NE(std::string(refusal.what()).find("newer than this program's"),
                      std::string::npos)
                << refusal.what();
        }
    };

    TempFolder folder;
    const std::string data = copyOfOldSqliteStore(folder);
    { SqliteStore upgraded(data); }
    setSqliteVersion(data, newer);
    expectRefused([&] { SqliteStore store(data); });
    EXPECT_EQ(sqliteVersion(data), newer);

    std::string why;
    PgServer* server = PgServer::shared(why);
    if (server == nullptr)
        TONVERT_WITHOUT_POSTGRES(why);
    const std::string url = server->newDatabase();
    { PgStore made(url, folder.file("pg")); }
    PgConnection(url).execute("UPDATE schema_version SET version = " + std::to_string(newer));
    expectRefused([&] { PgStore store(url, folder.file("pg")); });
    EXPECT_EQ(PgConnection(url).queryOne("SELECT version FROM schema_version")->integer(0), newer);
}

} // namespace
} // namespace tonvert::test
