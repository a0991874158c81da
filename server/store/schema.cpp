#include "store/schema.h"

#include <stdexcept>
#include <string_view>

namespace tonvert::service {

namespace {

// --- Version 1: the schema of the services before versions were counted. Their databases
// hold some of it (the tables came first, columns later), so each step is one that does
// nothing where it was done already.

// Row numbers are never used twice: a client's old list cannot reach a newer record.
const char* const kSqliteTables = R"(
CREATE TABLE IF NOT EXISTS accounts(
    id INTEGER PRIMARY KEY,
    user_id TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL,
    confirmed INTEGER NOT NULL DEFAULT 0,
    balance INTEGER NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS signups(
    id INTEGER PRIMARY KEY,
    address TEXT NOT NULL,
    time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS signups_by_address ON signups(address, time);
CREATE TABLE IF NOT EXISTS midi_records(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id),
    name TEXT NOT NULL,
    parameters TEXT NOT NULL,
    size INTEGER NOT NULL,
    state TEXT NOT NULL DEFAULT 'waiting',
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS audio_files(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id),
    name TEXT NOT NULL COLLATE NOCASE,
    size INTEGER NOT NULL,
    created INTEGER NOT NULL,
    UNIQUE(account, name));
CREATE TABLE IF NOT EXISTS ledger(
    id INTEGER PRIMARY KEY,
    account INTEGER NOT NULL REFERENCES accounts(id),
    time INTEGER NOT NULL,
    amount INTEGER NOT NULL,
    reason TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS form_tokens(
    id INTEGER PRIMARY KEY,
    token TEXT NOT NULL UNIQUE,
    issued INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS receipts(
    id INTEGER PRIMARY KEY,
    token TEXT NOT NULL UNIQUE,
    account INTEGER NOT NULL REFERENCES accounts(id),
    amount INTEGER NOT NULL,
    balance INTEGER NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS deliveries(
    file INTEGER PRIMARY KEY,
    time INTEGER NOT NULL);
)";

// Columns tables gained after their first form, added to a database made before.
struct LaterColumn {
    const char* table;
    const char* name;
    const char* type;
};
const LaterColumn kLaterColumns[] = {
    {"accounts", "pending_password", "TEXT"},
    {"accounts", "pending_since", "INTEGER"},
    {"accounts", "last_reset", "INTEGER"},
    {"accounts", "failed_logins", "INTEGER NOT NULL DEFAULT 0"},
    {"accounts", "last_failed_login", "INTEGER"},
    // The turn in which the queue last took a job of the account's: 0 for never.
    {"accounts", "last_served", "INTEGER NOT NULL DEFAULT 0"},
    {"midi_records", "play_seconds", "INTEGER NOT NULL DEFAULT 0"},
    {"midi_records", "attempts", "INTEGER NOT NULL DEFAULT 0"},
    {"midi_records", "next_attempt", "INTEGER NOT NULL DEFAULT 0"},
    // The upload fee booked for the record; NULL in records of an older service.
    {"midi_records", "fee", "INTEGER"},
};

// Row numbers are never used twice: a client's old list cannot reach a newer record. User IDs
// and audio file names are unique without regard to case.
const char* const kPostgresTables[] = {
    R"(CREATE TABLE IF NOT EXISTS accounts(
        id BIGSERIAL PRIMARY KEY,
        user_id TEXT NOT NULL,
        password TEXT NOT NULL,
        confirmed INTEGER NOT NULL DEFAULT 0,
        balance BIGINT NOT NULL,
        created BIGINT NOT NULL,
        pending_password TEXT,
        pending_since BIGINT,
        last_reset BIGINT,
        failed_logins BIGINT NOT NULL DEFAULT 0,
        last_failed_login BIGINT,
        last_served BIGINT NOT NULL DEFAULT 0))",
    // Names fold ASCII letters only, as SQLite's NOCASE and the audio names do: the "C"
    // collation keeps lower() from following the database's locale. The indexes of older
    // databases folded by the locale.
    "DROP INDEX IF EXISTS accounts_by_user",
    "DROP INDEX IF EXISTS audio_by_name",
    R"(CREATE UNIQUE INDEX IF NOT EXISTS accounts_by_ascii_user ON accounts(
        lower(user_id COLLATE "C")))",
    "CREATE INDEX IF NOT EXISTS accounts_by_turn ON accounts(last_served)",
    // The turns in which the queue took jobs, and the leases it gave.
    "CREATE SEQUENCE IF NOT EXISTS turns",
    "CREATE SEQUENCE IF NOT EXISTS leases",
    R"(CREATE TABLE IF NOT EXISTS signups(
        id BIGSERIAL PRIMARY KEY, address TEXT NOT NULL, time BIGINT NOT NULL))",
    "CREATE INDEX IF NOT EXISTS signups_by_address ON signups(address, time)",
    // orphaned: since when no row claims the body (NULL while one does).
    R"(CREATE TABLE IF NOT EXISTS bodies(
        id BIGSERIAL PRIMARY KEY, size BIGINT NOT NULL, orphaned BIGINT))",
    "CREATE INDEX IF NOT EXISTS bodies_orphaned ON bodies(orphaned) WHERE orphaned IS NOT NULL",
    R"(CREATE TABLE IF NOT EXISTS body_chunks(
        body BIGINT NOT NULL REFERENCES bodies(id) ON DELETE CASCADE,
        seq INTEGER NOT NULL,
        data BYTEA NOT NULL,
        PRIMARY KEY(body, seq)))",
    R"(CREATE TABLE IF NOT EXISTS midi_records(
        id BIGSERIAL PRIMARY KEY,
        account BIGINT NOT NULL REFERENCES accounts(id),
        name TEXT NOT NULL,
        parameters TEXT NOT NULL,
        size BIGINT NOT NULL,
        state TEXT NOT NULL DEFAULT 'waiting',
        created BIGINT NOT NULL,
        play_seconds BIGINT NOT NULL DEFAULT 0,
        attempts BIGINT NOT NULL DEFAULT 0,
        next_attempt BIGINT NOT NULL DEFAULT 0,
        fee BIGINT,
        body BIGINT NOT NULL REFERENCES bodies(id),
        lease BIGINT NOT NULL DEFAULT 0,
        lease_until BIGINT NOT NULL DEFAULT 0))",
    "CREATE INDEX IF NOT EXISTS midi_by_account ON midi_records(account)",
    "CREATE INDEX IF NOT EXISTS midi_by_state ON midi_records(state, next_attempt)",
    R"(CREATE TABLE IF NOT EXISTS audio_files(
        id BIGSERIAL PRIMARY KEY,
        account BIGINT NOT NULL REFERENCES accounts(id),
        name TEXT NOT NULL,
        size BIGINT NOT NULL,
        created BIGINT NOT NULL,
        body BIGINT NOT NULL REFERENCES bodies(id)))",
    R"(CREATE UNIQUE INDEX IF NOT EXISTS audio_by_ascii_name ON audio_files(account,
        lower(name COLLATE "C")))",
    R"(CREATE TABLE IF NOT EXISTS ledger(
        id BIGSERIAL PRIMARY KEY,
        account BIGINT NOT NULL REFERENCES accounts(id),
        time BIGINT NOT NULL,
        amount BIGINT NOT NULL,
        reason TEXT NOT NULL))",
    "CREATE INDEX IF NOT EXISTS ledger_by_account ON ledger(account, id)",
    R"(CREATE TABLE IF NOT EXISTS form_tokens(
        id BIGSERIAL PRIMARY KEY, token TEXT NOT NULL UNIQUE, issued BIGINT NOT NULL))",
    R"(CREATE TABLE IF NOT EXISTS receipts(
        id BIGSERIAL PRIMARY KEY,
        token TEXT NOT NULL UNIQUE,
        account BIGINT NOT NULL REFERENCES accounts(id),
        amount BIGINT NOT NULL,
        balance BIGINT NOT NULL,
        created BIGINT NOT NULL))",
    "CREATE TABLE IF NOT EXISTS deliveries(file BIGINT PRIMARY KEY, time BIGINT NOT NULL)",
    // Mail kept until it went out; claimed_until: another process is sending it.
    R"(CREATE TABLE IF NOT EXISTS mail_outbox(
        id BIGSERIAL PRIMARY KEY,
        recipient TEXT NOT NULL,
        subject TEXT NOT NULL,
        body TEXT NOT NULL,
        claimed_until BIGINT NOT NULL DEFAULT 0))",
};

