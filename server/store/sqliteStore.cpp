#include "store/sqliteStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "asciiText.h"
#include "store/names.h"
#include "store/randomHex.h"
#include "store/schema.h"

namespace tonvert::service {

namespace {

const char* const kAccountColumns =
    "SELECT id, user_id, password, confirmed, balance, pending_password, pending_since, "
    "last_reset, failed_logins, last_failed_login FROM accounts";

Account accountOf(const DbRow& row) {
    return {asInt(row[0]),  asText(row[1]), asText(row[2]), asInt(row[3]) != 0, asInt(row[4]),
            asText(row[5]), asInt(row[6]),  asInt(row[7]),  asInt(row[8]),      asInt(row[9])};
}

AudioFile audioOf(const DbRow& row) {
    return {asInt(row[0]), asInt(row[1]), asText(row[2]), asInt(row[3])};
}

// Whether the caller's password hash is still the stored one.
bool holds(Database& db, const Caller& caller) {
    const auto row = db.queryOne("SELECT password FROM accounts WHERE id = ?", {caller.account});
    return row && asText((*row)[0]) == caller.passwordHash;
}

std::int64_t balanceOf(Database& db, std::int64_t account) {
    const auto row = db.queryOne("SELECT balance FROM accounts WHERE id = ?", {account});
    if (!row)
        throw DbError("no account " + std::to_string(account));
    return asInt((*row)[0]);
}

// Writes the bytes and has them on the disk before it returns: a row that names the file is
// committed only after that.
bool writeWhole(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    written = written && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

// Has a file written by someone else (the renderer) on the disk.
bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Has a folder's entries (a file renamed into it) on the disk.
void syncFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot sync " + path + ": " + std::strerror(error));
    }
    ::close(fd);
}

// The row number in a body's file name ("12.mid"), or 0 for a name of something else.
std::int64_t rowOfBody(const std::filesystem::path& file, const char* extension) {
    if (file.extension() != extension)
        return 0;
    const std::string stem = file.stem().string();
    if (!ascii::allDigits(stem) || stem.size() > 18)
        return 0;
    return std::stoll(stem);
}

} // namespace

namespace {

// The database file, made or kept readable and writable by its owner only; SQLite gives its
// journal files the same permissions.
std::string ownerOnlyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    const bool tightened = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!tightened)
        throw std::runtime_error("cannot make " + path + " private: " + std::strerror(errno));
    return path;
}

// The folders of the bodies, private like the data folder.
std::string withBodyFolders(const std::string& folder) {
    for (const char* kind : {"/midi", "/audio"}) {
        std::filesystem::create_directories(folder + kind);
        std::filesystem::permissions(folder + kind, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
    }
    return folder;
}

// A body file opened while it was sure to be there: removing it after takes nothing from
// the reader.
class FileBody final : public BodySource {
public:
    explicit FileBody(const std::string& path)
        : file_(path, std::ios::binary) {}
    bool isOpen() const { return static_cast<bool>(file_); }
    std::size_t read(std::uint64_t offset, char* buffer, std::size_t size) override {
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(buffer, static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(std::max<std::streamsize>(file_.gcount(), 0));
    }

private:
    std::ifstream file_;
};

} // namespace

SqliteStore::SqliteStore(const std::string& dataFolder, StoreOptions options)
    : Store(withBodyFolders(dataFolder), std::move(options))
    , pool_(ownerOnlyFile(folder() + "/tonvert.sqlite")) {
    pool_.write([](Database& db) {
        SqliteSchema schema(db);
        migrateSchema(schema);
    });
    sweepOrphanBodies();
}

std::string SqliteStore::midiPath(std::int64_t record) const {
    return folder() + "/midi/" + std::to_string(record) + ".mid";
}

std::string SqliteStore::audioPath(std::int64_t file) const {
    return folder() + "/audio/" + std::to_string(file) + ".bin";
}

// A service killed between a commit and the removal of a body leaves the body without its
// row; nothing will ever name it again.
void SqliteStore::sweepOrphanBodies() {
    struct Kind {
        const char* folder;
        const char* extension;
        const char* table;
    };
    for (const Kind kind :
         {Kind{"/midi", ".mid", "midi_records"}, Kind{"/audio", ".bin", "audio_files"}}) {
        std::vector<std::pair<std::int64_t, std::filesystem::path>> bodies;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder() + kind.folder, error))
            if (const std::int64_t row = rowOfBody(entry.path(), kind.extension); row != 0)
                bodies.emplace_back(row, entry.path());
        const std::string sql = std::string("SELECT 1 FROM ") + kind.table + " WHERE id = ?";
        for (const auto& [row, path] : bodies)
            if (!pool_.read([&](Database& db) { return db.queryOne(sql, {row}).has_value(); }))
                removeFile(path.string());
    }
}

