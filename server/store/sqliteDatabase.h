#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace tonvert::service {

// A value bound to or read from a statement.
using DbValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;
using DbRow = std::vector<DbValue>;

// One connection to an SQLite database file, used by one thread at a time. Statements are
// prepared for each call: the service's queries are few and small. Errors throw DbError.
class Database {
public:
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(const std::string& sql, const std::vector<DbValue>& parameters = {});
    std::vector<DbRow> query(const std::string& sql, const std::vector<DbValue>& parameters = {});
    std::optional<DbRow> queryOne(const std::string& sql,
                                  const std::vector<DbValue>& parameters = {});
    std::int64_t lastInsertId() const;
    int changes() const;
    bool inTransaction() const;

private:
    sqlite3* db_ = nullptr;
};

struct DbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Connections to one database file in WAL mode, lent to one transaction at a time: readers
// read their snapshot while a writer writes, and writers take turns in SQLite's own lock
// (waiting up to its busy time-out) rather than in one of ours. Connections are opened as
// the concurrency calls for them and kept idle for the next transaction.
class ConnectionPool {
public:
    explicit ConnectionPool(std::string path);

    // Runs `work(Database&)` as one transaction that writes: it takes the write lock first
    // (BEGIN IMMEDIATE), so that it never has to give up a snapshot it read. Committed when
    // `work` returns, rolled back when it throws.
    template <typename Work> auto write(Work&& work) {
        return run("BEGIN IMMEDIATE", std::forward<Work>(work));
    }
    // Runs `work(Database&)` as one transaction that only reads: one snapshot throughout.
    template <typename Work> auto read(Work&& work) {
        return run("BEGIN", std::forward<Work>(work));
    }

private:
    std::unique_ptr<Database> take();
    void give(std::unique_ptr<Database> connection);
    // A connection whose transaction could not be ended is closed instead of kept.
    void giveAfterFailure(std::unique_ptr<Database> connection) noexcept;

    template <typename Work> auto run(const char* begin, Work&& work) {
        std::unique_ptr<Database> db = take();
        try {
            db->execute(begin);
            if constexpr (std::is_void_v<std::invoke_result_t<Work&, Database&>>) {
                work(*db);
                db->execute("COMMIT");
                give(std::move(db));
            } else {
                auto result = work(*db);
                db->execute("COMMIT");
                give(std::move(db));
                return result;
            }
        } catch (...) {
            giveAfterFailure(std::move(db));
            throw;
        }
    }

    std::string path_;
    std::mutex mutex_; // guards idle_ only, never held across a statement
    std::vector<std::unique_ptr<Database>> idle_;
};

std::int64_t asInt(const DbValue& value);
double asDouble(const DbValue& value);
std::string asText(const DbValue& value);

} // namespace tonvert::service
