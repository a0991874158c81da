#include "store/sqliteDatabase.h"

#include <charconv>
#include <memory>

namespace tonvert::service {

namespace {

struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

// The value a placeholder takes: $N the Nth, a plain ? the one at its own place.
const SqlValue* valueFor(sqlite3_stmt* statement, int at, const std::vector<SqlValue>& values) {
    std::size_t index = static_cast<std::size_t>(at) - 1;
    if (const char* name = sqlite3_bind_parameter_name(statement, at); name && name[0] == '$') {
        const std::string_view digits(name + 1);
        std::size_t number = 0;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ec != std::errc{})
            return nullptr;
        index = number - 1;
    }
    return index < values.size() ? &values[index] : nullptr;
}

void bind(sqlite3_stmt* statement, int at, const SqlValue* value) {
    if (value == nullptr || std::holds_alternative<std::nullptr_t>(*value))
        sqlite3_bind_null(statement, at);
    else if (const auto* number = std::get_if<std::int64_t>(value))
        sqlite3_bind_int64(statement, at, *number);
    else {
        const std::string_view text = std::holds_alternative<std::string>(*value)
                                          ? std::string_view(std::get<std::string>(*value))
                                          : std::get<std::string_view>(*value);
        sqlite3_bind_text(statement, at, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
}

SqlRow::Cell cellOf(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return static_cast<std::int64_t>(sqlite3_column_double(statement, column));
    case SQLITE_NULL:
        return nullptr;
    default:
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                           static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    }
}

} // namespace

SqliteConnection::SqliteConnection(const std::string& path) {
    // A connection serves one thread at a time: SQLite's own mutexes would only cost.
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqlError("database " + path + ": " + why);
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

SqliteConnection::~SqliteConnection() {
    sqlite3_close(db_);
}

std::vector<SqlRow> SqliteConnection::query(const std::string& sql,
                                            const std::vector<SqlValue>& parameters) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw SqlError(std::string("prepare: ") + sqlite3_errmsg(db_) + " in " + sql);
    Statement statement(raw);
    for (int at = 1; at <= sqlite3_bind_parameter_count(raw); ++at)
        bind(raw, at, valueFor(raw, at, parameters));
    std::vector<SqlRow> rows;
    for (;;) {
        const int step = sqlite3_step(raw);
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW)
            throw SqlError(std::string("step: ") + sqlite3_errmsg(db_) + " in " + sql);
        std::vector<SqlRow::Cell> cells;
        for (int c = 0; c < sqlite3_column_count(raw); ++c)
            cells.push_back(cellOf(raw, c));
        rows.emplace_back(std::move(cells));
    }
    return rows;
}

std::int64_t SqliteConnection::execute(const std::string& sql,
                                       const std::vector<SqlValue>& parameters) {
    query(sql, parameters);
    return sqlite3_changes64(db_);
}

} // namespace tonvert::service