void sqliteVersion1(SqlTransaction& db) {
    for (std::string_view rest = kSqliteTables; !rest.empty();) {
        const auto end = rest.find(';');
        const std::string statement(rest.substr(0, end));
        if (statement.find_first_not_of(" \n") != std::string::npos)
            db.execute(statement);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
    }
    for (const LaterColumn& column : kLaterColumns) {
        const std::string table = column.table;
        const std::string name = column.name;
        if (!db.queryOne("SELECT 1 FROM pragma_table_info($1) WHERE name = $2", {table, name}))
            db.execute("ALTER TABLE " + table + " ADD COLUMN " + name + " " + column.type);
    }
    db.execute("CREATE INDEX IF NOT EXISTS accounts_by_turn ON accounts(last_served)");
}

void postgresVersion1(SqlTransaction& db) {
    for (const char* statement : kPostgresTables)
        db.execute(statement);
}

// --- Version 2: a job taken for rendering is held under a lease in both stores, so that one
// set of rules takes, renews and ends jobs. A store that one process uses gives leases that
// do not run out while it lives.

void sqliteVersion2(SqlTransaction& db) {
    db.execute("ALTER TABLE midi_records ADD COLUMN lease INTEGER NOT NULL DEFAULT 0");
    db.execute("ALTER TABLE midi_records ADD COLUMN lease_until INTEGER NOT NULL DEFAULT 0");
}

