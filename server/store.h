#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace tonvert::service {

// Fees in cents: each upload and download costs its base plus its rate for every megabyte
// begun.
struct Prices {
    std::int64_t uploadBase = 5;
    std::int64_t uploadPerMb = 10;
    std::int64_t downloadBase = 2;
    std::int64_t downloadPerMb = 3;
};

std::int64_t feeFor(std::int64_t base, std::int64_t perMb, std::uint64_t bytes);

struct Account {
    std::int64_t id = 0;
    std::string userId;
    std::string passwordHash;
    bool confirmed = false;
    std::int64_t balance = 0; // cents
};

struct MidiRecord {
    std::int64_t id = 0;
    std::int64_t account = 0;
    std::string name;
    std::string parameters;
    std::int64_t size = 0;
    std::string state; // "waiting" or "rendering"
};

struct AudioFile {
    std::int64_t id = 0;
    std::int64_t account = 0;
    std::string name;
    std::int64_t size = 0;
};

// What a payment on the add-funds page came to, kept for the page that shows it.
struct Receipt {
    std::string userId;
    std::int64_t amount = 0;  // cents
    std::int64_t balance = 0; // cents, right after the payment
};

// Accounts, balances, MIDI records, audio files and the ledger, in one SQLite file inside the
// data folder, with the files' bytes beside it under names of their row numbers only: no name
// from the network ever becomes part of a path. Every operation runs as one transaction under
// one lock.
class Store {
public:
    explicit Store(const std::string& dataFolder);

    const std::string& folder() const { return folder_; }
    std::string midiPath(std::int64_t record) const;
    std::string audioPath(std::int64_t file) const;
    // A new file name in the data folder's scratch area; the caller renames it into place.
    std::string scratchPath() const;

    std::recursive_mutex& lock() { return mutex_; }
    Database& db() { return db_; }

    std::optional<Account> account(const std::string& userId);
    std::optional<Account> accountById(std::int64_t id);
    std::int64_t addAccount(const std::string& userId, const std::string& passwordHash,
                            std::int64_t balance);
    void setPassword(std::int64_t account, const std::string& passwordHash, bool confirmed);
    // Adds `amount` cents (negative: takes) and writes it down in the ledger.
    void book(std::int64_t account, std::int64_t amount, const std::string& reason);

    std::vector<MidiRecord> midiRecords(std::int64_t account);
    std::optional<MidiRecord> midiRecord(std::int64_t id);
    std::vector<AudioFile> audioFiles(std::int64_t account);
    std::optional<AudioFile> audioFile(std::int64_t account, const std::string& name);

    // The add-funds form carries a token from here; a payment takes it, so one form books
    // once. Only the newest few thousand are kept, none older than an hour.
    std::string issueFormToken();
    // Whether `token` was issued and not taken yet; takes it.
    bool takeFormToken(const std::string& token);
    // Keeps a payment's outcome for a day under an unguessable ID, which it gives.
    std::string addReceipt(std::int64_t account, std::int64_t amount, std::int64_t balance);
    // nullopt for an ID unknown or expired.
    std::optional<Receipt> receipt(const std::string& id);

    // Jobs that were being rendered when the service stopped wait again.
    void requeueUnfinished();

private:
    std::string folder_;
    std::recursive_mutex mutex_;
    Database db_;
};

} // namespace tonvert::service
