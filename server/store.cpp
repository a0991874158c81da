#include "store.h"

#include <ctime>
#include <filesystem>

#include "passwords.h"

namespace tonvert::service {

namespace {

std::int64_t now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

Account accountOf(const DbRow& row) {
    return {asInt(row[0]), asText(row[1]), asText(row[2]), asInt(row[3]) != 0, asInt(row[4])};
}

MidiRecord recordOf(const DbRow& row) {
    return {asInt(row[0]),  asInt(row[1]), asText(row[2]),
            asText(row[3]), asInt(row[4]), asText(row[5])};
}

// Row numbers are never used twice: a client's old list cannot reach a newer record.
const char* const kSchema = R"(
CREATE TABLE IF NOT EXISTS accounts(
    id INTEGER PRIMARY KEY,
    user_id TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL,
    confirmed INTEGER NOT NULL DEFAULT 0,
    balance INTEGER NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS midi_records(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id),
    name TEXT NOT NULL,
    parameters TEXT NOT NULL,
    size INTEGER NOT NULL,
    state TEXT NOT NULL DEFAULT 'waiting',
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS audio_files(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id),
    name TEXT NOT NULL COLLATE NOCASE,
    size INTEGER NOT NULL,
    created INTEGER NOT NULL,
    UNIQUE(account, name));
CREATE TABLE IF NOT EXISTS ledger(
    id INTEGER PRIMARY KEY,
    account INTEGER NOT NULL REFERENCES accounts(id),
    time INTEGER NOT NULL,
    amount INTEGER NOT NULL,
    reason TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS form_tokens(
    id INTEGER PRIMARY KEY,
    token TEXT NOT NULL UNIQUE,
    issued INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS receipts(
    id INTEGER PRIMARY KEY,
    token TEXT NOT NULL UNIQUE,
    account INTEGER NOT NULL REFERENCES accounts(id),
    amount INTEGER NOT NULL,
    balance INTEGER NOT NULL,
    created INTEGER NOT NULL);
)";

// Every page view issues a form token: old ones go, and never more than so many stay.
constexpr std::int64_t kFormTokenSeconds = 60 * 60;
constexpr std::int64_t kFormTokensKept = 5000;
constexpr std::int64_t kReceiptSeconds = 24 * 60 * 60;

std::string prepareFolder(const std::string& folder) {
    for (const char* part : {"", "/midi", "/audio", "/scratch", "/outbox"})
        std::filesystem::create_directories(folder + part);
    return folder;
}

} // namespace

std::int64_t feeFor(std::int64_t base, std::int64_t perMb, std::uint64_t bytes) {
    const std::uint64_t megabytes = (bytes + (1u << 20) - 1) >> 20;
    return base + perMb * static_cast<std::int64_t>(megabytes);
}

Store::Store(const std::string& dataFolder)
    : folder_(prepareFolder(dataFolder))
    , db_(folder_ + "/tonvert.sqlite") {
    for (std::string_view rest = kSchema; !rest.empty();) {
        const auto end = rest.find(';');
        const std::string statement(rest.substr(0, end));
        if (statement.find_first_not_of(" \n") != std::string::npos)
            db_.execute(statement);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
    }
    // Scratch files are uploads that never made it into a row.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ + "/scratch", ignored))
        std::filesystem::remove(entry.path(), ignored);
}

std::string Store::midiPath(std::int64_t record) const {
    return folder_ + "/midi/" + std::to_string(record) + ".mid";
}

std::string Store::audioPath(std::int64_t file) const {
    return folder_ + "/audio/" + std::to_string(file) + ".bin";
}

std::string Store::scratchPath() const {
    return folder_ + "/scratch/" + randomHex(12);
}

std::optional<Account> Store::account(const std::string& userId) {
    const auto row = db_.queryOne(
        "SELECT id, user_id, password, confirmed, balance FROM accounts WHERE user_id = ?",
        {userId});
    return row ? std::optional(accountOf(*row)) : std::nullopt;
}

std::optional<Account> Store::accountById(std::int64_t id) {
    const auto row = db_.queryOne(
        "SELECT id, user_id, password, confirmed, balance FROM accounts WHERE id = ?", {id});
    return row ? std::optional(accountOf(*row)) : std::nullopt;
}

std::int64_t Store::addAccount(const std::string& userId, const std::string& passwordHash,
                               std::int64_t balance) {
    db_.execute("INSERT INTO accounts(user_id, password, balance, created) VALUES(?, ?, ?, ?)",
                {userId, passwordHash, balance, now()});
    const std::int64_t id = db_.lastInsertId();
    db_.execute("INSERT INTO ledger(account, time, amount, reason) VALUES(?, ?, ?, ?)",
                {id, now(), balance, std::string("starting balance")});
    return id;
}

void Store::setPassword(std::int64_t account, const std::string& passwordHash, bool confirmed) {
    db_.execute("UPDATE accounts SET password = ?, confirmed = ? WHERE id = ?",
                {passwordHash, std::int64_t(confirmed ? 1 : 0), account});
}

void Store::book(std::int64_t account, std::int64_t amount, const std::string& reason) {
    db_.execute("UPDATE accounts SET balance = balance + ? WHERE id = ?", {amount, account});
    db_.execute("INSERT INTO ledger(account, time, amount, reason) VALUES(?, ?, ?, ?)",
                {account, now(), amount, reason});
}

std::vector<MidiRecord> Store::midiRecords(std::int64_t account) {
    std::vector<MidiRecord> records;
    for (const DbRow& row : db_.query("SELECT id, account, name, parameters, size, state FROM "
                                      "midi_records WHERE account = ? ORDER BY id",
                                      {account}))
        records.push_back(recordOf(row));
    return records;
}

std::optional<MidiRecord> Store::midiRecord(std::int64_t id) {
    const auto row = db_.queryOne(
        "SELECT id, account, name, parameters, size, state FROM midi_records WHERE id = ?", {id});
    return row ? std::optional(recordOf(*row)) : std::nullopt;
}

std::vector<AudioFile> Store::audioFiles(std::int64_t account) {
    std::vector<AudioFile> files;
    for (const DbRow& row :
         db_.query("SELECT id, account, name, size FROM audio_files WHERE account = ? ORDER BY id",
                   {account}))
        files.push_back({asInt(row[0]), asInt(row[1]), asText(row[2]), asInt(row[3])});
    return files;
}

std::optional<AudioFile> Store::audioFile(std::int64_t account, const std::string& name) {
    const auto row = db_.queryOne(
        "SELECT id, account, name, size FROM audio_files WHERE account = ? AND name = ?",
        {account, name});
    if (!row)
        return std::nullopt;
    return AudioFile{asInt((*row)[0]), asInt((*row)[1]), asText((*row)[2]), asInt((*row)[3])};
}

std::string Store::issueFormToken() {
    const std::string token = randomHex(16);
    db_.execute("DELETE FROM form_tokens WHERE issued < ?", {now() - kFormTokenSeconds});
    db_.execute("DELETE FROM form_tokens WHERE id <= (SELECT id FROM form_tokens ORDER BY id DESC "
                "LIMIT 1 OFFSET ?)",
                {kFormTokensKept - 1});
    db_.execute("INSERT INTO form_tokens(token, issued) VALUES(?, ?)", {token, now()});
    return token;
}

bool Store::takeFormToken(const std::string& token) {
    db_.execute("DELETE FROM form_tokens WHERE token = ? AND issued >= ?",
                {token, now() - kFormTokenSeconds});
    return db_.changes() == 1;
}

std::string Store::addReceipt(std::int64_t account, std::int64_t amount, std::int64_t balance) {
    const std::string id = randomHex(16);
    db_.execute("DELETE FROM receipts WHERE created < ?", {now() - kReceiptSeconds});
    db_.execute(
        "INSERT INTO receipts(token, account, amount, balance, created) VALUES(?, ?, ?, ?, ?)",
        {id, account, amount, balance, now()});
    return id;
}

std::optional<Receipt> Store::receipt(const std::string& id) {
    const auto row = db_.queryOne(
        "SELECT accounts.user_id, receipts.amount, receipts.balance FROM receipts JOIN accounts "
        "ON accounts.id = receipts.account WHERE receipts.token = ? AND receipts.created >= ?",
        {id, now() - kReceiptSeconds});
    if (!row)
        return std::nullopt;
    return Receipt{asText((*row)[0]), asInt((*row)[1]), asInt((*row)[2])};
}

void Store::requeueUnfinished() {
    db_.execute("UPDATE midi_records SET state = 'waiting' WHERE state = 'rendering'");
}

} // namespace tonvert::service
