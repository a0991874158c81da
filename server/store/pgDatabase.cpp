#include "store/pgDatabase.h"

#include <libpq-fe.h>

namespace tonvert::service {

namespace {

// Ends a result however the statement went.
struct ResultGuard {
    PGresult* result;
    ~ResultGuard() { PQclear(result); }
};

std::string stateOf(const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return state != nullptr ? state : "";
}

} // namespace

std::int64_t PgRow::integer(std::size_t column) const {
    const auto& value = values_.at(column);
    return value ? std::stoll(*value) : 0;
}

const std::string& PgRow::text(std::size_t column) const {
    static const std::string empty;
    const auto& value = values_.at(column);
    return value ? *value : empty;
}

namespace {

// Connects by the URL, giving up on an unreachable server after a while unless the URL says
// otherwise (its settings come after, and win).
pg_conn* connect(const std::string& url) {
    const char* const keys[] = {"connect_timeout", "dbname", nullptr};
    const char* const values[] = {"10", url.c_str(), nullptr};
    return PQconnectdbParams(keys, values, 1);
}

} // namespace

PgConnection::PgConnection(const std::string& url)
    : connection_(connect(url)) {
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string message = PQerrorMessage(connection_);
        PQfinish(connection_);
        throw PgError("cannot connect to the database: " + message, "");
    }
    // Notices (an object that exists already) are not the service's log's business.
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
}

PgConnection::~PgConnection() {
    PQfinish(connection_);
}

bool PgConnection::broken() const {
    return PQstatus(connection_) != CONNECTION_OK;
}

bool PgConnection::healthy() const {
    return PQstatus(connection_) == CONNECTION_OK &&
           PQtransactionStatus(connection_) == PQTRANS_IDLE;
}

namespace {

// Runs a statement with its parameters bound: numbers as text, texts as their bytes.
PGresult* run(pg_conn* connection, const std::string& sql, const std::vector<PgValue>& parameters,
              bool binary) {
    std::vector<std::string> texts(parameters.size());
    std::vector<const char*> values(parameters.size(), nullptr);
    std::vector<int> lengths(parameters.size(), 0);
    std::vector<int> formats(parameters.size(), 0);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const PgValue& parameter = parameters[i];
        std::string_view bytes;
        if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
            texts[i] = std::to_string(*number);
            values[i] = texts[i].c_str();
            continue;
        } else if (const auto* text = std::get_if<std::string>(&parameter))
            bytes = *text;
        else if (const auto* view = std::get_if<std::string_view>(&parameter))
            bytes = *view;
        else
            continue; // NULL
        values[i] = bytes.data();
        lengths[i] = static_cast<int>(bytes.size());
        formats[i] = 1;
    }
    PGresult* result =
        PQexecParams(connection, sql.c_str(), static_cast<int>(parameters.size()), nullptr,
                     values.data(), lengths.data(), formats.data(), binary ? 1 : 0);
    const auto status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        PgError failure(PQerrorMessage(connection), stateOf(result));
        PQclear(result);
        throw failure;
    }
    return result;
}

} // namespace

std::vector<PgRow> PgConnection::query(const std::string& sql,
                                       const std::vector<PgValue>& parameters, bool binary) {
    ResultGuard guard{run(connection_, sql, parameters, binary)};
    std::vector<PgRow> rows;
    const int count = PQntuples(guard.result);
    const int columns = PQnfields(guard.result);
    rows.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
        std::vector<std::optional<std::string>> row(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c)
            if (!PQgetisnull(guard.result, r, c))
                row[static_cast<std::size_t>(c)].emplace(
                    PQgetvalue(guard.result, r, c),
                    static_cast<std::size_t>(PQgetlength(guard.result, r, c)));
        rows.emplace_back(std::move(row));
    }
    return rows;
}

std::optional<PgRow> PgConnection::queryOne(const std::string& sql,
                                            const std::vector<PgValue>& parameters) {
    auto rows = query(sql, parameters);
    if (rows.empty())
        return std::nullopt;
    return std::move(rows.front());
}

std::int64_t PgConnection::execute(const std::string& sql, const std::vector<PgValue>& parameters) {
    ResultGuard guard{run(connection_, sql, parameters, false)};
    const char* changed = PQcmdTuples(guard.result);
    return changed != nullptr && *changed != '\0' ? std::stoll(changed) : 0;
}

PgPool::PgPool(std::string url)
    : url_(std::move(url)) {
    give(take()); // fails here, at the start, when the database cannot be reached
}

bool PgPool::retryable(const PgError& failure) {
    // serialization_failure, deadlock_detected
    return failure.state == "40001" || failure.state == "40P01";
}

std::unique_ptr<PgConnection> PgPool::take() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
    }
    return std::make_unique<PgConnection>(url_);
}

std::unique_ptr<PgConnection> PgPool::begun(std::unique_ptr<PgConnection> connection) {
    try {
        connection->execute("BEGIN");
        return connection;
    } catch (const PgError&) {
        if (!connection->broken())
            throw;
    }
    // Nothing ran yet: a new connection begins it instead.
    connection.reset();
    dropIdle();
    connection = std::make_unique<PgConnection>(url_);
    connection->execute("BEGIN");
    return connection;
}

void PgPool::dropIdle() noexcept {
    std::vector<std::unique_ptr<PgConnection>> stale;
    {
        std::lock_guard lock(mutex_);
        stale.swap(idle_);
    }
    // Closed here, outside the lock.
}

void PgPool::give(std::unique_ptr<PgConnection> connection) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(connection));
}

void PgPool::giveAfterFailure(std::unique_ptr<PgConnection> connection) noexcept {
    if (!connection)
        return; // lost before its transaction began
    try {
        connection->execute("ROLLBACK");
        if (connection->healthy()) {
            give(std::move(connection));
            return;
        }
    } catch (...) {
    }
    // Closed here, outside the lock: a broken connection is not lent again.
}

} // namespace tonvert::service
