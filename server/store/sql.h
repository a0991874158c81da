#pragma once

// What the store's rules need of a database: statements with numbered parameters ($1, $2...)
// run inside the transaction the caller holds, giving rows or the number of rows changed.
// SQLite and PostgreSQL both implement it, so that a rule is written once over it.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tonvert::service {

enum class Dialect { sqlite, postgresql };

// A value bound to a statement; texts go as their bytes.
using SqlValue = std::variant<std::nullptr_t, std::int64_t, std::string, std::string_view>;

// One row of a result. A database that gives every column as text (PostgreSQL) and one that
// gives numbers as numbers (SQLite) read alike.
class SqlRow {
public:
    using Cell = std::variant<std::nullptr_t, std::int64_t, std::string>;
    explicit SqlRow(std::vector<Cell> cells)
        : cells_(std::move(cells)) {}
    bool isNull(std::size_t column) const;
    // 0 for NULL.
    std::int64_t integer(std::size_t column) const;
    // "" for NULL or a number.
    const std::string& text(std::size_t column) const;

private:
    std::vector<Cell> cells_;
};

class SqlTransaction {
public:
    virtual ~SqlTransaction() = default;
    virtual Dialect dialect() const = 0;
    virtual std::vector<SqlRow> query(const std::string& sql,
                                      const std::vector<SqlValue>& parameters = {}) = 0;
    // The number of rows the statement changed.
    virtual std::int64_t execute(const std::string& sql,
                                 const std::vector<SqlValue>& parameters = {}) = 0;
    std::optional<SqlRow> queryOne(const std::string& sql,
                                   const std::vector<SqlValue>& parameters = {});
};

// A statement the database refused, or a connection that failed. `state` is the database's
// code for it where it gives one (PostgreSQL's SQLSTATE).
struct SqlError : std::runtime_error {
    explicit SqlError(const std::string& message, std::string sqlState = "")
        : std::runtime_error(message)
        , state(std::move(sqlState)) {}
    std::string state;
};

} // namespace tonvert::service
