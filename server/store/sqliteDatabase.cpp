#include "store/sqliteDatabase.h"

#include <memory>
#include <utility>

namespace tonvert::service {

namespace {

struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

// Idle connections beyond this many are closed when they come back.
constexpr std::size_t kIdleConnectionsKept = 16;

} // namespace

Database::Database(const std::string& path) {
    // A connection serves one thread at a time: SQLite's own mutexes would only cost.
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError("database " + path + ": " + why);
    }
    // A writer waits for the one before it; the time-out only ends a wait that never would.
    sqlite3_busy_timeout(db_, 5000);
    try {
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA foreign_keys=ON");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

Database::~Database() {
    sqlite3_close(db_);
}

std::vector<DbRow> Database::query(const std::string& sql, const std::vector<DbValue>& parameters) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw DbError(std::string("prepare: ") + sqlite3_errmsg(db_) + " in " + sql);
    Statement statement(raw);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int at = static_cast<int>(i) + 1;
        const DbValue& value = parameters[i];
        if (std::holds_alternative<std::int64_t>(value))
            sqlite3_bind_int64(raw, at, std::get<std::int64_t>(value));
        else if (std::holds_alternative<double>(value))
            sqlite3_bind_double(raw, at, std::get<double>(value));
        else if (std::holds_alternative<std::string>(value))
            sqlite3_bind_text(raw, at, std::get<std::string>(value).data(),
                              static_cast<int>(std::get<std::string>(value).size()),
                              SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(raw, at);
    }
    std::vector<DbRow> rows;
    for (;;) {
        const int step = sqlite3_step(raw);
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW)
            throw DbError(std::string("step: ") + sqlite3_errmsg(db_) + " in " + sql);
        DbRow row;
        for (int c = 0; c < sqlite3_column_count(raw); ++c) {
            switch (sqlite3_column_type(raw, c)) {
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(raw, c)));
                break;
            case SQLITE_FLOAT:
                row.emplace_back(sqlite3_column_double(raw, c));
                break;
            case SQLITE_NULL:
                row.emplace_back(nullptr);
                break;
            default:
                row.emplace_back(
                    std::string(reinterpret_cast<const char*>(sqlite3_column_text(raw, c)),
                                static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void Database::execute(const std::string& sql, const std::vector<DbValue>& parameters) {
    query(sql, parameters);
}

std::optional<DbRow> Database::queryOne(const std::string& sql,
                                        const std::vector<DbValue>& parameters) {
    auto rows = query(sql, parameters);
    if (rows.empty())
        return std::nullopt;
    return std::move(rows.front());
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

bool Database::inTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

ConnectionPool::ConnectionPool(std::string path)
    : path_(std::move(path)) {}

std::unique_ptr<Database> ConnectionPool::take() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
    }
    // Opening runs outside the pool's lock: it touches the file.
    return std::make_unique<Database>(path_);
}

void ConnectionPool::give(std::unique_ptr<Database> connection) {
    std::unique_lock lock(mutex_);
    if (idle_.size() < kIdleConnectionsKept) {
        idle_.push_back(std::move(connection));
        return;
    }
    lock.unlock();
    connection.reset();
}

void ConnectionPool::giveAfterFailure(std::unique_ptr<Database> connection) noexcept {
    if (!connection)
        return;
    try {
        if (connection->inTransaction())
            connection->execute("ROLLBACK");
        give(std::move(connection));
    } catch (...) {
        // Closing the connection rolls back whatever it still holds.
    }
}

std::int64_t asInt(const DbValue& value) {
    if (std::holds_alternative<std::int64_t>(value))
        return std::get<std::int64_t>(value);
    if (std::holds_alternative<double>(value))
        return static_cast<std::int64_t>(std::get<double>(value));
    return 0;
}

double asDouble(const DbValue& value) {
    if (std::holds_alternative<double>(value))
        return std::get<double>(value);
    if (std::holds_alternative<std::int64_t>(value))
        return static_cast<double>(std::get<std::int64_t>(value));
    return 0;
}

std::string asText(const DbValue& value) {
    return std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : "";
}

} // namespace tonvert::service
