#pragma once

#include <cstdint>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace tonvert::service {

// A value bound to or read from a statement.
using DbValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;
using DbRow = std::vector<DbValue>;

// One SQLite database file. Statements are prepared for each call: the service's queries are
// few and small. Errors throw DbError; callers run their work inside `transaction`.
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

    // Runs `work` as one transaction: committed when it returns, rolled back when it throws.
    template <typename Work> auto transaction(Work&& work) {
        execute("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                execute("COMMIT");
            } else {
                auto result = work();
                execute("COMMIT");
                return result;
            }
        } catch (...) {
            execute("ROLLBACK");
            throw;
        }
    }

private:
    sqlite3* db_ = nullptr;
};

struct DbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::int64_t asInt(const DbValue& value);
double asDouble(const DbValue& value);
std::string asText(const DbValue& value);

} // namespace tonvert::service