void SqliteStore::book(Database& db, std::int64_t account, std::int64_t amount,
                       const std::string& reason) {
    db.execute("UPDATE accounts SET balance = balance + ? WHERE id = ?", {amount, account});
    if (db.changes() != 1)
        throw DbError("no account " + std::to_string(account));
    db.execute("INSERT INTO ledger(account, time, amount, reason) VALUES(?, ?, ?, ?)",
               {account, now(), amount, reason});
}

std::optional<Account> SqliteStore::account(const std::string& userId) {
    return pool_.read([&](Database& db) -> std::optional<Account> {
        const auto row = db.queryOne(std::string(kAccountColumns) + " WHERE user_id = ?", {userId});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<Account> SqliteStore::accountById(std::int64_t id) {
    return pool_.read([&](Database& db) -> std::optional<Account> {
        const auto row = db.queryOne(std::string(kAccountColumns) + " WHERE id = ?", {id});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<std::int64_t> SqliteStore::addAccount(const NewAccount& account) {
    return pool_.write([&](Database& db) -> std::optional<std::int64_t> {
        if (db.queryOne("SELECT id FROM accounts WHERE user_id = ?", {account.userId}))
            return std::nullopt;
        db.execute("INSERT INTO accounts(user_id, password, balance, created) VALUES(?, ?, 0, ?)",
                   {account.userId, account.passwordHash, now()});
        const std::int64_t id = db.lastInsertId();
        book(db, id, account.balance, "starting balance");
        return id;
    });
}

bool SqliteStore::confirmAccount(const Caller& caller) {
    return pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET confirmed = 1 WHERE id = ? AND password = ?",
                   {caller.account, caller.passwordHash});
        return db.changes() == 1;
    });
}

bool SqliteStore::setPassword(std::int64_t account, const std::string& passwordHash) {
    return pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET password = ? WHERE id = ?", {passwordHash, account});
        return db.changes() == 1;
    });
}

bool SqliteStore::rehashPassword(const Caller& caller, const std::string& passwordHash) {
    return pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET password = ? WHERE id = ? AND password = ?",
                   {passwordHash, caller.account, caller.passwordHash});
        return db.changes() == 1;
    });
}

bool SqliteStore::removeNewAccount(const Caller& caller) {
    return pool_.write([&](Database& db) {
        if (!db.queryOne("SELECT id FROM accounts WHERE id = ? AND password = ? AND confirmed = 0",
                         {caller.account, caller.passwordHash}))
            return false;
        // Nobody could use an account whose password never went out: only its starting
        // balance is in its name.
        db.execute("DELETE FROM ledger WHERE account = ?", {caller.account});
        db.execute("DELETE FROM accounts WHERE id = ?", {caller.account});
        return true;
    });
}

ResetResult SqliteStore::startReset(const ResetRequest& request) {
    return pool_.write([&](Database& db) {
        ResetResult result;
        const auto row = db.queryOne(
            "SELECT pending_password, pending_since, last_reset FROM accounts WHERE id = ?",
            {request.account});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const std::int64_t lastReset = asInt((*row)[2]);
        if (lastReset != 0 && now() < lastReset + request.minimumInterval) {
            result.outcome = Outcome::tooSoon;
            return result;
        }
        result.undo = {request.account, request.passwordHash, asText((*row)[0]), asInt((*row)[1]),
                       lastReset};
        db.execute("UPDATE accounts SET pending_password = ?, pending_since = ?, last_reset = ? "
                   "WHERE id = ?",
                   {request.passwordHash, now(), now(), request.account});
        return result;
    });
}

