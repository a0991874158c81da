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
        throw SqlError("cannot connect to the database: " + message, "08001");
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

namespace {

// Runs a statement with its parameters bound: numbers as text, texts as their bytes.
PGresult* run(pg_conn* connection, const std::string& sql, const std::vector<SqlValue>& parameters,
              bool binary) {
    std::vector<std::string> texts(parameters.size());
    std::vector<const char*> values(parameters.size(), nullptr);
    std::vector<int> lengths(parameters.size(), 0);
    std::vector<int> formats(parameters.size(), 0);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const SqlValue& parameter = parameters[i];
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
        SqlError failure(PQerrorMessage(connection), stateOf(result));
        PQclear(result);
        throw failure;
    }
    return result;
}

} // namespace

std::vector<SqlRow> PgConnection::rowsOf(const std::string& sql,
                                         const std::vector<SqlValue>& parameters, bool binary) {
    ResultGuard guard{run(connection_, sql, parameters, binary)};
    std::vector<SqlRow> rows;
    const int count = PQntuples(guard.result);
    const int columns = PQnfields(guard.result);
    rows.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
        std::vector<SqlRow::Cell> cells(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c)
            if (!PQgetisnull(guard.result, r, c))
                cells[static_cast<std::size_t>(c)] =
                    std::string(PQgetvalue(guard.result, r, c),
                                static_cast<std::size_t>(PQgetlength(guard.result, r, c)));
        rows.emplace_back(std::move(cells));
    }
    return rows;
}

std::vector<SqlRow> PgConnection::query(const std::string& sql,
                                        const std::vector<SqlValue>& parameters) {
    return rowsOf(sql, parameters, false);
}

std::vector<SqlRow> PgConnection::queryBytes(const std::string& sql,
                                             const std::vector<SqlValue>& parameters) {
    return rowsOf(sql, parameters, true);
}

std::int64_t PgConnection::execute(const std::string& sql,
                                   const std::vector<SqlValue>& parameters) {
    ResultGuard guard{run(connection_, sql, parameters, false)};
    const char* changed = PQcmdTuples(guard.result);
    return changed != nullptr && *changed != '\0' ? std::stoll(changed) : 0;
}

bool PgConnection::mustRunAgain(const SqlError& failure) {
    // serialization_failure, deadlock_detected
    return failure.state == "40001" || failure.state == "40P01";
}

} // namespace tonvert::service
