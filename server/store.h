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

    // Jobs that were being rendered when the service stopped wait again.
    void requeueUnfinished();

private:
    std::string folder_;
    std::recursive_mutex mutex_;
    Database db_;
};

} // namespace tonvert::service
