#include "store/pgStore.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "asciiText.h"
#include "store/names.h"
#include "store/randomHex.h"
#include "store/schema.h"

namespace tonvert::service {

namespace {

// Processes that start side by side make the schema one after the other.
constexpr std::int64_t kSchemaLock = 0x746f6e76;

const char* const kAccountColumns =
    "SELECT id, user_id, password, confirmed, balance, pending_password, pending_since, "
    "last_reset, failed_logins, last_failed_login FROM accounts";

Account accountOf(const PgRow& row) {
    return {row.integer(0), row.text(1),    row.text(2),    row.integer(3) != 0, row.integer(4),
            row.text(5),    row.integer(6), row.integer(7), row.integer(8),      row.integer(9)};
}

AudioFile audioOf(const PgRow& row) {
    return {row.integer(0), row.integer(1), row.text(2), row.integer(3)};
}

bool holds(PgConnection& db, const Caller& caller) {
    const auto row = db.queryOne("SELECT password FROM accounts WHERE id = $1", {caller.account});
    return row && row->text(0) == caller.passwordHash;
}

std::int64_t balanceOf(PgConnection& db, std::int64_t account) {
    const auto row = db.queryOne("SELECT balance FROM accounts WHERE id = $1", {account});
    if (!row)
        throw std::runtime_error("no account " + std::to_string(account));
    return row->integer(0);
}

void orphan(PgConnection& db, std::int64_t body, std::int64_t now) {
    db.execute("UPDATE bodies SET orphaned = $2 WHERE id = $1", {body, now});
}

// Whether PostgreSQL takes the text as a text parameter: UTF-8 without NUL. No stored name is
// anything else, so a name that is not is found nowhere.
bool storable(const std::string& text) {
    return isUtf8(text) && text.find('\0') == std::string::npos;
}

// Gives a new body to the row that names it; a body swept meanwhile fails the transaction.
void claim(PgConnection& db, std::int64_t body) {
    if (db.execute("UPDATE bodies SET orphaned = NULL WHERE id = $1", {body}) != 1)
        throw std::runtime_error("body " + std::to_string(body) + " is gone");
}

// Reads a body chunk by chunk, holding one chunk at a time.
class ChunkedBody final : public BodySource {
public:
    ChunkedBody(std::shared_ptr<PgPool> pool, std::int64_t body)
        : pool_(std::move(pool))
        , body_(body) {}

    std::size_t read(std::uint64_t offset, char* buffer, std::size_t size) override {
        try {
            return readOrThrow(offset, buffer, size);
        } catch (const std::exception&) {
            return 0;
        }
    }

