#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "store/sql.h"

namespace tonvert::service {

// Connections to one database, lent to one unit of work at a time and kept idle for the next
// (up to `idleKept`; more are closed as they come back). The pool's lock guards the idle list
// only and is never held across a statement or an opening.
//
// A Connection is a SqlTransaction that also says `broken()`: the link to its database is
// gone (a server restarted). A connection found broken before its work began, or a read on one
// that broke, runs the work again on a new connection; so does a transaction that the
// database ended to break a deadlock or a serialization conflict (`mustRunAgain`).
template <typename Connection> class ConnectionPool {
public:
    using Open = std::function<std::unique_ptr<Connection>()>;
    using Work = std::function<void(Connection&)>;

    explicit ConnectionPool(Open open, std::size_t idleKept = 16)
        : open_(std::move(open))
        , idleKept_(idleKept) {}

    // Runs the work in one transaction begun by `begin` ("BEGIN", "BEGIN IMMEDIATE"...),
    // committed when the work returns and rolled back when it throws; with no `begin`, each
    // statement stands alone and the work must only read.
    void run(const char* begin, const Work& work) {
        for (int attempt = 1;; ++attempt) {
            std::unique_ptr<Connection> db = take();
            bool begun = false;
            try {
                if (begin != nullptr)
                    db->execute(begin);
                begun = begin != nullptr;
                work(*db);
                if (begun)
                    db->execute("COMMIT");
                give(std::move(db));
                return;
            } catch (const SqlError& failure) {
                const bool stale = db->broken() && (begin == nullptr || !begun);
                giveAfterFailure(std::move(db), begun);
                if (attempt >= kAttempts || !(stale || Connection::mustRunAgain(failure)))
                    throw;
                if (stale)
                    dropIdle();
            } catch (...) {
                giveAfterFailure(std::move(db), begun);
                throw;
            }
        }
    }

    // Opens a connection and keeps it idle: a database that cannot be reached fails here.
    void warmUp() { give(take()); }

private:
    static constexpr int kAttempts = 5;

    std::unique_ptr<Connection> take() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                auto connection = std::move(idle_.back());
                idle_.pop_back();
                return connection;
            }
        }
        return open_();
    }

    void give(std::unique_ptr<Connection> connection) {
        std::unique_lock lock(mutex_);
        if (idle_.size() < idleKept_)
            idle_.push_back(std::move(connection));
        lock.unlock();
        // One beyond the kept number is closed here, outside the lock.
    }

    // A connection whose transaction cannot be rolled back, or that broke, is closed.
    void giveAfterFailure(std::unique_ptr<Connection> connection, bool begun) noexcept {
        try {
            if (begun)
                connection->execute("ROLLBACK");
            if (!connection->broken())
                give(std::move(connection));
        } catch (...) {
        }
    }

    // After one idle connection went stale, the others likely did too.
    void dropIdle() noexcept {
        std::vector<std::unique_ptr<Connection>> stale;
        std::lock_guard lock(mutex_);
        stale.swap(idle_);
    }

    Open open_;
    std::size_t idleKept_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

} // namespace tonvert::service
