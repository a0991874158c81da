#pragma once

#include <string>

#include "store/sql.h"

struct pg_conn;

namespace tonvert::service {

// One connection to a PostgreSQL server, used by one thread at a time. Errors throw SqlError
// with the server's SQLSTATE ("" when the connection itself failed).
class PgConnection final : public SqlTransaction {
public:
    explicit PgConnection(const std::string& url);
    ~PgConnection() override;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    Dialect dialect() const override { return Dialect::postgresql; }
    std::vector<SqlRow> query(const std::string& sql,
                              const std::vector<SqlValue>& parameters = {}) override;
    std::int64_t execute(const std::string& sql,
                         const std::vector<SqlValue>& parameters = {}) override;
    // As query, with the columns' raw bytes (for bytea).
    std::vector<SqlRow> queryBytes(const std::string& sql, const std::vector<SqlValue>& parameters);
    // The connection itself is gone (the server restarted or dropped it).
    bool broken() const;
    // A deadlock or a serialization failure: the transaction may simply run again.
    static bool mustRunAgain(const SqlError& failure);

private:
    std::vector<SqlRow> rowsOf(const std::string& sql, const std::vector<SqlValue>& parameters,
                               bool binary);

    pg_conn* connection_ = nullptr;
};

} // namespace tonvert::service