void postgresVersion2(SqlTransaction&) {
    // Its records held leases from the start.
}

// --- Version 3: form tokens are signed rather than stored when issued; the table keeps the
// tokens used (so that each books once) and the key that signs them.

void version3(SqlTransaction& db) {
    db.execute("CREATE TABLE service_keys(name TEXT PRIMARY KEY, value TEXT NOT NULL)");
    // Tokens issued before signing: the forms they belong to are asked to be sent again.
    db.execute("DELETE FROM form_tokens");
}

// Every version, oldest first; a new one goes at the end with the next number, for both
// databases, and is never changed once released.
struct Version {
    int number;
    void (*sqlite)(SqlTransaction&);
    void (*postgresql)(SqlTransaction&);
};
const Version kVersions[] = {
    {1, sqliteVersion1, postgresVersion1},
    {2, sqliteVersion2, postgresVersion2},
    {3, version3, version3},
};

} // namespace

int latestSchemaVersion() {
    return std::end(kVersions)[-1].number;
}

int migrateSchema(SqlTransaction& db) {
    db.execute("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
    const auto stored = db.queryOne("SELECT version FROM schema_version");
    if (!stored)
        db.execute("INSERT INTO schema_version(version) VALUES(0)");
    const int found = stored ? static_cast<int>(stored->integer(0)) : 0;
    if (found > latestSchemaVersion())
        throw std::runtime_error(
            "the database's schema is of version " + std::to_string(found) +
            ", newer than this program's " + std::to_string(latestSchemaVersion()) +
            ": run the service that wrote it, or a newer one; the database is left as it is");
    for (const Version& version : kVersions) {
        if (version.number <= found)
            continue;
        (db.dialect() == Dialect::sqlite ? version.sqlite : version.postgresql)(db);
        db.execute("UPDATE schema_version SET version = " + std::to_string(version.number));
    }
    return found;
}

} // namespace tonvert::service
