#include "store/pgStore.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "store/names.h"
#include "store/schema.h"

namespace tonvert::service {

namespace {

// Processes that start side by side make the schema one after the other.
constexpr std::int64_t kSchemaLock = 0x746f6e76;

const char* bodyTable(bool midi) {
    return midi ? "midi_records" : "audio_files";
}

// Reads a body chunk by chunk, holding one chunk at a time.
class ChunkedBody final : public BodySource {
public:
    ChunkedBody(std::shared_ptr<ConnectionPool<PgConnection>> pool, std::int64_t body)
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
            pool_->run(nullptr, [&](PgConnection& db) {
                const auto rows = db.queryBytes(
                    "SELECT data FROM body_chunks WHERE body = $1 AND seq = $2", {body_, seq});
                chunk_ = rows.empty() ? std::string() : rows.front().text(0);
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
    std::shared_ptr<ConnectionPool<PgConnection>> pool_;
    std::int64_t body_;
    std::int64_t chunkSeq_ = -1;
    std::string chunk_;
};

} // namespace

PgStore::PgStore(const std::string& url, const std::string& dataFolder, StoreOptions options)
    : SqlStore(dataFolder, std::move(options),
               {.lockRows = " FOR UPDATE",
                .lockFreeJob = " FOR UPDATE OF r SKIP LOCKED",
                .nextLease = "nextval('leases')",
                .nextTurn = "nextval('turns')",
                .rowsNameBodies = true})
    , pool_(std::make_shared<Pool>([url] { return std::make_unique<PgConnection>(url); },
                                   std::numeric_limits<std::size_t>::max())) {
    pool_->warmUp(); // fails here, at the start, when the database cannot be reached
    runWrite([](SqlTransaction& db) {
        db.execute("SELECT pg_advisory_xact_lock($1)", {kSchemaLock});
        migrateSchema(db);
    });
    keepFormKey();
    sweepBodies(true);
}

void PgStore::runWrite(const Transaction& work) {
    // READ COMMITTED: the rules take row locks where a check must hold until the commit.
    pool_->run("BEGIN", [&](PgConnection& db) { work(db); });
}

void PgStore::runRead(const Transaction& work) {
    // Statements that only read run without a transaction around them: one round trip each
    // instead of two more for BEGIN and COMMIT, each seeing the data as of its own start.
    pool_->run(nullptr, [&](PgConnection& db) { work(db); });
}

// Names fold ASCII letters only, as the audio names do: the "C" collation keeps lower() from
// following the database's locale.
std::string PgStore::sameName(const std::string& column, const std::string& parameter) const {
    return "lower(" + column + " COLLATE \"C\") = lower(" + parameter + "::text COLLATE \"C\")";
}

// PostgreSQL takes a text parameter only as UTF-8 without NUL. No stored name is anything
// else, so a name that is not is found nowhere.
bool PgStore::canHold(const std::string& text) const {
    return isUtf8(text) && text.find('\0') == std::string::npos;
}

void PgStore::serializeBy(SqlTransaction& db, const std::string& key) {
    db.execute("SELECT pg_advisory_xact_lock(hashtext($1::text))", {key});
}

std::int64_t PgStore::leaseNow(SqlTransaction& db) {
    if (options().clock)
        return now();
    return db.queryOne("SELECT extract(epoch FROM clock_timestamp())::bigint")->integer(0);
}

std::int64_t PgStore::leaseEnd(std::int64_t time) const {
    return time + leaseSeconds();
}

std::optional<RenderJob> PgStore::takeNextJob() {
    sweepBodies();
    return SqlStore::takeNextJob();
}

SqlStore::NewBody PgStore::keepBody(std::string_view bytes) {
    return write([&](SqlTransaction& db) {
        const std::int64_t body =
            db.queryOne("INSERT INTO bodies(size, orphaned) VALUES($1, $2) RETURNING id",
                        {static_cast<std::int64_t>(bytes.size()), now()})
                ->integer(0);
        for (std::size_t done = 0, seq = 0; done < bytes.size(); done += kChunkBytes, ++seq)
            db.execute("INSERT INTO body_chunks(body, seq, data) VALUES($1, $2, $3)",
                       {body, static_cast<std::int64_t>(seq), bytes.substr(done, kChunkBytes)});
        return NewBody{body, "", static_cast<std::int64_t>(bytes.size()), ""};
    });
}

std::optional<SqlStore::NewBody> PgStore::keepBodyOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    // A file that cannot be read whole throws inside the transaction, so that it rolls back
    // with the chunks stored so far.
    struct Unreadable {};
    try {
        return write([&](SqlTransaction& db) {
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
            return std::optional<NewBody>(NewBody{body, "", size, ""});
        });
    } catch (const Unreadable&) {
        return std::nullopt;
    }
}

// A body swept meanwhile fails the transaction.
void PgStore::placeBody(SqlTransaction& db, BodyKind, std::int64_t, NewBody& body) {
    if (db.execute("UPDATE bodies SET orphaned = NULL WHERE id = $1", {body.id}) != 1)
        throw std::runtime_error("body " + std::to_string(body.id) + " is gone");
}

void PgStore::dropBody(const NewBody& body) noexcept {
    try {
        write([&](SqlTransaction& db) {
            db.execute("DELETE FROM bodies WHERE id = $1 AND orphaned IS NOT NULL", {body.id});
        });
    } catch (const std::exception&) {
        // Swept later.
    }
}

void PgStore::releaseBody(SqlTransaction& db, BodyKind kind, std::int64_t row) {
    db.execute(std::string("UPDATE bodies SET orphaned = $2 WHERE id = (SELECT body FROM ") +
                   bodyTable(kind == BodyKind::midi) + " WHERE id = $1)",
               {row, now()});
}

std::shared_ptr<BodySource> PgStore::openBody(const SqlRow& file) {
    return std::make_shared<ChunkedBody>(pool_, file.integer(4));
}

void PgStore::sweepBodies(bool now) {
    const std::int64_t time = Store::now();
    std::int64_t last = lastSweep_.load();
    if (!now && (time < last + 60 || !lastSweep_.compare_exchange_strong(last, time)))
        return;
    lastSweep_ = time;
    try {
        write([&](SqlTransaction& db) {
            db.execute("DELETE FROM bodies WHERE orphaned < $1",
                       {time - options().orphanBodySeconds});
        });
    } catch (const std::exception&) {
        // Tried again at the next sweep.
    }
}

bool PgStore::fetchMidi(std::int64_t record, const std::string& localPath) {
    struct Stored {
        std::int64_t body;
        std::uint64_t size;
    };
    const auto stored = read([&](SqlTransaction& db) -> std::optional<Stored> {
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

std::vector<QueuedMail> PgStore::takeQueuedMail(std::size_t limit) {
    return write([&](SqlTransaction& db) {
        const std::int64_t time = leaseNow(db);
        std::vector<QueuedMail> mails;
        for (const SqlRow& row :
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
    write([&](SqlTransaction& db) { db.execute("DELETE FROM mail_outbox WHERE id = $1", {id}); });
}

} // namespace tonvert::service
