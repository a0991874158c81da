// A write of the store that the disk refuses, for real: the process may not write its files
// past their start (RLIMIT_FSIZE at 0, SIGXFSZ ignored, so that a write fails with EFBIG).
// SQLite then rolls the transaction back itself, and a ROLLBACK after it can only fail
// ("cannot rollback - no transaction is active"): what the caller is told, and what the
// service logs, must be the database's own error.

#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/resource.h>

#include "protocol/commands.h"
#include "store/sqliteStore.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace service;

// While it lives, no file of the process grows or is written past its start. Nothing may be
// printed to a file meanwhile: results are kept and checked after.
class NoFileWrites {
public:
    NoFileWrites() {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit none = previous_;
        none.rlim_cur = 0;
        active_ = ::setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    ~NoFileWrites() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    NoFileWrites(const NoFileWrites&) = delete;
    NoFileWrites& operator=(const NoFileWrites&) = delete;

    bool active() const { return active_; }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

// What a store operation threw, or "" when it threw nothing.
template <typename Operation> std::string errorOf(Operation&& operation) {
    try {
        operation();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "";
}

TEST(StoreFailureTest, AWriteTheDiskRefusesReportsTheDatabaseErrorNotTheRollback) {
    test::TempFolder folder;
    SqliteStore store(folder.file("data"));
    const auto id = store.addAccount({"a@b.test", "hash", 500});
    ASSERT_TRUE(id);
    Mailer mailer(folder.file("outbox"), "noreply@test.localhost");
    ServiceConfig config;
    config.hashCost = {8, 1, 1};
    Commands commands(store, mailer, config);

    std::string atCommit, midStatement, logged, reply;
    bool limited = false;
    {
        std::ostringstream log;
        auto* const clogBuffer = std::clog.rdbuf(log.rdbuf());
        const NoFileWrites noWrites;
        limited = noWrites.active();
        // A small change: it fails as the commit writes it.
        atCommit = errorOf([&] { store.book({*id, 250, "refused"}); });
        // A row larger than the page cache: it fails while written, the transaction open.
        midStatement = errorOf([&] {
            store.addAccount({"big@b.test", std::string(4 << 20, 'h'), 500});
        });
        // A sign-up through the protocol, whose count of sign-ups is written first.
        reply = commands
                    .handle({{"VER", "1.0"}, {"CMD", "signup"}, {"UID", "new@b.test"}},
                            std::nullopt, "tonvert.localhost", "127.0.0.1")
                    .body;
        std::clog.rdbuf(clogBuffer);
        logged = log.str();
    }

    ASSERT_TRUE(limited) << "no file-size limit could be set";
    for (const std::string& error : {atCommit, midStatement, logged}) {
        EXPECT_NE(error.find("disk I/O error"), std::string::npos) << error;
        EXPECT_EQ(error.find("rollback"), std::string::npos) << error;
    }
    EXPECT_NE(logged.find("request failed"), std::string::npos) << logged;
    EXPECT_EQ(reply, "!ERR 1005");

    // Nothing of the refused writes stayed, and the store writes again once the disk does.
    EXPECT_EQ(store.accountById(*id)->balance, 500);
    EXPECT_EQ(store.ledger(*id).size(), 1u);
    EXPECT_FALSE(store.account("big@b.test"));
    EXPECT_FALSE(store.account("new@b.test"));
    EXPECT_EQ(store.book({*id, 250, "accepted"}), 750);
    EXPECT_TRUE(store.addAccount({"big@b.test", std::string(4 << 20, 'h'), 500}));
}

} // namespace
} // namespace tonvert
