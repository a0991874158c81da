#pragma once

// The stores' schema and its versions. Each database keeps the number of the last version it
// was brought to; opening a store brings it to the newest in the transaction that opens it,
// one version after another, and refuses a database of a version newer than this program.

#include <cstdint>
#include <optional>
#include <string>

namespace tonvert::service {

class Database;
class PgConnection;

enum class Dialect { sqlite, postgresql };

// What the versions need of a database, within the transaction that opens the store.
class SchemaTransaction {
public:
    virtual ~SchemaTransaction() = default;
    virtual Dialect dialect() const = 0;
    virtual void execute(const std::string& statement) = 0;
    // The first column of the query's first row; none when it gives no row.
    virtual std::optional<std::int64_t> integer(const std::string& query) = 0;
};

class SqliteSchema : public SchemaTransaction {
public:
    explicit SqliteSchema(Database& db)
        : db_(db) {}
    Dialect dialect() const override { return Dialect::sqlite; }
    void execute(const std::string& statement) override;
    std::optional<std::int64_t> integer(const std::string& query) override;

private:
    Database& db_;
};

class PgSchema : public SchemaTransaction {
public:
    explicit PgSchema(PgConnection& db)
        : db_(db) {}
    Dialect dialect() const override { return Dialect::postgresql; }
    void execute(const std::string& statement) override;
    std::optional<std::int64_t> integer(const std::string& query) override;

private:
    PgConnection& db_;
};

// The newest version this program knows.
int latestSchemaVersion();

// Brings the database to the newest version, recording each version reached; gives the
// version it found. A database of a newer version throws std::runtime_error saying so, and is
// left as it is.
int migrateSchema(SchemaTransaction& db);

} // namespace tonvert::service