bool SqliteStore::undoReset(const ResetUndo& undo) {
    const auto orNull = [](auto value) -> DbValue {
        if (value == decltype(value){})
            return nullptr;
        return value;
    };
    return pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET pending_password = ?, pending_since = ?, last_reset = ? "
                   "WHERE id = ? AND pending_password = ?",
                   {orNull(undo.previousPendingHash), orNull(undo.previousPendingSince),
                    orNull(undo.previousReset), undo.account, undo.passwordHash});
        return db.changes() == 1;
    });
}

bool SqliteStore::usePendingPassword(std::int64_t account, const std::string& pendingHash) {
    return pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET password = pending_password, pending_password = NULL, "
                   "pending_since = NULL WHERE id = ? AND pending_password = ?",
                   {account, pendingHash});
        return db.changes() == 1;
    });
}

std::int64_t SqliteStore::noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) {
    return pool_.write([&](Database& db) -> std::int64_t {
        db.execute("UPDATE accounts SET failed_logins = CASE WHEN last_failed_login >= ? THEN "
                   "failed_logins + 1 ELSE 1 END, last_failed_login = ? WHERE id = ?",
                   {now() - forgetAfter, now(), account});
        const auto row = db.queryOne("SELECT failed_logins FROM accounts WHERE id = ?", {account});
        return row ? asInt((*row)[0]) : 0;
    });
}

void SqliteStore::clearFailedLogins(std::int64_t account) {
    pool_.write([&](Database& db) {
        db.execute("UPDATE accounts SET failed_logins = 0, last_failed_login = NULL WHERE id = ?",
                   {account});
    });
}

bool SqliteStore::countSignup(const std::string& address, std::int64_t windowSeconds,
                              std::int64_t limit) {
    return pool_.write([&](Database& db) {
        const std::int64_t since = now() - windowSeconds;
        db.execute("DELETE FROM signups WHERE time < ?", {since});
        const auto row = db.queryOne("SELECT COUNT(*) FROM signups WHERE address = ? AND time >= ?",
                                     {address, since});
        if (row && asInt((*row)[0]) >= limit)
            return false;
        db.execute("INSERT INTO signups(address, time) VALUES(?, ?)", {address, now()});
        return true;
    });
}

std::optional<std::int64_t> SqliteStore::book(const Booking& booking) {
    return pool_.write([&](Database& db) -> std::optional<std::int64_t> {
        if (!db.queryOne("SELECT id FROM accounts WHERE id = ?", {booking.account}))
            return std::nullopt;
        book(db, booking.account, booking.amount, booking.reason);
        return balanceOf(db, booking.account);
    });
}

std::vector<LedgerEntry> SqliteStore::ledger(std::int64_t account) {
    return pool_.read([&](Database& db) {
        std::vector<LedgerEntry> entries;
        for (const DbRow& row :
             db.query("SELECT time, amount, reason FROM ledger WHERE account = ? ORDER BY id",
                      {account}))
            entries.push_back({asInt(row[0]), asInt(row[1]), asText(row[2])});
        return entries;
    });
}

std::string SqliteStore::issueFormToken() {
    const std::string token = randomHex(16);
    pool_.write([&](Database& db) {
        db.execute("DELETE FROM form_tokens WHERE issued < ?",
                   {now() - options().formTokenSeconds});
        db.execute("DELETE FROM form_tokens WHERE id <= (SELECT id FROM form_tokens ORDER BY id "
                   "DESC LIMIT 1 OFFSET ?)",
                   {options().formTokensKept - 1});
        db.execute("INSERT INTO form_tokens(token, issued) VALUES(?, ?)", {token, now()});
    });
    return token;
}

FundsResult SqliteStore::addFunds(const FundsRequest& request) {
    const std::string receipt = randomHex(16);
    return pool_.write([&](Database& db) {
        FundsResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        // Taking the token and booking commit together: of two posts of one form, one books.
        db.execute("DELETE FROM form_tokens WHERE token = ? AND issued >= ?",
                   {request.formToken, now() - options().formTokenSeconds});
        if (db.changes() != 1) {
            result.outcome = Outcome::formSpent;
            return result;
        }
        const std::int64_t account = request.caller.account;
        book(db, account, request.amount, "funds added");
        result.balance = balanceOf(db, account);
        db.execute("DELETE FROM receipts WHERE created < ?", {now() - options().receiptSeconds});
        db.execute(
            "INSERT INTO receipts(token, account, amount, balance, created) VALUES(?, ?, ?, ?, ?)",
            {receipt, account, request.amount, result.balance, now()});
        result.receipt = receipt;
        return result;
    });
}

