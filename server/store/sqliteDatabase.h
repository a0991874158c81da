#pragma once

#include <sqlite3.h>
#include <string>

#include "store/sql.h"

namespace tonvert::service {

// One connection to an SQLite database file in WAL mode, used by one thread at a time.
// Statements are prepared for each call: the service's queries are few and small. A parameter
// written $N takes the Nth value, as PostgreSQL's do; errors throw SqlError.
class SqliteConnection final : public SqlTransaction {
public:
    explicit SqliteConnection(const std::string& path);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // A file's connection does not break; a writer waits for the one before it inside SQLite.
    bool broken() const { return false; }
    static bool mustRunAgain(const SqlError&) { return false; }
    // For what SQL does not reach, such as the online backup.
    sqlite3* handle() const { return db_; }

    Dialect dialect() const override { return Dialect::sqlite; }
    std::vector<SqlRow> query(const std::string& sql,
                              const std::vector<SqlValue>& parameters = {}) override;
    std::int64_t execute(const std::string& sql,
                         const std::vector<SqlValue>& parameters = {}) override;

private:
    sqlite3* db_ = nullptr;
};

} // namespace tonvert::service
