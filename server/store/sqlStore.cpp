#include "store/sqlStore.h"

#include <algorithm>

#include "asciiText.h"
#include "store/formTokens.h"
#include "store/names.h"
#include "store/randomHex.h"

namespace tonvert::service {

namespace {

const char* const kAccountColumns =
    "SELECT id, user_id, password, confirmed, balance, pending_password, pending_since, "
    "last_reset, failed_logins, last_failed_login FROM accounts";

Account accountOf(const SqlRow& row) {
    return {row.integer(0), row.text(1),    row.text(2),    row.integer(3) != 0, row.integer(4),
            row.text(5),    row.integer(6), row.integer(7), row.integer(8),      row.integer(9)};
}

AudioFile audioOf(const SqlRow& row) {
    return {row.integer(0), row.integer(1), row.text(2), row.integer(3)};
}

// Whether the caller's password hash is still the stored one.
bool holds(SqlTransaction& db, const Caller& caller) {
    const auto row = db.queryOne("SELECT password FROM accounts WHERE id = $1", {caller.account});
    return row && row->text(0) == caller.passwordHash;
}

std::int64_t balanceOf(SqlTransaction& db, std::int64_t account) {
    const auto row = db.queryOne("SELECT balance FROM accounts WHERE id = $1", {account});
    if (!row)
        throw std::runtime_error("no account " + std::to_string(account));
    return row->integer(0);
}

} // namespace

SqlStore::SqlStore(const std::string& dataFolder, StoreOptions options, Spelling spelling)
    : Store(dataFolder, std::move(options))
    , spelling_(spelling) {}

std::string SqlStore::insertWithBody(const std::string& table, const std::string& columns) const {
    std::string names = columns;
    if (spelling_.rowsNameBodies)
        names += ", body";
    std::string values;
    for (std::size_t n = 1, count = std::count(names.begin(), names.end(), ',') + 1; n <= count;
         ++n)
        values += (n > 1 ? ", $" : "$") + std::to_string(n);
    return "INSERT INTO " + table + "(" + names + ") VALUES(" + values + ") RETURNING id";
}

void SqlStore::removeRow(SqlTransaction& db, BodyKind kind, std::int64_t row) {
    releaseBody(db, kind, row);
    db.execute(std::string("DELETE FROM ") +
                   (kind == BodyKind::midi ? "midi_records" : "audio_files") + " WHERE id = $1",
               {row});
}

std::int64_t SqlStore::book(SqlTransaction& db, std::int64_t account, std::int64_t amount,
                            const std::string& reason) {
    const auto row =
        db.queryOne("UPDATE accounts SET balance = balance + $1 WHERE id = $2 RETURNING balance",
                    {amount, account});
    if (!row)
        throw std::runtime_error("no account " + std::to_string(account));
    db.execute("INSERT INTO ledger(account, time, amount, reason) VALUES($1, $2, $3, $4)",
               {account, now(), amount, reason});
    return row->integer(0);
}

std::optional<Account> SqlStore::account(const std::string& userId) {
    if (!canHold(userId))
        return std::nullopt;
    return read([&](SqlTransaction& db) -> std::optional<Account> {
        const auto row = db.queryOne(
            std::string(kAccountColumns) + " WHERE " + sameName("user_id", "$1"), {userId});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<Account> SqlStore::accountById(std::int64_t id) {
    return read([&](SqlTransaction& db) -> std::optional<Account> {
        const auto row = db.queryOne(std::string(kAccountColumns) + " WHERE id = $1", {id});
        return row ? std::optional(accountOf(*row)) : std::nullopt;
    });
}

std::optional<std::int64_t> SqlStore::addAccount(const NewAccount& account) {
    return write([&](SqlTransaction& db) -> std::optional<std::int64_t> {
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

bool SqlStore::confirmAccount(const Caller& caller) {
    return write([&](SqlTransaction& db) {
        return db.execute("UPDATE accounts SET confirmed = 1 WHERE id = $1 AND password = $2",
                          {caller.account, caller.passwordHash}) == 1;
    });
}

bool SqlStore::setPassword(std::int64_t account, const std::string& passwordHash) {
    return write([&](SqlTransaction& db) {
        return db.execute("UPDATE accounts SET password = $1 WHERE id = $2",
                          {passwordHash, account}) == 1;
    });
}

bool SqlStore::rehashPassword(const Caller& caller, const std::string& passwordHash) {
    return write([&](SqlTransaction& db) {
        return db.execute("UPDATE accounts SET password = $1 WHERE id = $2 AND password = $3",
                          {passwordHash, caller.account, caller.passwordHash}) == 1;
    });
}

bool SqlStore::removeNewAccount(const Caller& caller) {
    return write([&](SqlTransaction& db) {
        if (!db.queryOne("SELECT id FROM accounts WHERE id = $1 AND password = $2 AND "
                         "confirmed = 0" +
                             std::string(spelling_.lockRows),
                         {caller.account, caller.passwordHash}))
            return false;
        // Nobody could use an account whose password never went out: only its starting
        // balance is in its name.
        db.execute("DELETE FROM ledger WHERE account = $1", {caller.account});
        db.execute("DELETE FROM accounts WHERE id = $1", {caller.account});
        return true;
    });
}

ResetResult SqlStore::startReset(const ResetRequest& request) {
    return write([&](SqlTransaction& db) {
        ResetResult result;
        const auto row = db.queryOne(
            "SELECT pending_password, pending_since, last_reset FROM accounts WHERE id = $1" +
                std::string(spelling_.lockRows),
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

bool SqlStore::undoReset(const ResetUndo& undo) {
    const auto orNull = [](auto value) -> SqlValue {
        if (value == decltype(value){})
            return nullptr;
        return value;
    };
    return write([&](SqlTransaction& db) {
        return db.execute("UPDATE accounts SET pending_password = $1, pending_since = $2, "
                          "last_reset = $3 WHERE id = $4 AND pending_password = $5",
                          {orNull(undo.previousPendingHash), orNull(undo.previousPendingSince),
                           orNull(undo.previousReset), undo.account, undo.passwordHash}) == 1;
    });
}

bool SqlStore::usePendingPassword(std::int64_t account, const std::string& pendingHash) {
    return write([&](SqlTransaction& db) {
        return db.execute("UPDATE accounts SET password = pending_password, pending_password = "
                          "NULL, pending_since = NULL WHERE id = $1 AND pending_password = $2",
                          {account, pendingHash}) == 1;
    });
}

std::int64_t SqlStore::noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) {
    return write([&](SqlTransaction& db) -> std::int64_t {
        const auto row = db.queryOne(
            "UPDATE accounts SET failed_logins = CASE WHEN last_failed_login >= $1 THEN "
            "failed_logins + 1 ELSE 1 END, last_failed_login = $2 WHERE id = $3 "
            "RETURNING failed_logins",
            {now() - forgetAfter, now(), account});
        return row ? row->integer(0) : 0;
    });
}

void SqlStore::clearFailedLogins(std::int64_t account) {
    write([&](SqlTransaction& db) {
        db.execute("UPDATE accounts SET failed_logins = 0, last_failed_login = NULL WHERE id = $1",
                   {account});
    });
}

bool SqlStore::countSignup(const std::string& address, std::int64_t windowSeconds,
                           std::int64_t limit) {
    return write([&](SqlTransaction& db) {
        // Sign-ups from one address are counted one after the other.
        serializeBy(db, "signups from " + address);
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

std::optional<std::int64_t> SqlStore::book(const Booking& booking) {
    return write([&](SqlTransaction& db) -> std::optional<std::int64_t> {
        if (!db.queryOne("SELECT id FROM accounts WHERE id = $1", {booking.account}))
            return std::nullopt;
        return book(db, booking.account, booking.amount, booking.reason);
    });
}

std::vector<LedgerEntry> SqlStore::ledger(std::int64_t account) {
    return read([&](SqlTransaction& db) {
        std::vector<LedgerEntry> entries;
        for (const SqlRow& row :
             db.query("SELECT time, amount, reason FROM ledger WHERE account = $1 ORDER BY id",
                      {account}))
            entries.push_back({row.integer(0), row.integer(1), row.text(2)});
        return entries;
    });
}

void SqlStore::keepFormKey() {
    formKey_ = write([&](SqlTransaction& db) {
        db.execute("INSERT INTO service_keys(name, value) VALUES('form tokens', $1) "
                   "ON CONFLICT DO NOTHING",
                   {randomHex(32)});
        return db.queryOne("SELECT value FROM service_keys WHERE name = 'form tokens'")->text(0);
    });
}

std::string SqlStore::issueFormToken() {
    return signedFormToken(formKey_, now());
}

FundsResult SqlStore::addFunds(const FundsRequest& request) {
    const std::string receipt = randomHex(16);
    return write([&](SqlTransaction& db) {
        FundsResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        // Noting the token used and booking commit together: of two posts of one form, one
        // books. Used tokens are kept as long as they could be used.
        const auto issued = formTokenIssued(formKey_, request.formToken);
        const std::int64_t oldest = now() - options().formTokenSeconds;
        db.execute("DELETE FROM form_tokens WHERE issued < $1", {oldest});
        if (!issued || *issued < oldest ||
            db.execute("INSERT INTO form_tokens(token, issued) VALUES($1, $2) "
                       "ON CONFLICT DO NOTHING",
                       {request.formToken, *issued}) != 1) {
            result.outcome = Outcome::formSpent;
            return result;
        }
        const std::int64_t account = request.caller.account;
        result.balance = book(db, account, request.amount, "funds added");
        db.execute("DELETE FROM receipts WHERE created < $1", {now() - options().receiptSeconds});
        db.execute("INSERT INTO receipts(token, account, amount, balance, created) "
                   "VALUES($1, $2, $3, $4, $5)",
                   {receipt, account, request.amount, result.balance, now()});
        result.receipt = receipt;
        return result;
    });
}

std::optional<Receipt> SqlStore::receipt(const std::string& id) {
    return read([&](SqlTransaction& db) -> std::optional<Receipt> {
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

std::vector<MidiRecord> SqlStore::midiRecords(std::int64_t account) {
    return read([&](SqlTransaction& db) {
        std::vector<MidiRecord> records;
        for (const SqlRow& row :
             db.query("SELECT id, account, name, parameters, size, state, play_seconds, "
                      "attempts, next_attempt FROM midi_records WHERE account = $1 ORDER BY id",
                      {account}))
            records.push_back({row.integer(0), row.integer(1), row.text(2), row.text(3),
                               row.integer(4), row.text(5), row.integer(6), row.integer(7),
                               row.integer(8)});
        return records;
    });
}

SubmitResult SqlStore::submitMidi(const SubmitRequest& request) {
    // The body is kept first, unclaimed: a process that dies before the record's commit
    // leaves a body that is swept, never a record without its body.
    NewBody body = keepBody(request.body);
    const std::int64_t account = request.caller.account;
    SubmitResult result;
    try {
        result = write([&](SqlTransaction& db) -> SubmitResult {
            // The account's row lock holds the checks below until the commit.
            const auto owner = db.queryOne("SELECT password, balance FROM accounts WHERE id = $1" +
                                               std::string(spelling_.lockRows),
                                           {account});
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
            for (const SqlRow& row : queued)
                queuedSeconds += row.integer(1);
            if (queuedSeconds > request.maxQueuedSeconds)
                return {Outcome::tooMuchPlayTime, 0};
            for (const SqlRow& row : queued)
                if (ascii::equalIgnoringCase(row.text(0), request.name))
                    return {Outcome::nameInUse, 0};
            const std::int64_t fee = request.fee.forBytes(request.body.size());
            if (fee > balance)
                return {Outcome::insufficientFunds, 0};
            const std::int64_t record =
                db.queryOne(insertWithBody("midi_records", "account, name, parameters, size, "
                                                           "created, play_seconds, fee"),
                            {account, request.name, request.parameters,
                             static_cast<std::int64_t>(request.body.size()), now(),
                             request.playSeconds, fee, body.id})
                    ->integer(0);
            book(db, account, -fee, "upload of " + request.name);
            placeBody(db, BodyKind::midi, record, body);
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

Outcome SqlStore::deleteWaitingMidi(const Caller& caller, std::int64_t record) {
    const Outcome outcome = write([&](SqlTransaction& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        const auto row = db.queryOne("SELECT account, state FROM midi_records WHERE id = $1" +
                                         std::string(spelling_.lockRows),
                                     {record});
        if (!row || row->integer(0) != caller.account)
            return Outcome::notFound;
        if (row->text(1) != "waiting")
            return Outcome::locked;
        removeRow(db, BodyKind::midi, record);
        return Outcome::done;
    });
    if (outcome == Outcome::done)
        bodyReleased(BodyKind::midi, record);
    return outcome;
}

std::optional<RenderJob> SqlStore::takeNextJob() {
    return write([&](SqlTransaction& db) -> std::optional<RenderJob> {
        // The fair next job of those no other worker holds: waiting and due, or taken under a
        // lease that ran out. Turns rather than times order the accounts: within one second
        // of the clock the order is still exact.
        const std::int64_t time = leaseNow(db);
        const auto row = db.queryOne(
            "SELECT r.id, a.user_id, r.name, r.parameters, a.id, r.state, r.attempts FROM "
            "midi_records r JOIN accounts a ON a.id = r.account WHERE (r.state = 'waiting' AND "
            "r.next_attempt <= $1) OR (r.state = 'rendering' AND r.lease_until < $1) "
            "ORDER BY a.last_served, r.id LIMIT 1" +
                std::string(spelling_.lockFreeJob),
            {time});
        if (!row)
            return std::nullopt;
        const std::int64_t record = row->integer(0);
        // A lease that ran out: its worker died, maybe of this very job.
        const std::int64_t attempts = row->integer(6) + (row->text(5) == "rendering" ? 1 : 0);
        const std::int64_t lease =
            db.queryOne("UPDATE midi_records SET state = 'rendering', lease = " +
                            std::string(spelling_.nextLease) +
                            ", lease_until = $2, attempts = $3 WHERE id = $1 RETURNING lease",
                        {record, leaseEnd(time), attempts})
                ->integer(0);
        db.execute("UPDATE accounts SET last_served = " + std::string(spelling_.nextTurn) +
                       " WHERE id = $1",
                   {row->integer(4)});
        return RenderJob{record, row->text(1), row->text(2), row->text(3), "", lease, attempts};
    });
}

bool SqlStore::renewLease(std::int64_t record, std::int64_t lease) {
    return write([&](SqlTransaction& db) {
        const std::int64_t time = leaseNow(db);
        return db.execute("UPDATE midi_records SET lease_until = $3 WHERE id = $1 AND lease = $2 "
                          "AND state = 'rendering' AND lease_until >= $4",
                          {record, lease, leaseEnd(time), time}) == 1;
    });
}

AudioFile SqlStore::publishAudio(const Publication& publication) {
    std::optional<NewBody> body;
    AudioFile published;
    try {
        body = keepBodyOfFile(publication.renderedFile);
        if (!body)
            throw std::runtime_error("cannot read the rendered file " + publication.renderedFile);
        published = write([&](SqlTransaction& db) {
            // Only the holder of the job's lease, while it holds, publishes: a job taken over
            // after its lease ran out is published by its new holder alone.
            const auto record = db.queryOne(
                "SELECT account, name FROM midi_records WHERE id = $1 AND lease = $2 AND "
                "state = 'rendering' AND lease_until >= $3" +
                    std::string(spelling_.lockRows),
                {publication.record, publication.lease, leaseNow(db)});
            if (!record)
                throw LeaseLost(publication.record);
            removeRow(db, BodyKind::midi, publication.record);
            const std::int64_t account = record->integer(0);
            // The account's row lock keeps another publication for it from picking the same
            // name between this one's reading of the names and its commit.
            db.execute("SELECT id FROM accounts WHERE id = $1" + std::string(spelling_.lockRows),
                       {account});
            std::vector<std::string> taken;
            for (const SqlRow& row :
                 db.query("SELECT name FROM audio_files WHERE account = $1", {account}))
                taken.push_back(row.text(0));
            AudioFile file{0, account, audioNameFor(record->text(1), publication.extension, taken),
                           body->size};
            file.id = db.queryOne(insertWithBody("audio_files", "account, name, size, created"),
                                  {account, file.name, file.size, now(), body->id})
                          ->integer(0);
            placeBody(db, BodyKind::audio, file.id, *body);
            if (queuesMail() && publication.mail) {
                const MailMessage mail = publication.mail(file);
                db.execute("INSERT INTO mail_outbox(recipient, subject, body) VALUES($1, $2, $3)",
                           {mail.to, mail.subject, mail.body});
            }
            return file;
        });
    } catch (...) {
        if (body)
            dropBody(*body);
        removeFile(publication.renderedFile);
        throw;
    }
    removeFile(publication.renderedFile);
    bodyReleased(BodyKind::midi, publication.record);
    return published;
}

RetryResult SqlStore::publishFailed(const PublishFailure& failure) {
    const RetryResult result = write([&](SqlTransaction& db) {
        RetryResult result;
        const auto row = db.queryOne(
            "SELECT account, name, size, fee, attempts FROM midi_records WHERE id = $1 AND "
            "lease = $2 AND state = 'rendering'" +
                std::string(spelling_.lockRows),
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
        removeRow(db, BodyKind::midi, failure.record);
        if (result.refund != 0)
            book(db, row->integer(0), result.refund, "refund of the upload of " + row->text(1));
        return result;
    });
    if (result.gaveUp)
        bodyReleased(BodyKind::midi, failure.record);
    return result;
}

void SqlStore::returnJob(std::int64_t record, std::int64_t lease) {
    write([&](SqlTransaction& db) {
        db.execute("UPDATE midi_records SET state = 'waiting' WHERE id = $1 AND lease = $2 AND "
                   "state = 'rendering'",
                   {record, lease});
    });
}

std::vector<AudioFile> SqlStore::audioFiles(std::int64_t account) {
    return read([&](SqlTransaction& db) {
        std::vector<AudioFile> files;
        for (const SqlRow& row : db.query("SELECT id, account, name, size FROM audio_files WHERE "
                                          "account = $1 ORDER BY id",
                                          {account}))
            files.push_back(audioOf(row));
        return files;
    });
}

Outcome SqlStore::deleteAudio(const Caller& caller, const std::string& name) {
    std::int64_t removed = 0;
    const Outcome outcome = write([&](SqlTransaction& db) {
        if (!holds(db, caller))
            return Outcome::passwordChanged;
        if (!canHold(name))
            return Outcome::notFound;
        const auto row = db.queryOne("SELECT id FROM audio_files WHERE account = $1 AND " +
                                         sameName("name", "$2") + spelling_.lockRows,
                                     {caller.account, name});
        if (!row)
            return Outcome::notFound;
        removed = row->integer(0);
        removeRow(db, BodyKind::audio, removed);
        return Outcome::done;
    });
    if (outcome == Outcome::done)
        bodyReleased(BodyKind::audio, removed);
    return outcome;
}

DownloadResult SqlStore::openDownload(const DownloadRequest& request) {
    return read([&](SqlTransaction& db) {
        DownloadResult result;
        if (!holds(db, request.caller)) {
            result.outcome = Outcome::passwordChanged;
            return result;
        }
        const std::int64_t account = request.caller.account;
        if (!canHold(request.name)) {
            result.outcome = Outcome::notFound;
            return result;
        }
        const auto row =
            db.queryOne(std::string("SELECT id, account, name, size") +
                            (spelling_.rowsNameBodies ? ", body" : "") +
                            " FROM audio_files WHERE account = $1 AND " + sameName("name", "$2"),
                        {account, request.name});
        auto body = row ? openBody(*row) : nullptr;
        if (!body) {
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
        result.body = std::move(body);
        result.size = static_cast<std::uint64_t>(file.size);
        result.delivery = {account, file.id, result.deliveredBefore ? 0 : fee, request.name};
        return result;
    });
}

QueueState SqlStore::queueState() {
    return read([&](SqlTransaction& db) {
        QueueState state;
        for (const SqlRow& row : db.query(
                 "SELECT state, COUNT(*), MIN(created) FROM midi_records GROUP BY state", {})) {
            if (row.text(0) == "rendering") {
                state.rendering = row.integer(1);
            } else {
                state.waiting = row.integer(1);
                state.oldestWaitSeconds = std::max<std::int64_t>(0, now() - row.integer(2));
            }
        }
        return state;
    });
}

std::int64_t SqlStore::expireAudio(std::int64_t publishedBefore) {
    // A few hundred at a time: no transaction holds its locks for long.
    constexpr std::int64_t kBatch = 200;
    std::int64_t expired = 0;
    for (std::size_t removed = kBatch; removed == kBatch;) {
        const auto files = write([&](SqlTransaction& db) {
            std::vector<std::int64_t> ids;
            for (const SqlRow& row : db.query("SELECT id FROM audio_files WHERE created < $1 "
                                              "ORDER BY id LIMIT $2" +
                                                  std::string(spelling_.lockRows),
                                              {publishedBefore, kBatch}))
                ids.push_back(row.integer(0));
            for (const std::int64_t id : ids) {
                removeRow(db, BodyKind::audio, id);
                db.execute("DELETE FROM deliveries WHERE file = $1", {id});
            }
            return ids;
        });
        for (const std::int64_t id : files)
            bodyReleased(BodyKind::audio, id);
        removed = files.size();
        expired += static_cast<std::int64_t>(removed);
    }
    return expired;
}

bool SqlStore::answers() {
    try {
        return read([](SqlTransaction& db) { return db.queryOne("SELECT 1").has_value(); });
    } catch (const std::exception&) {
        return false;
    }
}

std::int64_t SqlStore::recordDelivery(const Delivery& delivery) {
    return write([&](SqlTransaction& db) -> std::int64_t {
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
