#pragma once

#include <atomic>
#include <memory>

#include "store/pgDatabase.h"
#include "store/store.h"

namespace tonvert::service {

// The store in a PostgreSQL database, file bodies included (in chunks of a body_chunks table):
// processes on any machines that share its connection URL share everything. The data folder
// is each process's own working folder only.
//
// Jobs are taken with row locks that skip the rows others hold, under a lease that the worker
// renews while it renders; a job whose lease ran out is taken again, and publishing, giving
// back or dropping a job needs the current lease. Publishing stores the audio file, the
// owner's mail and the record's removal in one transaction.
//
// Bodies are written in their own transaction before the row that claims them; a body that
// lost its row (or never got one: a process died in between) stays readable for a while, for
// downloads opened before, and is then swept.
class PgStore final : public Store {
public:
    PgStore(const std::string& url, const std::string& dataFolder, StoreOptions options = {});

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

    bool queuesMail() const override { return true; }
    std::vector<QueuedMail> takeQueuedMail(std::size_t limit) override;
    void mailSent(std::int64_t id) override;

    std::vector<AudioFile> audioFiles(std::int64_t account) override;
    Outcome deleteAudio(const Caller& caller, const std::string& name) override;
    DownloadResult openDownload(const DownloadRequest& request) override;
    std::int64_t recordDelivery(const Delivery& delivery) override;

    // Bodies are stored in chunks of this many bytes.
    static constexpr std::size_t kChunkBytes = 256 * 1024;

private:
    void book(PgConnection& db, std::int64_t account, std::int64_t amount,
              const std::string& reason);
    // The time leases are given and judged by: the database's, so that processes on machines
    // whose clocks differ agree on when a lease runs out (the test clock when one is set).
    std::int64_t leaseNow(PgConnection& db);
    // A new body of these bytes, or of a local file's, not yet claimed by a row.
    std::int64_t storeBody(std::string_view bytes);
    std::optional<std::int64_t> storeBodyOfFile(const std::string& path);
    void dropBody(std::int64_t body) noexcept;
    // Removes bodies that lost their rows long enough ago; at most once a minute.
    void sweepBodies(bool now = false);

    std::shared_ptr<PgPool> pool_;
    std::atomic<std::int64_t> lastSweep_ = 0;
};

} // namespace tonvert::service