    // As read, but a database error throws instead of looking like the end of the body.
    std::size_t readOrThrow(std::uint64_t offset, char* buffer, std::size_t size) {
        const auto seq = static_cast<std::int64_t>(offset / PgStore::kChunkBytes);
        if (seq != chunkSeq_) {
            chunk_ = pool_->read([&](PgConnection& db) {
                const auto rows =
                    db.query("SELECT data FROM body_chunks WHERE body = $1 AND seq = $2",
                             {body_, seq}, true);
                return rows.empty() ? std::string() : rows.front().text(0);
            });
            chunkSeq_ = seq;
        }
        const std::size_t within = offset % PgStore::kChunkBytes;
        if (within >= chunk_.size())
            return 0;
        const std::size_t count = std::min(size, chunk_.size() - within);
        std::copy_n(chunk_.data() + within, count, buffer);
        return count;
    }

private:
    std::shared_ptr<PgPool> pool_;
    std::int64_t body_;
    std::int64_t chunkSeq_ = -1;
    std::string chunk_;
};

} // namespace

PgStore::PgStore(const std::string& url, const std::string& dataFolder, StoreOptions options)
    : Store(dataFolder, std::move(options))
    , pool_(std::make_shared<PgPool>(url)) {
    pool_->transaction([](PgConnection& db) {
        db.execute("SELECT pg_advisory_xact_lock($1)", {kSchemaLock});
        PgSchema schema(db);
        migrateSchema(schema);
    });
    sweepBodies(true);
}

void PgStore::book(PgConnection& db, std::int64_t account, std::int64_t amount,
                   const std::string& reason) {
    if (db.execute("UPDATE accounts SET balance = balance + $1 WHERE id = $2", {amount, account}) !=
        1)
        throw std::runtime_error("no account " + std::to_string(account));
    db.execute("INSERT INTO ledger(account, time, amount, reason) VALUES($1, $2, $3, $4)",
               {account, now(), amount, reason});
}

std::int64_t PgStore::leaseNow(PgConnection& db) {
    if (options().clock)
        return now();
    return db.queryOne("SELECT extract(epoch FROM clock_timestamp())::bigint")->integer(0);
}

std::int64_t PgStore::storeBody(std::string_view bytes) {
    return pool_->transaction([&](PgConnection& db) {
        const std::int64_t body =
            db.queryOne("INSERT INTO bodies(size, orphaned) VALUES($1, $2) RETURNING id",
                        {static_cast<std::int64_t>(bytes.size()), now()})
                ->integer(0);
        for (std::size_t done = 0, seq = 0; done < bytes.size(); done += kChunkBytes, ++seq)
            db.execute("INSERT INTO body_chunks(body, seq, data) VALUES($1, $2, $3)",
                       {body, static_cast<std::int64_t>(seq), bytes.substr(done, kChunkBytes)});
        return body;
    });
}

std::optional<std::int64_t> PgStore::storeBodyOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    // A file that cannot be read whole throws inside the transaction, so that it rolls back
    // with the chunks stored so far.
    struct Unreadable {};
    try {
        return pool_->transaction([&](PgConnection& db) {
            in.clear();
            in.seekg(0);
            const std::int64_t body =
                db.queryOne("INSERT INTO bodies(size, orphaned) VALUES(0, $1) RETURNING id",
                            {now()})
                    ->integer(0);
            std::string chunk(kChunkBytes, '\0');
            std::int64_t size = 0;
            for (std::int64_t seq = 0; in; ++seq) {
                in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
                const auto count = static_cast<std::size_t>(in.gcount());
                if (count == 0)
                    break;
                db.execute("INSERT INTO body_chunks(body, seq, data) VALUES($1, $2, $3)",
                           {body, seq, std::string_view(chunk.data(), count)});
                size += static_cast<std::int64_t>(count);
            }
            if (in.bad())
                throw Unreadable{};
            db.execute("UPDATE bodies SET size = $2 WHERE id = $1", {body, size});
            return body;
        });
    } catch (const Unreadable&) {
        return std::nullopt;
    }
}

void PgStore::dropBody(std::int64_t body) noexcept {
    try {
        pool_->transaction([&](PgConnection& db) {
            db.execute("DELETE FROM bodies WHERE id = $1 AND orphaned IS NOT NULL", {body});
        });
    } catch (const std::exception&) {
        // Swept later.
    }
}

void PgStore::sweepBodies(bool now) {
    const std::int64_t time = Store::now();
    std::int64_t last = lastSweep_.load();
    if (!now && (time < last + 60 || !lastSweep_.compare_exchange_strong(last, time)))
        return;
    lastSweep_ = time;
    try {
        pool_->transaction([&](PgConnection& db) {
            db.execute("DELETE FROM bodies WHERE orphaned < $1",
                       {time - options().orphanBodySeconds});
        });
    } catch (const std::exception&) {
        // Tried again at the next sweep.
    }
}

