#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

struct pg_conn;

namespace tonvert::service {

// A value bound to a statement: texts go as their bytes, so that one binds text and bytea
// columns alike.
using PgValue = std::variant<std::nullptr_t, std::int64_t, std::string, std::string_view>;

// One row of a result, every column as the server's text (or bytes, for a binary result).
class PgRow {
public:
    explicit PgRow(std::vector<std::optional<std::string>> values)
        : values_(std::move(values)) {}
    bool isNull(std::size_t column) const { return !values_.at(column); }
    // 0 for NULL.
    std::int64_t integer(std::size_t column) const;
    // "" for NULL.
    const std::string& text(std::size_t column) const;

private:
    std::vector<std::optional<std::string>> values_;
};

struct PgError : std::runtime_error {
    PgError(const std::string& message, std::string sqlState)
        : std::runtime_error(message)
        , state(std::move(sqlState)) {}
    std::string state; // SQLSTATE, "" when the connection itself failed
};

// One connection to a PostgreSQL server, used by one thread at a time. Errors throw PgError.
class PgConnection {
public:
    explicit PgConnection(const std::string& url);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // The rows of a statement; `binary` asks for the columns' raw bytes (for bytea).
    std::vector<PgRow> query(const std::string& sql, const std::vector<PgValue>& parameters = {},
                             bool binary = false);
    std::optional<PgRow> queryOne(const std::string& sql,
                                  const std::vector<PgValue>& parameters = {});
    // The number of rows the statement changed.
    std::int64_t execute(const std::string& sql, const std::vector<PgValue>& parameters = {});
    bool healthy() const;
    // The connection itself is gone (the server restarted or dropped it).
    bool broken() const;

private:
    pg_conn* connection_ = nullptr;
};

// Connections to one database, lent to one transaction at a time and kept idle for the next.
// Transactions run at READ COMMITTED; the store takes row locks where a check must hold until
// its commit. A transaction ended by a deadlock or a serialization failure runs again.
class PgPool {
public:
    explicit PgPool(std::string url);

    template <typename Work> auto transaction(Work&& work) {
        for (int attempt = 1;; ++attempt) {
            std::unique_ptr<PgConnection> db = take();
            try {
                db = begun(std::move(db));
                if constexpr (std::is_void_v<std::invoke_result_t<Work&, PgConnection&>>) {
                    work(*db);
                    db->execute("COMMIT");
                    give(std::move(db));
                    return;
                } else {
                    auto result = work(*db);
                    db->execute("COMMIT");
                    give(std::move(db));
                    return result;
                }
            } catch (const PgError& failure) {
                giveAfterFailure(std::move(db));
                if (attempt >= kAttempts || !retryable(failure))
                    throw;
            } catch (...) {
                giveAfterFailure(std::move(db));
                throw;
            }
        }
    }

    // Runs `work(PgConnection&)` of statements that only read, without a transaction around
    // them: one round trip each instead of two more for BEGIN and COMMIT. Each statement sees
    // the data as of its own start.
    template <typename Work> auto read(Work&& work) {
        for (bool again = true;; again = false) {
            std::unique_ptr<PgConnection> db = take();
            try {
                auto result = work(*db);
                give(std::move(db));
                return result;
            } catch (const PgError&) {
                // A read is tried once more on a new connection when its idle one had gone
                // stale (the server restarted meanwhile).
                const bool stale = db->broken();
                giveAfterFailure(std::move(db));
                if (!again || !stale)
                    throw;
                dropIdle();
            } catch (...) {
                giveAfterFailure(std::move(db));
                throw;
            }
        }
    }

private:
    static constexpr int kAttempts = 5;
    static bool retryable(const PgError& failure);
    std::unique_ptr<PgConnection> take();
    // The connection with a transaction begun on it; a stale one is replaced by a new one.
    std::unique_ptr<PgConnection> begun(std::unique_ptr<PgConnection> connection);
    // Closes the idle connections: after one went stale, the others are likely stale too.
    void dropIdle() noexcept;
    void give(std::unique_ptr<PgConnection> connection);
    void giveAfterFailure(std::unique_ptr<PgConnection> connection) noexcept;

    std::string url_;
    std::mutex mutex_; // guards idle_ only, never held across a statement
    std::vector<std::unique_ptr<PgConnection>> idle_;
};

} // namespace tonvert::service
