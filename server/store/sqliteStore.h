#pragma once

#include "store/connectionPool.h"
#include "store/sqlStore.h"
#include "store/sqliteDatabase.h"

namespace tonvert::service {

// Where under the data folder the bodies lie: "midi/12.mid", "audio/12.bin".
std::string midiBodyName(std::int64_t record);
std::string audioBodyName(std::int64_t file);

// The store in one SQLite file in the data folder (tonvert.sqlite), in WAL mode: each
// transaction runs on a connection of its own, so that readers never wait for a writer and
// writers wait only for each other, inside SQLite. The files' bytes lie in the data folder
// under names of their row numbers only: no name from the network ever becomes part of a
// path. One process uses it: a lease lasts as long as that process, and the jobs it was
// rendering when it stopped wait again when it starts.
class SqliteStore final : public SqlStore {
public:
    explicit SqliteStore(const std::string& dataFolder, StoreOptions options = {});

    std::string midiPath(std::int64_t record) const;
    std::string audioPath(std::int64_t file) const;

    bool fetchMidi(std::int64_t record, const std::string& localPath) override;
    void requeueUnfinished() override;

protected:
    void runWrite(const Transaction& work) override;
    void runRead(const Transaction& work) override;
    // The columns that hold names compare without regard to case themselves.
    std::string sameName(const std::string& column, const std::string& parameter) const override;
    std::int64_t leaseEnd(std::int64_t time) const override;

    // A body is a file: written whole into the scratch area, renamed into place as its
    // transaction's last step, and removed once its row's removal is committed.
    NewBody keepBody(std::string_view bytes) override;
    std::optional<NewBody> keepBodyOfFile(const std::string& path) override;
    void placeBody(SqlTransaction& db, BodyKind kind, std::int64_t row, NewBody& body) override;
    void bodyReleased(BodyKind kind, std::int64_t row) override;
    void dropBody(const NewBody& body) noexcept override;
    std::shared_ptr<BodySource> openBody(const SqlRow& file) override;

private:
    std::string bodyPath(BodyKind kind, std::int64_t row) const;
    void sweepOrphanBodies();

    ConnectionPool<SqliteConnection> pool_;
};

} // namespace tonvert::service
