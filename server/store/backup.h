#pragma once

// Backups of the SQLite store: its database and the bodies that database names, copied while
// the service goes on serving, and put back into an empty data folder. A PostgreSQL store,
// bodies and all, is backed up with PostgreSQL's own tools (pg_dump).

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace tonvert::service {

// What a backup or a restore came to. A failed one leaves nothing behind but its error.
struct BackupResult {
    bool ok = false;
    std::string error;
    int schemaVersion = 0;
    std::int64_t accounts = 0;
    std::int64_t ledgerLines = 0;
    std::int64_t midiFiles = 0;  // waiting or rendering MIDI records, each with its body
    std::int64_t audioFiles = 0; // each with its body
    std::int64_t bodyBytes = 0;
    std::int64_t databaseBytes = 0;
    // How long the service's writers were held back while the bodies were taken.
    std::chrono::microseconds writersHeld{0};
};

struct BackupOptions {
    // Database pages copied in one step of the online backup.
    int pagesPerStep = 1024;
    // Told between steps: the pages copied so far, and all there are.
    std::function<void(int copied, int pages)> progress;
};

// Copies the store in `dataFolder` into `target`, which must be empty or absent: built in
// "target.partial" and renamed when whole, with a manifest of its schema version and counts.
BackupResult backupSqliteStore(const std::string& dataFolder, const std::string& target,
                               BackupOptions options = {});

// Puts the backup in `backup` into `dataFolder`, which must be empty or absent (a full one is
// left as it is): built in "dataFolder.partial", checked (the database opens, its schema is
// not newer than this program's, every body it names is there with its size) and renamed.
BackupResult restoreSqliteStore(const std::string& backup, const std::string& dataFolder);

// `tonvert-service --backup DIR` or `--restore DIR` on the data folder: says what was copied
// on `out`, errors on `err`; gives the exit status (0, 1 for a failure, 2 for a wrong usage:
// both asked at once, or a PostgreSQL store, whose procedure it prints).
int runBackupCommand(const std::string& backup, const std::string& restore,
                     const std::string& dataFolder, const std::string& storeUrl, std::ostream& out,
                     std::ostream& err);

} // namespace tonvert::service