std::optional<Receipt> SqliteStore::receipt(const std::string& id) {
    return pool_.read([&](Database& db) -> std::optional<Receipt> {
        const auto row = db.queryOne(
            "SELECT accounts.user_id, receipts.amount, receipts.balance FROM receipts JOIN "
            "accounts ON accounts.id = receipts.account WHERE receipts.token = ? AND "
            "receipts.created >= ?",
            {id, now() - options().receiptSeconds});
        if (!row)
            return std::nullopt;
        return Receipt{asText((*row)[0]), asInt((*row)[1]), asInt((*row)[2])};
    });
}

std::vector<MidiRecord> SqliteStore::midiRecords(std::int64_t account) {
    return pool_.read([&](Database& db) {
        std::vector<MidiRecord> records;
        for (const DbRow& row :
             db.query("SELECT id, account, name, parameters, size, state, play_seconds, "
                      "attempts, next_attempt FROM midi_records WHERE account = ? ORDER BY id",
                      {account}))
            records.push_back({asInt(row[0]), asInt(row[1]), asText(row[2]), asText(row[3]),
                               asInt(row[4]), asText(row[5]), asInt(row[6]), asInt(row[7]),
                               asInt(row[8])});
        return records;
    });
}

SubmitResult SqliteStore::submitMidi(const SubmitRequest& request) {
    // The body is written before the transaction and renamed into place as its last step:
    // the file is whole before its row appears.
    const std::string scratch = scratchPath();
    if (!writeWhole(scratch, request.body)) {
        removeFile(scratch);
        throw std::runtime_error("cannot write " + scratch);
    }
    const std::int64_t account = request.caller.account;
    std::int64_t placed = 0;
    SubmitResult result;
    try {
        result = pool_.write([&](Database& db) -> SubmitResult {
            if (!holds(db, request.caller))
                return {Outcome::passwordChanged, 0};
            const std::int64_t balance = balanceOf(db, account);
            if (balance < 0)
                return {Outcome::negativeBalance, 0};
            const auto queued = db.query(
                "SELECT name, play_seconds FROM midi_records WHERE account = ?", {account});
            if (queued.size() >= request.maxRecords)
                return {Outcome::tooManyRecords, 0};
            std::int64_t queuedSeconds = request.playSeconds;
            for (const DbRow& row : queued)
                queuedSeconds += asInt(row[1]);
            if (queuedSeconds > request.maxQueuedSeconds)
                return {Outcome::tooMuchPlayTime, 0};
            for (const DbRow& row : queued)
                if (ascii::equalIgnoringCase(asText(row[0]), request.name))
                    return {Outcome::nameInUse, 0};
            const std::int64_t fee = request.fee.forBytes(request.body.size());
            if (fee > balance)
                return {Outcome::insufficientFunds, 0};
            db.execute("INSERT INTO midi_records(account, name, parameters, size, created, "
                       "play_seconds, fee) VALUES(?, ?, ?, ?, ?, ?, ?)",
                       {account, request.name, request.parameters,
                        static_cast<std::int64_t>(request.body.size()), now(), request.playSeconds,
                        fee});
            const std::int64_t record = db.lastInsertId();
            book(db, account, -fee, "upload of " + request.name);
            std::filesystem::rename(scratch, midiPath(record));
            placed = record;
            syncFolder(folder() + "/midi");
            return {Outcome::done, record};
        });
    } catch (...) {
        removeFile(scratch);
        if (placed != 0)
            removeFile(midiPath(placed));
        throw;
    }
    if (result.outcome != Outcome::done)
        removeFile(scratch);
    return result;
}

Outcome SqliteStore::deleteWaitingMidi(const Caller& caller, std::int64_t record) {
    const Outcome outcome = pool_.write([&](Database& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        const auto row =
            db.queryOne("SELECT account, state FROM midi_records WHERE id = ?", {record});
        if (!row || asInt((*row)[0]) != caller.account)
            return Outcome::notFound;
        if (asText((*row)[1]) != "waiting")
            return Outcome::locked;
        db.execute("DELETE FROM midi_records WHERE id = ?", {record});
        return Outcome::done;
    });
    if (outcome == Outcome::done)
        removeFile(midiPath(record));
    return outcome;
}

