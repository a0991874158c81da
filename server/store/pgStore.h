#pragma once

#include <atomic>
#include <memory>

#include "store/connectionPool.h"
#include "store/pgDatabase.h"
#include "store/sqlStore.h"

namespace tonvert::service {

// The store in a PostgreSQL database, file bodies included (in chunks of a body_chunks table):
// processes on any machines that share its connection URL share everything. The data folder
// is each process's own working folder only.
//
// Jobs are taken with row locks that skip the rows others hold, under a lease that the worker
// renews while it renders; a job whose lease ran out is taken again. Publishing stores the
// audio file, the owner's mail (kept in an outbox until it went out) and the record's removal
// in one transaction.
//
// Bodies are written in their own transaction before the row that claims them; a body that
// lost its row (or never got one: a process died in between) stays readable for a while, for
// downloads opened before, and is then swept.
class PgStore final : public SqlStore {
public:
    PgStore(const std::string& url, const std::string& dataFolder, StoreOptions options = {});

    std::optional<RenderJob> takeNextJob() override;
    bool fetchMidi(std::int64_t record, const std::string& localPath) override;
    // Other processes may be rendering: their jobs come back when their leases run out.
    void requeueUnfinished() override {}

    bool queuesMail() const override { return true; }
    std::vector<QueuedMail> takeQueuedMail(std::size_t limit) override;
    void mailSent(std::int64_t id) override;

    // Bodies are stored in chunks of this many bytes.
    static constexpr std::size_t kChunkBytes = 256 * 1024;

protected:
    void runWrite(const Transaction& work) override;
    void runRead(const Transaction& work) override;
    std::string sameName(const std::string& column, const std::string& parameter) const override;
    bool canHold(const std::string& text) const override;
    void serializeBy(SqlTransaction& db, const std::string& key) override;
    // The database's clock, so that processes on machines whose clocks differ agree on when a
    // lease runs out (the test clock when one is set).
    std::int64_t leaseNow(SqlTransaction& db) override;
    std::int64_t leaseEnd(std::int64_t time) const override;

    NewBody keepBody(std::string_view bytes) override;
    std::optional<NewBody> keepBodyOfFile(const std::string& path) override;
    void placeBody(SqlTransaction& db, BodyKind kind, std::int64_t row, NewBody& body) override;
    void dropBody(const NewBody& body) noexcept override;
    void releaseBody(SqlTransaction& db, BodyKind kind, std::int64_t row) override;
    std::shared_ptr<BodySource> openBody(const SqlRow& file) override;

private:
    using Pool = ConnectionPool<PgConnection>;
    // Removes bodies that lost their rows long enough ago; at most once a minute.
    void sweepBodies(bool now = false);

    std::shared_ptr<Pool> pool_;
    std::atomic<std::int64_t> lastSweep_ = 0;
};

} // namespace tonvert::service