std::optional<Account> PgStore::account(const std::string& userId) {
    if (!storable(userId))
        return std::nullopt;
    return pool_->read([&](PgConnection& db) -> std::optional<Account> {
        const auto row =
            db.queryOne(std::string(kAccountColumns) +
                            " WHERE lower(user_id COLLATE \"C\") = lower($1::text COLLATE \"C\")",
                        {userId});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<Account> PgStore::accountById(std::int64_t id) {
    return pool_->read([&](PgConnection& db) -> std::optional<Account> {
        const auto row = db.queryOne(std::string(kAccountColumns) + " WHERE id = $1", {id});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<std::int64_t> PgStore::addAccount(const NewAccount& account) {
    return pool_->transaction([&](PgConnection& db) -> std::optional<std::int64_t> {
        const auto row = db.queryOne(
            "INSERT INTO accounts(user_id, password, balance, created) VALUES($1, $2, 0, $3) "
            "ON CONFLICT DO NOTHING RETURNING id",
            {account.userId, account.passwordHash, now()});
        if (!row)
            return std::nullopt;
        book(db, row->integer(0), account.balance, "starting balance");
        return row->integer(0);
    });
}

bool PgStore::confirmAccount(const Caller& caller) {
    return pool_->transaction([&](PgConnection& db) {
        return db.execute("UPDATE accounts SET confirmed = 1 WHERE id = $1 AND password = $2",
                          {caller.account, caller.passwordHash}) == 1;
    });
}

bool PgStore::setPassword(std::int64_t account, const std::string& passwordHash) {
    return pool_->transaction([&](PgConnection& db) {
        return db.execute("UPDATE accounts SET password = $1 WHERE id = $2",
                          {passwordHash, account}) == 1;
    });
}

bool PgStore::rehashPassword(const Caller& caller, const std::string& passwordHash) {
    return pool_->transaction([&](PgConnection& db) {
        return db.execute("UPDATE accounts SET password = $1 WHERE id = $2 AND password = $3",
                          {passwordHash, caller.account, caller.passwordHash}) == 1;
    });
}

bool PgStore::removeNewAccount(const Caller& caller) {
    return pool_->transaction([&](PgConnection& db) {
        if (!db.queryOne("SELECT id FROM accounts WHERE id = $1 AND password = $2 AND "
                         "confirmed = 0 FOR UPDATE",
                         {caller.account, caller.passwordHash}))
            return false;
        db.execute("DELETE FROM ledger WHERE account = $1", {caller.account});
        db.execute("DELETE FROM accounts WHERE id = $1", {caller.account});
        return true;
    });
}

ResetResult PgStore::startReset(const ResetRequest& request) {
    return pool_->transaction([&](PgConnection& db) {
        ResetResult result;
        const auto row = db.queryOne("SELECT pending_password, pending_since, last_reset FROM "
                                     "accounts WHERE id = $1 FOR UPDATE",
                                     {request.account});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const std::int64_t lastReset = row->integer(2);
        if (lastReset != 0 && now() < lastReset + request.minimumInterval) {
            result.outcome = Outcome::tooSoon;
            return result;
        }
        result.undo = {request.account, request.passwordHash, row->text(0), row->integer(1),
                       lastReset};
        db.execute("UPDATE accounts SET pending_password = $1, pending_since = $2, "
                   "last_reset = $2 WHERE id = $3",
                   {request.passwordHash, now(), request.account});
        return result;
    });
}

bool PgStore::undoReset(const ResetUndo& undo) {
    const auto orNull = [](auto value) -> PgValue {
        if (value == decltype(value){})
            return nullptr;
        return value;
    };
    return pool_->transaction([&](PgConnection& db) {
        return db.execute("UPDATE accounts SET pending_password = $1, pending_since = $2, "
                          "last_reset = $3 WHERE id = $4 AND pending_password = $5",
                          {orNull(undo.previousPendingHash), orNull(undo.previousPendingSince),
                           orNull(undo.previousReset), undo.account, undo.passwordHash}) == 1;
    });
}

bool PgStore::usePendingPassword(std::int64_t account, const std::string& pendingHash) {
    return pool_->transaction([&](PgConnection& db) {
        return db.execute("UPDATE accounts SET password = pending_password, pending_password = "
                          "NULL, pending_since = NULL WHERE id = $1 AND pending_password = $2",
                          {account, pendingHash}) == 1;
    });
}

std::int64_t PgStore::noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) {
    return pool_->transaction([&](PgConnection& db) -> std::int64_t {
        const auto row = db.queryOne(
            "UPDATE accounts SET failed_logins = CASE WHEN last_failed_login >= $1 THEN "
            "failed_logins + 1 ELSE 1 END, last_failed_login = $2 WHERE id = $3 "
            "RETURNING failed_logins",
            {now() - forgetAfter, now(), account});
        return row ? row->integer(0) : 0;
    });
}

void PgStore::clearFailedLogins(std::int64_t account) {
    pool_->transaction([&](PgConnection& db) {
        db.execute("UPDATE accounts SET failed_logins = 0, last_failed_login = NULL WHERE id = $1",
                   {account});
    });
}

bool PgStore::countSignup(const std::string& address, std::int64_t windowSeconds,
                          std::int64_t limit) {
    return pool_->transaction([&](PgConnection& db) {
        // Sign-ups from one address are counted one after the other.
        db.execute("SELECT pg_advisory_xact_lock(hashtext($1::text))", {address});
        const std::int64_t since = now() - windowSeconds;
        db.execute("DELETE FROM signups WHERE time < $1", {since});
        const auto row = db.queryOne(
            "SELECT COUNT(*) FROM signups WHERE address = $1 AND time >= $2", {address, since});
        if (row && row->integer(0) >= limit)
            return false;
        db.execute("INSERT INTO signups(address, time) VALUES($1, $2)", {address, now()});
        return true;
    });
}

std::optional<std::int64_t> PgStore::book(const Booking& booking) {
    return pool_->transaction([&](PgConnection& db) -> std::optional<std::int64_t> {
        const auto row = db.queryOne(
            "UPDATE accounts SET balance = balance + $1 WHERE id = $2 RETURNING balance",
            {booking.amount, booking.account});
        if (!row)
            return std::nullopt;
        db.execute("INSERT INTO ledger(account, time, amount, reason) VALUES($1, $2, $3, $4)",
                   {booking.account, now(), booking.amount, booking.reason});
        return row->integer(0);
    });
}

std::vector<LedgerEntry> PgStore::ledger(std::int64_t account) {
    return pool_->read([&](PgConnection& db) {
        std::vector<LedgerEntry> entries;
        for (const PgRow& row :
             db.query("SELECT time, amount, reason FROM ledger WHERE account = $1 ORDER BY id",
                      {account}))
            entries.push_back({row.integer(0), row.integer(1), row.text(2)});
        return entries;
    });
}

std::string PgStore::issueFormToken() {
    const std::string token = randomHex(16);
    pool_->transaction([&](PgConnection& db) {
        db.execute("DELETE FROM form_tokens WHERE issued < $1",
                   {now() - options().formTokenSeconds});
        db.execute("DELETE FROM form_tokens WHERE id <= (SELECT id FROM form_tokens ORDER BY id "
                   "DESC LIMIT 1 OFFSET $1)",
                   {options().formTokensKept - 1});
        db.execute("INSERT INTO form_tokens(token, issued) VALUES($1, $2)", {token, now()});
    });
    return token;
}

FundsResult PgStore::addFunds(const FundsRequest& request) {
    const std::string receipt = randomHex(16);
    return pool_->transaction([&](PgConnection& db) {
        FundsResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        // Taking the token and booking commit together: of two posts of one form, one books.
        if (db.execute("DELETE FROM form_tokens WHERE token = $1 AND issued >= $2",
                       {request.formToken, now() - options().formTokenSeconds}) != 1) {
            result.outcome = Outcome::formSpent;
            return result;
        }
        const std::int64_t account = request.caller.account;
        book(db, account, request.amount, "funds added");
        result.balance = balanceOf(db, account);
        db.execute("DELETE FROM receipts WHERE created < $1", {now() - options().receiptSeconds});
        db.execute("INSERT INTO receipts(token, account, amount, balance, created) "
                   "VALUES($1, $2, $3, $4, $5)",
                   {receipt, account, request.amount, result.balance, now()});
        result.receipt = receipt;
        return result;
    });
}

std::optional<Receipt> PgStore::receipt(const std::string& id) {
    return pool_->read([&](PgConnection& db) -> std::optional<Receipt> {
        const auto row = db.queryOne(
            "SELECT accounts.user_id, receipts.amount, receipts.balance FROM receipts JOIN "
            "accounts ON accounts.id = receipts.account WHERE receipts.token = $1 AND "
            "receipts.created >= $2",
            {id, now() - options().receiptSeconds});
        if (!row)
            return std::nullopt;
        return Receipt{row->text(0), row->integer(1), row->integer(2)};
    });
}

std::vector<MidiRecord> PgStore::midiRecords(std::int64_t account) {
    return pool_->read([&](PgConnection& db) {
        std::vector<MidiRecord> records;
        for (const PgRow& row :
             db.query("SELECT id, account, name, parameters, size, state, play_seconds, "
                      "attempts, next_attempt FROM midi_records WHERE account = $1 ORDER BY id",
                      {account}))
            records.push_back({row.integer(0), row.integer(1), row.text(2), row.text(3),
                               row.integer(4), row.text(5), row.integer(6), row.integer(7),
                               row.integer(8)});
        return records;
    });
}

SubmitResult PgStore::submitMidi(const SubmitRequest& request) {
    // The body is stored first, unclaimed: a process that dies before the record's commit
    // leaves a body that is swept, never a record without its body.
    const std::int64_t body = storeBody(request.body);
    const std::int64_t account = request.caller.account;
    SubmitResult result;
    try {
        result = pool_->transaction([&](PgConnection& db) -> SubmitResult {
            // The account's row lock holds the checks below until the commit.
            const auto owner = db.queryOne(
                "SELECT password, balance FROM accounts WHERE id = $1 FOR UPDATE", {account});
            if (!owner || owner->text(0) != request.caller.passwordHash)
                return {Outcome::passwordChanged, 0};
            const std::int64_t balance = owner->integer(1);
            if (balance < 0)
                return {Outcome::negativeBalance, 0};
            const auto queued = db.query(
                "SELECT name, play_seconds FROM midi_records WHERE account = $1", {account});
            if (queued.size() >= request.maxRecords)
                return {Outcome::tooManyRecords, 0};
            std::int64_t queuedSeconds = request.playSeconds;
            for (const PgRow& row : queued)
                queuedSeconds += row.integer(1);
            if (queuedSeconds > request.maxQueuedSeconds)
                return {Outcome::tooMuchPlayTime, 0};
            for (const PgRow& row : queued)
                if (ascii::equalIgnoringCase(row.text(0), request.name))
                    return {Outcome::nameInUse, 0};
            const std::int64_t fee = request.fee.forBytes(request.body.size());
            if (fee > balance)
                return {Outcome::insufficientFunds, 0};
            const std::int64_t record =
                db.queryOne("INSERT INTO midi_records(account, name, parameters, size, created, "
                            "play_seconds, fee, body) VALUES($1, $2, $3, $4, $5, $6, $7, $8) "
                            "RETURNING id",
                            {account, request.name, request.parameters,
                             static_cast<std::int64_t>(request.body.size()), now(),
                             request.playSeconds, fee, body})
                    ->integer(0);
            claim(db, body);
            book(db, account, -fee, "upload of " + request.name);
            return {Outcome::done, record};
        });
    } catch (...) {
        dropBody(body);
        throw;
    }
    if (result.outcome != Outcome::done)
        dropBody(body);
    return result;
}

Outcome PgStore::deleteWaitingMidi(const Caller& caller, std::int64_t record) {
    return pool_->transaction([&](PgConnection& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        const auto row = db.queryOne(
            "SELECT account, state, body FROM midi_records WHERE id = $1 FOR UPDATE", {record});
        if (!row || row->integer(0) != caller.account)
            return Outcome::notFound;
        if (row->text(1) != "waiting")
            return Outcome::locked;
        db.execute("DELETE FROM midi_records WHERE id = $1", {record});
        orphan(db, row->integer(2), now());
        return Outcome::done;
    });
}

std::optional<RenderJob> PgStore::takeNextJob() {
    sweepBodies();
    return pool_->transaction([&](PgConnection& db) -> std::optional<RenderJob> {
        // The fair next job of those no other worker holds: waiting and due, or taken under a
        // lease that ran out. Turns rather than times order the accounts.
        const std::int64_t time = leaseNow(db);
        const auto row = db.queryOne(
            "SELECT r.id, a.user_id, r.name, r.parameters, a.id, r.state, r.attempts FROM "
            "midi_records r JOIN accounts a ON a.id = r.account WHERE (r.state = 'waiting' AND "
            "r.next_attempt <= $1) "
            "OR (r.state = 'rendering' AND r.lease_until < $1) ORDER BY a.last_served, r.id "
            "LIMIT 1 FOR UPDATE OF r SKIP LOCKED",
            {time});
        if (!row)
            return std::nullopt;
        const std::int64_t record = row->integer(0);
        // A lease that ran out: its worker died, maybe of this very job.
        const std::int64_t attempts = row->integer(6) + (row->text(5) == "rendering" ? 1 : 0);
        const std::int64_t lease =
            db.queryOne("UPDATE midi_records SET state = 'rendering', lease = nextval('leases'), "
                        "lease_until = $2, attempts = $3 WHERE id = $1 RETURNING lease",
                        {record, time + options().leaseSeconds, attempts})
                ->integer(0);
        db.execute("UPDATE accounts SET last_served = nextval('turns') WHERE id = $1",
                   {row->integer(4)});
        return RenderJob{record, row->text(1), row->text(2), row->text(3), "", lease, attempts};
    });
}

bool PgStore::fetchMidi(std::int64_t record, const std::string& localPath) {
    struct Stored {
        std::int64_t body;
        std::uint64_t size;
    };
    const auto stored = pool_->read([&](PgConnection& db) -> std::optional<Stored> {
        const auto row =
            db.queryOne("SELECT r.body, b.size FROM midi_records r JOIN bodies b ON b.id = r.body "
                        "WHERE r.id = $1",
                        {record});
        if (!row)
            return std::nullopt;
        return Stored{row->integer(0), static_cast<std::uint64_t>(row->integer(1))};
    });
    if (!stored)
        return false;
    std::ofstream out(localPath, std::ios::binary | std::ios::trunc);
    ChunkedBody source(pool_, stored->body);
    std::string buffer(kChunkBytes, '\0');
    std::uint64_t done = 0;
    while (const std::size_t count = source.readOrThrow(done, buffer.data(), buffer.size())) {
        out.write(buffer.data(), static_cast<std::streamsize>(count));
        done += count;
    }
    out.close();
    // A chunk gone missing ends the reading early: a file cut short is no MIDI file.
    return out && done == stored->size;
}

bool PgStore::renewLease(std::int64_t record, std::int64_t lease) {
    return pool_->transaction([&](PgConnection& db) {
        const std::int64_t time = leaseNow(db);
        return db.execute("UPDATE midi_records SET lease_until = $3 WHERE id = $1 AND lease = $2 "
                          "AND state = 'rendering' AND lease_until >= $4",
                          {record, lease, time + options().leaseSeconds, time}) == 1;
    });
}

std::optional<AudioFile> PgStore::publishAudio(const Publication& publication) {
    std::optional<std::int64_t> body;
    try {
        body = storeBodyOfFile(publication.renderedFile);
    } catch (...) {
        removeFile(publication.renderedFile);
        throw;
    }
    removeFile(publication.renderedFile);
    std::optional<AudioFile> published;
    try {
        published = pool_->transaction([&](PgConnection& db) -> std::optional<AudioFile> {
            // Only the holder of the job's lease, while it holds, publishes: a job taken over
            // after its lease ran out is published by its new holder alone.
            const auto record = db.queryOne(
                "SELECT account, name, body FROM midi_records WHERE id = $1 AND lease = $2 AND "
                "state = 'rendering' AND lease_until >= $3 FOR UPDATE",
                {publication.record, publication.lease, leaseNow(db)});
            if (!record)
                throw LeaseLost(publication.record);
            db.execute("DELETE FROM midi_records WHERE id = $1", {publication.record});
            orphan(db, record->integer(2), now());
            if (!body)
                return std::nullopt;
            const std::int64_t account = record->integer(0);
            // The account's row lock keeps another publication for it from picking the same
            // name between this one's reading of the names and its commit.
            db.execute("SELECT id FROM accounts WHERE id = $1 FOR UPDATE", {account});
            std::vector<std::string> taken;
            for (const PgRow& row :
                 db.query("SELECT name FROM audio_files WHERE account = $1", {account}))
                taken.push_back(row.text(0));
            AudioFile file{0, account, audioNameFor(record->text(1), publication.extension, taken),
                           0};
            file.size = db.queryOne("SELECT size FROM bodies WHERE id = $1", {*body})->integer(0);
            file.id = db.queryOne("INSERT INTO audio_files(account, name, size, created, body) "
                                  "VALUES($1, $2, $3, $4, $5) RETURNING id",
                                  {account, file.name, file.size, now(), *body})
                          ->integer(0);
            claim(db, *body);
            if (publication.mail) {
                const MailMessage mail = publication.mail(file);
                db.execute("INSERT INTO mail_outbox(recipient, subject, body) VALUES($1, $2, $3)",
                           {mail.to, mail.subject, mail.body});
            }
            return file;
        });
    } catch (...) {
        if (body)
            dropBody(*body);
        throw;
    }
    if (body && !published)
        dropBody(*body);
    return published;
}

void PgStore::discardJob(std::int64_t record, std::int64_t lease) {
    pool_->transaction([&](PgConnection& db) {
        const auto row = db.queryOne("DELETE FROM midi_records WHERE id = $1 AND lease = $2 AND "
                                     "state = 'rendering' RETURNING body",
                                     {record, lease});
        if (!row)
            throw LeaseLost(record);
        orphan(db, row->integer(0), now());
    });
}

RetryResult PgStore::publishFailed(const PublishFailure& failure) {
    return pool_->transaction([&](PgConnection& db) {
        RetryResult result;
        const auto row = db.queryOne(
            "SELECT account, name, size, fee, attempts, body FROM midi_records WHERE id = $1 AND "
            "lease = $2 AND state = 'rendering' FOR UPDATE",
            {failure.record, failure.lease});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        result.attempts = row->integer(4) + 1;
        if (result.attempts < failure.policy.attempts) {
            const auto doublings = std::min<std::int64_t>(result.attempts - 1, 30);
            result.nextAttempt = now() + (failure.policy.firstDelaySeconds << doublings);
            db.execute("UPDATE midi_records SET state = 'waiting', attempts = $1, "
                       "next_attempt = $2 WHERE id = $3",
                       {result.attempts, result.nextAttempt, failure.record});
            return result;
        }
        result.gaveUp = true;
        result.refund =
            row->isNull(3) ? failure.uploadFee.forBytes(static_cast<std::uint64_t>(row->integer(2)))
                           : row->integer(3);
        db.execute("DELETE FROM midi_records WHERE id = $1", {failure.record});
        orphan(db, row->integer(5), now());
        if (result.refund != 0)
            book(db, row->integer(0), result.refund, "refund of the upload of " + row->text(1));
        return result;
    });
}

void PgStore::returnJob(std::int64_t record, std::int64_t lease) {
    pool_->transaction([&](PgConnection& db) {
        db.execute("UPDATE midi_records SET state = 'waiting' WHERE id = $1 AND lease = $2 AND "
                   "state = 'rendering'",
                   {record, lease});
    });
}

void PgStore::requeueUnfinished() {
    // Other processes may be rendering: their jobs come back when their leases run out.
}

std::vector<QueuedMail> PgStore::takeQueuedMail(std::size_t limit) {
    return pool_->transaction([&](PgConnection& db) {
        const std::int64_t time = leaseNow(db);
        std::vector<QueuedMail> mails;
        for (const PgRow& row :
             db.query("UPDATE mail_outbox SET claimed_until = $1 WHERE id IN (SELECT id FROM "
                      "mail_outbox WHERE claimed_until < $2 ORDER BY id LIMIT $3 FOR UPDATE "
                      "SKIP LOCKED) RETURNING id, recipient, subject, body",
                      {time + options().leaseSeconds, time, static_cast<std::int64_t>(limit)}))
            mails.push_back({row.integer(0), {row.text(1), row.text(2), row.text(3)}});
        std::sort(mails.begin(), mails.end(),
                  [](const QueuedMail& a, const QueuedMail& b) { return a.id < b.id; });
        return mails;
    });
}

void PgStore::mailSent(std::int64_t id) {
    pool_->transaction(
        [&](PgConnection& db) { db.execute("DELETE FROM mail_outbox WHERE id = $1", {id}); });
}

std::vector<AudioFile> PgStore::audioFiles(std::int64_t account) {
    return pool_->read([&](PgConnection& db) {
        std::vector<AudioFile> files;
        for (const PgRow& row : db.query("SELECT id, account, name, size FROM audio_files WHERE "
                                         "account = $1 ORDER BY id",
                                         {account}))
            files.push_back(audioOf(row));
        return files;
    });
}

Outcome PgStore::deleteAudio(const Caller& caller, const std::string& name) {
    return pool_->transaction([&](PgConnection& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        if (!storable(name))
            return Outcome::notFound;
        const auto row =
            db.queryOne("DELETE FROM audio_files WHERE account = $1 AND "
                        "lower(name COLLATE \"C\") = lower($2::text COLLATE \"C\") RETURNING body",
                        {caller.account, name});
        if (!row)
            return Outcome::notFound;
        // Downloads opened before go on reading the body until it is swept.
        orphan(db, row->integer(0), now());
        return Outcome::done;
    });
}

DownloadResult PgStore::openDownload(const DownloadRequest& request) {
    // Only reads, and takes no locks: at READ COMMITTED a transaction would show each statement
    // the data as of its start all the same, for two more round trips.
    return pool_->read([&](PgConnection& db) {
        DownloadResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        const std::int64_t account = request.caller.account;
        if (!storable(request.name)) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const auto row = db.queryOne(
            "SELECT id, account, name, size, body FROM audio_files "
            "WHERE account = $1 AND lower(name COLLATE \"C\") = lower($2::text COLLATE \"C\")",
            {account, request.name});
        if (!row) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const AudioFile file = audioOf(*row);
        const std::int64_t balance = balanceOf(db, account);
        const std::int64_t fee = request.fee.forBytes(static_cast<std::uint64_t>(file.size));
        result.deliveredBefore =
            db.queryOne("SELECT 1 FROM deliveries WHERE file = $1", {file.id}).has_value();
        if (!result.deliveredBefore && balance < 0)
            result.outcome = Outcome::negativeBalance;
        else if (!result.deliveredBefore && fee > balance)
            result.outcome = Outcome::insufficientFunds;
        if (result.outcome != Outcome::done)
            return result;
        result.body = std::make_shared<ChunkedBody>(pool_, row->integer(4));
        result.size = static_cast<std::uint64_t>(file.size);
        result.delivery = {account, file.id, result.deliveredBefore ? 0 : fee, request.name};
        return result;
    });
}

std::int64_t PgStore::recordDelivery(const Delivery& delivery) {
    return pool_->transaction([&](PgConnection& db) -> std::int64_t {
        // The delivery's row outlives the file's: row numbers are never used twice.
        if (db.execute("INSERT INTO deliveries(file, time) VALUES($1, $2) ON CONFLICT DO NOTHING",
                       {delivery.file, now()}) != 1 ||
            delivery.fee == 0)
            return 0;
        book(db, delivery.account, -delivery.fee, "download of " + delivery.name);
        return delivery.fee;
    });
}

} // namespace tonvert::service