std::optional<RenderJob> SqliteStore::takeNextJob() {
    return pool_.write([&](Database& db) -> std::optional<RenderJob> {
        // Turns rather than times: within one second of the clock the order is still exact.
        const auto row = db.queryOne(
            "SELECT r.id, a.user_id, r.name, r.parameters, a.id, r.attempts FROM midi_records r "
            "JOIN accounts a ON a.id = r.account WHERE r.state = 'waiting' AND r.next_attempt <= ? "
            "ORDER BY a.last_served, r.id LIMIT 1",
            {now()});
        if (!row)
            return std::nullopt;
        const std::int64_t record = asInt((*row)[0]);
        db.execute("UPDATE midi_records SET state = 'rendering' WHERE id = ?", {record});
        db.execute("UPDATE accounts SET last_served = (SELECT MAX(last_served) FROM accounts) + 1 "
                   "WHERE id = ?",
                   {asInt((*row)[4])});
        return RenderJob{record, asText((*row)[1]), asText((*row)[2]), asText((*row)[3]), "",
                         0,      asInt((*row)[5])};
    });
}

bool SqliteStore::fetchMidi(std::int64_t record, const std::string& localPath) {
    std::error_code error;
    std::filesystem::copy_file(midiPath(record), localPath,
                               std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

bool SqliteStore::renewLease(std::int64_t record, std::int64_t) {
    return pool_.read([&](Database& db) {
        return db
            .queryOne("SELECT 1 FROM midi_records WHERE id = ? AND state = 'rendering'", {record})
            .has_value();
    });
}

std::optional<AudioFile> SqliteStore::publishAudio(const Publication& publication) {
    std::error_code unreadable;
    const auto size = std::filesystem::file_size(publication.renderedFile, unreadable);
    if (!unreadable && !syncFile(publication.renderedFile))
        throw std::runtime_error("cannot sync " + publication.renderedFile);
    std::int64_t placed = 0;
    std::optional<AudioFile> published;
    try {
        published = pool_.write([&](Database& db) -> std::optional<AudioFile> {
            const auto record = db.queryOne("SELECT account, name FROM midi_records WHERE id = ?",
                                            {publication.record});
            if (!record)
                return std::nullopt;
            db.execute("DELETE FROM midi_records WHERE id = ?", {publication.record});
            if (unreadable)
                return std::nullopt;
            const std::int64_t account = asInt((*record)[0]);
            std::vector<std::string> taken;
            for (const DbRow& row :
                 db.query("SELECT name FROM audio_files WHERE account = ?", {account}))
                taken.push_back(asText(row[0]));
            AudioFile file{0, account,
                           audioNameFor(asText((*record)[1]), publication.extension, taken),
                           static_cast<std::int64_t>(size)};
            db.execute("INSERT INTO audio_files(account, name, size, created) VALUES(?, ?, ?, ?)",
                       {account, file.name, file.size, now()});
            file.id = db.lastInsertId();
            std::filesystem::rename(publication.renderedFile, audioPath(file.id));
            placed = file.id;
            syncFolder(folder() + "/audio");
            return file;
        });
    } catch (...) {
        // The record stays locked; the job's owner discards it.
        if (placed != 0)
            removeFile(audioPath(placed));
        removeFile(publication.renderedFile);
        throw;
    }
    removeFile(publication.renderedFile);
    removeFile(midiPath(publication.record));
    return published;
}

void SqliteStore::discardJob(std::int64_t record, std::int64_t) {
    pool_.write(
        [&](Database& db) { db.execute("DELETE FROM midi_records WHERE id = ?", {record}); });
    removeFile(midiPath(record));
}

RetryResult SqliteStore::publishFailed(const PublishFailure& failure) {
    const RetryResult result = pool_.write([&](Database& db) {
        RetryResult result;
        const auto row =
            db.queryOne("SELECT account, name, size, fee, attempts FROM midi_records WHERE id = ?",
                        {failure.record});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        result.attempts = asInt((*row)[4]) + 1;
        if (result.attempts < failure.policy.attempts) {
            const auto doublings = std::min<std::int64_t>(result.attempts - 1, 30);
            result.nextAttempt = now() + (failure.policy.firstDelaySeconds << doublings);
            db.execute("UPDATE midi_records SET state = 'waiting', attempts = ?, next_attempt = ? "
                       "WHERE id = ?",
                       {result.attempts, result.nextAttempt, failure.record});
            return result;
        }
        result.gaveUp = true;
        const DbValue& fee = (*row)[3];
        result.refund =
            std::holds_alternative<std::nullptr_t>(fee)
                ? failure.uploadFee.forBytes(static_cast<std::uint64_t>(asInt((*row)[2])))
                : asInt(fee);
        db.execute("DELETE FROM midi_records WHERE id = ?", {failure.record});
        if (result.refund != 0)
            book(db, asInt((*row)[0]), result.refund,
                 "refund of the upload of " + asText((*row)[1]));
        return result;
    });
    if (result.gaveUp)
        removeFile(midiPath(failure.record));
    return result;
}

void SqliteStore::returnJob(std::int64_t record, std::int64_t) {
    pool_.write([&](Database& db) {
        db.execute("UPDATE midi_records SET state = 'waiting' WHERE id = ? AND state = 'rendering'",
                   {record});
    });
}

void SqliteStore::requeueUnfinished() {
    pool_.write([](Database& db) {
        // The service died while rendering these, maybe of one of them: each counts a failure.
        db.execute("UPDATE midi_records SET state = 'waiting', attempts = attempts + 1 "
                   "WHERE state = 'rendering'");
    });
}

std::vector<AudioFile> SqliteStore::audioFiles(std::int64_t account) {
    return pool_.read([&](Database& db) {
        std::vector<AudioFile> files;
        for (const DbRow& row : db.query(
                 "SELECT id, account, name, size FROM audio_files WHERE account = ? ORDER BY id",
                 {account}))
            files.push_back(audioOf(row));
        return files;
    });
}

Outcome SqliteStore::deleteAudio(const Caller& caller, const std::string& name) {
    std::int64_t removed = 0;
    const Outcome outcome = pool_.write([&](Database& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        const auto row = db.queryOne("SELECT id FROM audio_files WHERE account = ? AND name = ?",
                                     {caller.account, name});
        if (!row)
            return Outcome::notFound;
        removed = asInt((*row)[0]);
        db.execute("DELETE FROM audio_files WHERE id = ?", {removed});
        return Outcome::done;
    });
    if (outcome == Outcome::done)
        removeFile(audioPath(removed));
    return outcome;
}

DownloadResult SqliteStore::openDownload(const DownloadRequest& request) {
    return pool_.read([&](Database& db) {
        DownloadResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        const std::int64_t account = request.caller.account;
        const auto row = db.queryOne(
            "SELECT id, account, name, size FROM audio_files WHERE account = ? AND name = ?",
            {account, request.name});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const AudioFile file = audioOf(*row);
        auto body = std::make_shared<FileBody>(audioPath(file.id));
        const std::int64_t balance = balanceOf(db, account);
        const std::int64_t fee = request.fee.forBytes(static_cast<std::uint64_t>(file.size));
        result.deliveredBefore =
            db.queryOne("SELECT 1 FROM deliveries WHERE file = ?", {file.id}).has_value();
        if (!body->isOpen())
            result.outcome = Outcome::notFound;
        else if (result.deliveredBefore)
            result.outcome = Outcome::done;
        else if (balance < 0)
            result.outcome = Outcome::negativeBalance;
        else if (fee > balance)
            result.outcome = Outcome::insufficientFunds;
        if (result.outcome != Outcome::done)
            return result;
        result.body = std::move(body);
        result.size = static_cast<std::uint64_t>(file.size);
        result.delivery = {account, file.id, result.deliveredBefore ? 0 : fee, request.name};
        return result;
    });
}

std::int64_t SqliteStore::recordDelivery(const Delivery& delivery) {
    return pool_.write([&](Database& db) -> std::int64_t {
        // The delivery's row outlives the file's: row numbers are never used twice.
        db.execute("INSERT OR IGNORE INTO deliveries(file, time) VALUES(?, ?)",
                   {delivery.file, now()});
        if (db.changes() != 1 || delivery.fee == 0)
            return 0;
        book(db, delivery.account, -delivery.fee, "download of " + delivery.name);
        return delivery.fee;
    });
}

} // namespace tonvert::service
