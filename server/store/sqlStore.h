#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "store/sql.h"
#include "store/store.h"

namespace tonvert::service {

// The store's rules over any SQL database: every check, booking, token, lease and refund is
// written here once, as statements over SqlTransaction. A database's store adds only what is
// its own: how transactions run, where the files' bodies lie, and how it spells what SQL does
// not spell alike (row locks, counters, case-blind names).
//
// A job taken for rendering is held under a lease: renewing, publishing, giving back or
// dropping it needs the lease still held. A store that several processes share lets a lease
// run out, so that another worker takes over the job of one that died.
class SqlStore : public Store {
public:
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
    bool renewLease(std::int64_t record, std::int64_t lease) override;
    AudioFile publishAudio(const Publication& publication) override;
    RetryResult publishFailed(const PublishFailure& failure) override;
    void returnJob(std::int64_t record, std::int64_t lease) override;
    QueueState queueState() override;

    std::vector<AudioFile> audioFiles(std::int64_t account) override;
    Outcome deleteAudio(const Caller& caller, const std::string& name) override;
    DownloadResult openDownload(const DownloadRequest& request) override;
    std::int64_t recordDelivery(const Delivery& delivery) override;
    bool answers() override;
    std::int64_t expireAudio(std::int64_t publishedBefore) override;

protected:
    // What a database spells its own way.
    struct Spelling {
        const char* lockRows = "";    // after a SELECT whose rows must hold until the commit
        const char* lockFreeJob = ""; // after the SELECT of the next job: skip others' jobs
        const char* nextLease = "";   // an expression: a lease number not given before
        const char* nextTurn = "";    // an expression: the turn after every account's
        bool rowsNameBodies = false;  // records and audio files have a body column
    };
    using Transaction = std::function<void(SqlTransaction&)>;

    SqlStore(const std::string& dataFolder, StoreOptions options, Spelling spelling);
    // Reads the key that signs form tokens, made by the first store to open the database; once
    // the schema is brought to the newest version.
    void keepFormKey();

    // Runs the work as one transaction that writes, or one that only reads.
    virtual void runWrite(const Transaction& work) = 0;
    virtual void runRead(const Transaction& work) = 0;

    template <typename Work> auto write(Work&& work) {
        return resultOf(std::forward<Work>(work), [this](const Transaction& t) { runWrite(t); });
    }
    template <typename Work> auto read(Work&& work) {
        return resultOf(std::forward<Work>(work), [this](const Transaction& t) { runRead(t); });
    }

    // A condition on a name column that compares without regard to ASCII case.
    virtual std::string sameName(const std::string& column, const std::string& parameter) const = 0;
    // Whether the database can hold the text as a name at all; one it cannot is found nowhere.
    virtual bool canHold(const std::string& /*text*/) const { return true; }
    // Makes transactions that name the same key run one after the other.
    virtual void serializeBy(SqlTransaction& /*db*/, const std::string& /*key*/) {}
    // The time leases are given and judged by, and when one given then runs out.
    virtual std::int64_t leaseNow(SqlTransaction& /*db*/) { return now(); }
    virtual std::int64_t leaseEnd(std::int64_t time) const = 0;

    // The body of a file, written before the row that claims it. `id` names it where the
    // database keeps it (rowsNameBodies), `path` where a local file holds it.
    enum class BodyKind { midi, audio };
    struct NewBody {
        std::int64_t id = 0;
        std::string path;
        std::int64_t size = 0;
        std::string placedPath; // where placeBody moved it, for a transaction that then failed
    };
    // Throws when the bytes cannot be kept.
    virtual NewBody keepBody(std::string_view bytes) = 0;
    // nullopt when the file cannot be read.
    virtual std::optional<NewBody> keepBodyOfFile(const std::string& path) = 0;
    // Inside the transaction that added the row: the body becomes the row's.
    virtual void placeBody(SqlTransaction& db, BodyKind kind, std::int64_t row, NewBody& body) = 0;
    // A body whose row never came, or whose transaction failed.
    virtual void dropBody(const NewBody& body) noexcept = 0;
    // Inside the transaction, before the row goes: its body is no longer claimed.
    virtual void releaseBody(SqlTransaction& /*db*/, BodyKind /*kind*/, std::int64_t /*row*/) {}
    // After that transaction's commit. Downloads opened before go on reading the body.
    virtual void bodyReleased(BodyKind /*kind*/, std::int64_t /*row*/) {}
    // The body of an audio file, from its row (id, account, name, size, and body where rows
    // name bodies); nullptr when it cannot be opened.
    virtual std::shared_ptr<BodySource> openBody(const SqlRow& file) = 0;

private:
    template <typename Work, typename Run> static auto resultOf(Work&& work, Run&& run) {
        using Result = std::invoke_result_t<Work&, SqlTransaction&>;
        if constexpr (std::is_void_v<Result>) {
            run(Transaction(std::forward<Work>(work)));
        } else {
            // Set anew by each run: a transaction may run again after a conflict.
            std::optional<Result> result;
            run(Transaction([&](SqlTransaction& db) { result.emplace(work(db)); }));
            return std::move(*result);
        }
    }

    // Deletes a record's or audio file's row, its body no longer claimed.
    void removeRow(SqlTransaction& db, BodyKind kind, std::int64_t row);
    std::int64_t book(SqlTransaction& db, std::int64_t account, std::int64_t amount,
                      const std::string& reason);
    // "INSERT INTO table(columns) VALUES($1, ...) RETURNING id", with the body column last
    // where rows name bodies: its value is the parameter after the columns'.
    std::string insertWithBody(const std::string& table, const std::string& columns) const;

    Spelling spelling_;
    std::string formKey_;
};

} // namespace tonvert::service
