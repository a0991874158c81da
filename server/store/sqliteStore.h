#pragma once

#include "store/sqliteDatabase.h"
#include "store/store.h"

namespace tonvert::service {

// The store in one SQLite file in the data folder (tonvert.sqlite), in WAL mode: each
// operation runs on a connection of its own, so that readers never wait for a writer and
// writers wait only for each other, inside SQLite. The files' bytes lie in the data folder
// under names of their row numbers only: no name from the network ever becomes part of a
// path. One process uses it: its jobs have no leases that run out.
class SqliteStore final : public Store {
public:
    explicit SqliteStore(const std::string& dataFolder, StoreOptions options = {});

    std::string midiPath(std::int64_t record) const;
    std::string audioPath(std::int64_t file) const;

    std::optional<Account> account(const std::string& userId) override;
    std::optional<Account> accountById(std::int64_t id) override;
    std::optional<std::int64_t> addAccount(const NewAccount& account) override;
    bool confirmAccount(const Caller& caller) override;
    bool setPassword(std::int64_t account, const std::string& passwordHash) override;
    bool rehashPassword(const Caller& caller, const std::string& passwordHash) override;
    bool removeNewAccount(const Caller& caller) override;
    ResetResult startReset(const ResetRequest& request) override;
    bool undoReset(const ResetUndo& undo) override;
    bool usePendingPassword(std::int64_t account, const std::string& pendingHash) override;
    std::int64_t noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) override;
    void clearFailedLogins(std::int64_t account) override;
    bool countSignup(const std::string& address, std::int64_t windowSeconds,
                     std::int64_t limit) override;
    std::optional<std::int64_t> book(const Booking& booking) override;
    std::vector<LedgerEntry> ledger(std::int64_t account) override;

    std::string issueFormToken() override;
    FundsResult addFunds(const FundsRequest& request) override;
    std::optional<Receipt> receipt(const std::string& id) override;

    std::vector<MidiRecord> midiRecords(std::int64_t account) override;
    SubmitResult submitMidi(const SubmitRequest& request) override;
    Outcome deleteWaitingMidi(const Caller& caller, std::int64_t record) override;

    std::optional<RenderJob> takeNextJob() override;
    bool fetchMidi(std::int64_t record, const std::string& localPath) override;
    bool renewLease(std::int64_t record, std::int64_t lease) override;
    std::optional<AudioFile> publishAudio(const Publication& publication) override;
    void discardJob(std::int64_t record, std::int64_t lease) override;
    RetryResult publishFailed(const PublishFailure& failure) override;
    void returnJob(std::int64_t record, std::int64_t lease) override;
    void requeueUnfinished() override;

    std::vector<AudioFile> audioFiles(std::int64_t account) override;
    Outcome deleteAudio(const Caller& caller, const std::string& name) override;
    DownloadResult openDownload(const DownloadRequest& request) override;
    std::int64_t recordDelivery(const Delivery& delivery) override;

private:
    void book(Database& db, std::int64_t account, std::int64_t amount, const std::string& reason);
    void sweepOrphanBodies();

    ConnectionPool pool_;
};

} // namespace tonvert::service
