// What every store of the service does, driven through the Store interface alone: each kind of
// store is made by its factory and must pass the same tests.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <sys/stat.h>
#include <thread>

#include "pgServer.h"
#include "store/pgStore.h"
#include "store/sqliteStore.h"
#include "storeSupport.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace service;

// A kind of store: made on a data folder, empty or used before.
struct StoreKind {
    std::string name;
    std::function<std::unique_ptr<Store>(const std::string& folder, StoreOptions options)> make;
    // Why the kind cannot be tested here; "" when it can.
    std::function<std::string()> unavailable = [] { return std::string(); };
};

// A PostgreSQL store: one new database for each data folder, the same one when the store is
// opened again on the folder.
std::unique_ptr<Store> makePgStore(const std::string& folder, StoreOptions options) {
    static std::mutex mutex;
    static std::map<std::string, std::string> databases;
    std::string why;
    test::PgServer* server = test::PgServer::shared(why);
    std::string url;
    {
        std::lock_guard lock(mutex);
        auto& known = databases[folder];
        if (known.empty())
            known = server->newDatabase();
        url = known;
    }
    return std::make_unique<PgStore>(url, folder, std::move(options));
}

std::string pgUnavailable() {
    std::string why;
    test::PgServer::shared(why);
    return why;
}

void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

class StoreConformance : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        if (const std::string why = GetParam().unavailable(); !why.empty())
            TONVERT_WITHOUT_POSTGRES(why);
        reopen();
    }
    // Longer than any wait of the clock within a test, unless the test means it to run out.
    static constexpr std::int64_t kLeaseSeconds = 3600;

    // The store again on the same data, as after a restart.
    void reopen() {
        store.reset();
        StoreOptions options;
        options.clock = [this] { return clock.load(); };
        options.leaseSeconds = kLeaseSeconds;
        store = GetParam().make(folder.file("data"), options);
    }

    // A new account, as sign-up makes it; the store takes any text as a password hash.
    Caller account(const std::string& user, std::int64_t balance = 500) {
        const auto id = store->addAccount({user, "hash of " + user, balance});
        EXPECT_TRUE(id) << user;
        return {id.value_or(0), "hash of " + user};
    }
    std::int64_t balance(const Caller& caller) {
        return store->accountById(caller.account).value_or(Account{}).balance;
    }
    std::int64_t ledgerSum(const Caller& caller) {
        const auto entries = store->ledger(caller.account);
        return std::accumulate(
            entries.begin(), entries.end(), std::int64_t(0),
            [](std::int64_t sum, const LedgerEntry& e) { return sum + e.amount; });
    }
    void setBalance(const Caller& caller, std::int64_t cents) {
        ASSERT_EQ(store->book({caller.account, cents - balance(caller), "correction"}), cents);
    }
    SubmitResult submit(const Caller& caller, const std::string& name,
                        std::string_view body = "MThd body", std::size_t maxRecords = 20) {
        return store->submitMidi({caller, name, "MP3,128,44100,C,2", body, {5, 10}, maxRecords});
    }
    // A record that plays so long, against a cap on the account's queued play time.
    SubmitResult submitPlaying(const Caller& caller, const std::string& name, std::int64_t seconds,
                               std::int64_t maxQueued) {
        return store->submitMidi(
            {caller, name, "MP3,128,44100,C,2", "MThd", {5, 10}, 20, seconds, maxQueued});
    }
    std::vector<std::string> takeAll() {
        std::vector<std::string> names;
        while (const auto job = takeNext())
            names.push_back(job->name);
        return names;
    }
    // The next job, its lease noted for the record.
    std::optional<RenderJob> takeNext() {
        auto job = store->takeNextJob();
        if (job) {
            std::lock_guard lock(leasesMutex);
            leases[job->record] = job->lease;
        }
        return job;
    }
    // The lease the record was last taken under.
    std::int64_t lease(std::int64_t record) {
        std::lock_guard lock(leasesMutex);
        return leases[record];
    }
    // Renders the job by writing these bytes, and publishes them.
    std::optional<AudioFile> publish(std::int64_t record, const std::string& bytes,
                                     const std::string& extension = "mp3") {
        const std::string rendered = store->scratchPath();
        test::writeBytes(rendered, bytes);
        std::optional<AudioFile> file;
        try {
            file = store->publishAudio({record, extension, rendered, lease(record), {}});
        } catch (const LeaseLost&) {
            // A shared store's way of saying the job is no longer the publisher's.
        }
        EXPECT_FALSE(std::filesystem::exists(rendered));
        return file;
    }
    bool scratchEmpty() { return std::filesystem::is_empty(store->folder() + "/scratch"); }

    test::TempFolder folder;
    std::atomic<std::int64_t> clock = 1'750'000'000;
    std::unique_ptr<Store> store;
    std::mutex leasesMutex;
    std::map<std::int64_t, std::int64_t> leases; // record: lease
};

TEST_P(StoreConformance, AccountsPasswordsAndTheLedger) {
    const Caller ann = account("ann@example.org");
    EXPECT_FALSE(store->addAccount({"ANN@Example.org", "other", 500})) << "taken in any case";
    const auto found = store->account("Ann@EXAMPLE.org");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, ann.account);
    EXPECT_EQ(found->userId, "ann@example.org");
    EXPECT_EQ(found->passwordHash, ann.passwordHash);
    EXPECT_FALSE(found->confirmed);
    EXPECT_EQ(found->balance, 500);
    EXPECT_FALSE(store->account("nobody@example.org"));
    EXPECT_FALSE(store->accountById(ann.account + 1000));

    // Confirming and changes of password hold only for the hash that was checked.
    EXPECT_FALSE(store->confirmAccount({ann.account, "a hash replaced meanwhile"}));
    EXPECT_FALSE(store->accountById(ann.account)->confirmed);
    EXPECT_TRUE(store->confirmAccount(ann));
    EXPECT_TRUE(store->setPassword(ann.account, "new hash"));
    EXPECT_FALSE(store->setPassword(ann.account + 1000, "new hash"));
    EXPECT_EQ(store->accountById(ann.account)->passwordHash, "new hash");
    EXPECT_TRUE(store->accountById(ann.account)->confirmed) << "a new password keeps it";
    EXPECT_FALSE(store->confirmAccount(ann));

    EXPECT_EQ(store->book({ann.account, 250, "funds added"}), 750);
    clock += 60;
    EXPECT_EQ(store->book({ann.account, -800, "download of A.mp3"}), -50) << "may go below 0";
    EXPECT_FALSE(store->book({ann.account + 1000, 5, "nobody's"}));
    const auto entries = store->ledger(ann.account);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].amount, 500);
    EXPECT_EQ(entries[0].reason, "starting balance");
    EXPECT_EQ(entries[1].time, clock - 60);
    EXPECT_EQ(entries[2].time, clock);
    EXPECT_EQ(entries[2].reason, "download of A.mp3");
    EXPECT_EQ(ledgerSum(ann), -50);
    EXPECT_EQ(balance(ann), -50);
    EXPECT_EQ(store->ledger(account("bob@example.org", 0).account).size(), 1u);
}

TEST_P(StoreConformance, ResetsRehashesAndNewAccountsTakenBack) {
    Caller ann = account("ann@example.org");
    EXPECT_FALSE(store->rehashPassword({ann.account, "a replaced hash"}, "rehashed"));
    EXPECT_TRUE(store->rehashPassword(ann, "rehashed"));
    ann.passwordHash = "rehashed";
    EXPECT_EQ(store->accountById(ann.account)->passwordHash, "rehashed");

    // A reset waits beside the password; another within the interval changes nothing.
    const ResetResult first = store->startReset({ann.account, "pending 1", 600});
    ASSERT_EQ(first.outcome, Outcome::done);
    EXPECT_EQ(first.undo.previousPendingHash, "");
    auto found = store->accountById(ann.account);
    EXPECT_EQ(found->passwordHash, "rehashed");
    EXPECT_EQ(found->pendingPasswordHash, "pending 1");
    EXPECT_EQ(found->pendingSince, clock);
    EXPECT_EQ(found->lastReset, clock);
    clock += 599;
    EXPECT_EQ(store->startReset({ann.account, "pending 2", 600}).outcome, Outcome::tooSoon);
    EXPECT_EQ(store->accountById(ann.account)->pendingPasswordHash, "pending 1");
    EXPECT_EQ(store->startReset({ann.account + 1000, "x", 600}).outcome, Outcome::notFound);

    // A later reset replaces the pending hash; taken back, the earlier one waits again.
    clock += 1;
    const ResetResult second = store->startReset({ann.account, "pending 2", 600});
    ASSERT_EQ(second.outcome, Outcome::done);
    EXPECT_EQ(store->accountById(ann.account)->pendingPasswordHash, "pending 2");
    EXPECT_TRUE(store->undoReset(second.undo));
    EXPECT_FALSE(store->undoReset(second.undo)) << "no longer pending";
    found = store->accountById(ann.account);
    EXPECT_EQ(found->pendingPasswordHash, "pending 1");
    EXPECT_EQ(found->pendingSince, clock - 600);
    EXPECT_EQ(found->lastReset, clock - 600);

    // Using the pending password makes it the password; the interval still counts.
    reopen();
    EXPECT_FALSE(store->usePendingPassword(ann.account, "pending 2"));
    EXPECT_TRUE(store->usePendingPassword(ann.account, "pending 1"));
    EXPECT_FALSE(store->usePendingPassword(ann.account, "pending 1"));
    found = store->accountById(ann.account);
    EXPECT_EQ(found->passwordHash, "pending 1");
    EXPECT_EQ(found->pendingPasswordHash, "");
    EXPECT_EQ(found->pendingSince, 0);
    EXPECT_EQ(found->lastReset, clock - 600);
    EXPECT_EQ(store->startReset({ann.account, "pending 3", 601}).outcome, Outcome::tooSoon);

    // A first reset taken back leaves no trace: the next may come at once.
    const Caller bob = account("bob@example.org");
    const ResetResult bobs = store->startReset({bob.account, "bob's pending", 600});
    EXPECT_TRUE(store->undoReset(bobs.undo));
    EXPECT_EQ(store->accountById(bob.account)->lastReset, 0);
    EXPECT_EQ(store->startReset({bob.account, "bob's next", 600}).outcome, Outcome::done);

    // An account whose first mail failed goes with its ledger; a confirmed one stays.
    const Caller cid = account("cid@example.org");
    EXPECT_FALSE(store->removeNewAccount({cid.account, "a replaced hash"}));
    EXPECT_TRUE(store->removeNewAccount(cid));
    EXPECT_FALSE(store->account("cid@example.org"));
    EXPECT_TRUE(store->ledger(cid.account).empty());
    EXPECT_FALSE(store->removeNewAccount(cid));
    account("cid@example.org");
    EXPECT_TRUE(store->confirmAccount(bob));
    EXPECT_FALSE(store->removeNewAccount(bob));
    EXPECT_TRUE(store->accountById(bob.account));
}

TEST_P(StoreConformance, FailedLoginsAndSignupsAreCounted) {
    const Caller ann = account("ann@example.org");
    for (std::int64_t count = 1; count <= 3; ++count)
        EXPECT_EQ(store->noteFailedLogin(ann.account, 3600), count);
    EXPECT_EQ(store->accountById(ann.account)->failedLogins, 3);
    EXPECT_EQ(store->accountById(ann.account)->lastFailedLogin, clock);
    clock += 3600;
    EXPECT_EQ(store->noteFailedLogin(ann.account, 3600), 4) << "an hour is still remembered";
    reopen();
    clock += 3601;
    EXPECT_EQ(store->noteFailedLogin(ann.account, 3600), 1) << "forgotten after";
    store->clearFailedLogins(ann.account);
    EXPECT_EQ(store->accountById(ann.account)->failedLogins, 0);
    EXPECT_EQ(store->noteFailedLogin(ann.account, 3600), 1);
    EXPECT_EQ(store->noteFailedLogin(ann.account + 1000, 3600), 0) << "no such account";

    EXPECT_TRUE(store->countSignup("192.0.2.1", 3600, 2));
    clock += 10;
    EXPECT_TRUE(store->countSignup("192.0.2.1", 3600, 2));
    EXPECT_FALSE(store->countSignup("192.0.2.1", 3600, 2));
    EXPECT_TRUE(store->countSignup("192.0.2.2", 3600, 2)) << "per address";
    EXPECT_FALSE(store->countSignup("192.0.2.3", 3600, 0));
    clock += 3591;
    EXPECT_TRUE(store->countSignup("192.0.2.1", 3600, 2)) << "the first is an hour old";
    EXPECT_FALSE(store->countSignup("192.0.2.1", 3600, 2));

    // Counted at once from many threads, an address gets exactly its limit.
    std::atomic<int> allowed = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                if (store->countSignup("198.51.100.7", 3600, 7))
                    ++allowed;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(allowed, 7);
}

TEST_P(StoreConformance, SubmitChecksFundsNamesAndTheCap) {
    const Caller ann = account("ann@example.org", 20);
    const SubmitResult song = submit(ann, "Song.mid", "0123456789");
    ASSERT_EQ(song.outcome, Outcome::done);
    EXPECT_EQ(test::midiBytes(*store, song.record), "0123456789");
    const auto records = store->midiRecords(ann.account);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id, song.record);
    EXPECT_EQ(records[0].name, "Song.mid");
    EXPECT_EQ(records[0].parameters, "MP3,128,44100,C,2");
    EXPECT_EQ(records[0].size, 10);
    EXPECT_EQ(records[0].state, "waiting");
    EXPECT_EQ(balance(ann), 5) << "5 a file and 10 a megabyte begun";
    EXPECT_EQ(store->ledger(ann.account).back().reason, "upload of Song.mid");

    // Each refusal stores, adds and books nothing.
    const std::size_t booked = store->ledger(ann.account).size();
    EXPECT_EQ(submit(ann, "SONG.MID").outcome, Outcome::nameInUse);
    EXPECT_EQ(submit(ann, "Other.mid").outcome, Outcome::insufficientFunds);
    EXPECT_EQ(submit({ann.account, "a replaced hash"}, "Other.mid").outcome,
              Outcome::passwordChanged);
    setBalance(ann, 100);
    EXPECT_EQ(submit(ann, "Other.mid", "MThd", 1).outcome, Outcome::tooManyRecords);
    setBalance(ann, -1);
    EXPECT_EQ(submit(ann, "Other.mid").outcome, Outcome::negativeBalance);
    EXPECT_EQ(store->midiRecords(ann.account).size(), 1u);
    EXPECT_EQ(store->ledger(ann.account).size(), booked + 2) << "the two corrections";
    EXPECT_EQ(ledgerSum(ann), -1);
    EXPECT_TRUE(scratchEmpty());
    if (const auto* sqlite = dynamic_cast<SqliteStore*>(store.get())) {
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(sqlite->folder() + "/midi"), {}), 1);
    }

    // Names are in use per account; a big body costs its megabytes begun.
    const Caller bob = account("bob@example.org");
    const SubmitResult bobs = submit(bob, "song.mid", std::string((1 << 20) + 1, 'x'));
    EXPECT_EQ(bobs.outcome, Outcome::done);
    EXPECT_GT(bobs.record, song.record);
    EXPECT_EQ(balance(bob), 500 - 25);
}

TEST_P(StoreConformance, QueuedPlayTimeIsCappedPerAccount) {
    const Caller ann = account("ann@example.org");
    ASSERT_EQ(submitPlaying(ann, "Long.mid", 2400, 3600).outcome, Outcome::done);
    EXPECT_EQ(store->midiRecords(ann.account)[0].playSeconds, 2400);
    EXPECT_EQ(submitPlaying(ann, "Short.mid", 1200, 3600).outcome, Outcome::done) << "just fits";
    const std::int64_t before = balance(ann);
    const std::size_t booked = store->ledger(ann.account).size();
    EXPECT_EQ(submitPlaying(ann, "More.mid", 1, 3600).outcome, Outcome::tooMuchPlayTime);
    EXPECT_EQ(balance(ann), before);
    EXPECT_EQ(store->ledger(ann.account).size(), booked);
    EXPECT_TRUE(scratchEmpty());
    EXPECT_EQ(submitPlaying(ann, "Unread.mid", 0, 3600).outcome, Outcome::done)
        << "a file whose time could not be read counts as none";

    // Per account, and a record being rendered still counts; one that is done does not.
    const Caller bob = account("bob@example.org");
    EXPECT_EQ(submitPlaying(bob, "Bob.mid", 3600, 3600).outcome, Outcome::done);
    const auto job = takeNext();
    ASSERT_TRUE(job);
    ASSERT_EQ(job->name, "Long.mid");
    EXPECT_EQ(submitPlaying(ann, "More.mid", 1, 3600).outcome, Outcome::tooMuchPlayTime);
    ASSERT_TRUE(publish(job->record, "audio"));
    EXPECT_EQ(submitPlaying(ann, "More.mid", 2400, 3600).outcome, Outcome::done);
    EXPECT_EQ(ledgerSum(ann), balance(ann));
}

// One account with many jobs and two with few: the accounts take turns, each with its oldest
// job, whatever the order of the uploads, also within one second of the clock.
TEST_P(StoreConformance, AccountsTakeTurnsInTheQueue) {
    const Caller ann = account("ann@example.org");
    const Caller bob = account("bob@example.org");
    const Caller cid = account("cid@example.org");
    for (int i = 1; i <= 5; ++i)
        submit(ann, "A" + std::to_string(i) + ".mid");
    submit(bob, "B1.mid");
    submit(bob, "B2.mid");
    submit(cid, "C1.mid");
    EXPECT_EQ(takeAll(), (std::vector<std::string>{"A1.mid", "B1.mid", "C1.mid", "A2.mid", "B2.mid",
                                                   "A3.mid", "A4.mid", "A5.mid"}));

    // Served last, ann waits behind the others' new jobs, though hers is older.
    submit(ann, "A6.mid");
    submit(cid, "C2.mid");
    submit(bob, "B3.mid");
    reopen();
    EXPECT_EQ(takeAll(), (std::vector<std::string>{"C2.mid", "B3.mid", "A6.mid"}));
}

// The operator's view: records waiting and taken, and how long the oldest waiting one has.
TEST_P(StoreConformance, QueueStateCountsWaitingAndTakenRecords) {
    const auto state = [this] {
        const QueueState queue = store->queueState();
        return std::vector<std::int64_t>{queue.waiting, queue.rendering, queue.oldestWaitSeconds};
    };
    EXPECT_EQ(state(), (std::vector<std::int64_t>{0, 0, 0}));
    const Caller ann = account("ann@example.org");
    submit(ann, "A1.mid");
    clock += 30;
    submit(ann, "A2.mid");
    clock += 15;
    ASSERT_EQ(takeNext()->name, "A1.mid");
    EXPECT_EQ(state(), (std::vector<std::int64_t>{1, 1, 15}));
}

// A publication that failed leaves its job waiting, body and all, due after a delay that
// doubles; the last allowed failure refunds the upload fee once and the record goes.
TEST_P(StoreConformance, FailedPublicationsWaitAgainAndAreRefundedInTheEnd) {
    const Caller ann = account("ann@example.org");
    const Caller bob = account("bob@example.org");
    const std::int64_t song = submit(ann, "Song.mid", std::string((1 << 20) + 1, 'x')).record;
    const std::int64_t paid = balance(ann);
    const RetryPolicy policy{60, 3};
    ASSERT_EQ(takeNext()->record, song);
    RetryResult retry = store->publishFailed({song, policy, {}, lease(song)});
    EXPECT_EQ(retry.outcome, Outcome::done);
    EXPECT_EQ(retry.attempts, 1);
    EXPECT_FALSE(retry.gaveUp);
    EXPECT_EQ(retry.nextAttempt, clock + 60);
    auto records = store->midiRecords(ann.account);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].state, "waiting");
    EXPECT_EQ(records[0].attempts, 1);
    EXPECT_EQ(records[0].nextAttempt, clock + 60);
    EXPECT_EQ(test::midiBytes(*store, song), std::string((1 << 20) + 1, 'x'));

    // Not due yet, it is passed over for others' jobs; a restart keeps its time.
    const std::int64_t bobs = submit(bob, "Bob.mid").record;
    reopen();
    store->requeueUnfinished();
    EXPECT_EQ(takeNext()->record, bobs);
    clock += 59;
    EXPECT_FALSE(takeNext());
    clock += 1;
    ASSERT_EQ(takeNext()->record, song);
    retry = store->publishFailed({song, policy, {}, lease(song)});
    EXPECT_EQ(retry.attempts, 2);
    EXPECT_EQ(retry.nextAttempt, clock + 120);
    clock += 119;
    EXPECT_FALSE(takeNext());
    clock += 1;
    ASSERT_EQ(takeNext()->record, song);
    EXPECT_EQ(balance(ann), paid) << "the fee is kept while it is tried again";

    retry = store->publishFailed({song, policy, {}, lease(song)});
    EXPECT_TRUE(retry.gaveUp);
    EXPECT_EQ(retry.attempts, 3);
    EXPECT_EQ(retry.refund, 25);
    EXPECT_EQ(balance(ann), paid + 25);
    EXPECT_EQ(store->ledger(ann.account).back().reason, "refund of the upload of Song.mid");
    EXPECT_EQ(ledgerSum(ann), balance(ann));
    EXPECT_TRUE(store->midiRecords(ann.account).empty());
    EXPECT_FALSE(test::midiBytes(*store, song));
    EXPECT_EQ(store->publishFailed({song, policy, {}, lease(song)}).outcome, Outcome::notFound);
    EXPECT_EQ(balance(ann), paid + 25) << "refunded once";

    // A job that fails once and is then published keeps its fee.
    const std::int64_t later = submit(ann, "Later.mid").record;
    ASSERT_EQ(takeNext()->record, later);
    EXPECT_FALSE(store->publishFailed({later, policy, {}, lease(later)}).gaveUp);
    clock += 60;
    ASSERT_EQ(takeNext()->record, later);
    ASSERT_TRUE(publish(later, "audio"));
    EXPECT_EQ(balance(ann), paid + 25 - 15);
    EXPECT_EQ(ledgerSum(ann), balance(ann));
}

TEST_P(StoreConformance, BodiesWithoutTheirRowsGoAtTheNextStart) {
    const auto sqlite = [this] { return dynamic_cast<SqliteStore*>(store.get()); };
    if (sqlite() == nullptr)
        GTEST_SKIP() << "only the SQLite store keeps bodies in files of its own";
    const Caller ann = account("ann@example.org");
    const std::int64_t rendered = submit(ann, "Song.mid").record;
    const std::int64_t waiting = submit(ann, "Kept.mid").record;
    const auto song = publish(takeNext().value_or(RenderJob{}).record, "audio bytes");
    ASSERT_TRUE(song);
    // What a service killed between a commit and a removal leaves, and files of other kinds.
    test::writeBytes(sqlite()->midiPath(rendered), "rendered, its row gone");
    test::writeBytes(sqlite()->audioPath(song->id + 50), "deleted, its row gone");
    test::writeBytes(store->folder() + "/midi/notes.txt", "not a body");
    reopen();
    EXPECT_FALSE(std::filesystem::exists(sqlite()->midiPath(rendered)));
    EXPECT_FALSE(std::filesystem::exists(sqlite()->audioPath(song->id + 50)));
    EXPECT_EQ(test::readBytes(sqlite()->midiPath(waiting)), "MThd body");
    EXPECT_EQ(test::readBytes(sqlite()->audioPath(song->id)), "audio bytes");
    EXPECT_TRUE(std::filesystem::exists(store->folder() + "/midi/notes.txt"));
}

TEST_P(StoreConformance, JobsAreTakenInOrderLockedAndTakenAgainAfterARestart) {
    const Caller ann = account("ann@example.org");
    const Caller bob = account("bob@example.org");
    const std::int64_t first = submit(ann, "First.mid").record;
    const std::int64_t bobs = submit(bob, "Bob.mid").record;
    const std::int64_t second = submit(ann, "Second.mid").record;
    EXPECT_EQ(store->deleteWaitingMidi(bob, first), Outcome::notFound) << "not bob's";
    EXPECT_EQ(store->deleteWaitingMidi(ann, second + 1000), Outcome::notFound);

    const auto job = takeNext();
    ASSERT_TRUE(job);
    EXPECT_EQ(job->record, first);
    EXPECT_EQ(job->userId, "ann@example.org");
    EXPECT_EQ(job->name, "First.mid");
    EXPECT_EQ(job->parameters, "MP3,128,44100,C,2");
    EXPECT_EQ(test::midiBytes(*store, job->record), "MThd body");
    EXPECT_EQ(store->midiRecords(ann.account)[0].state, "rendering");
    EXPECT_EQ(store->deleteWaitingMidi(ann, first), Outcome::locked);
    EXPECT_EQ(store->deleteWaitingMidi({ann.account, "a replaced hash"}, second),
              Outcome::passwordChanged);
    EXPECT_EQ(store->deleteWaitingMidi(ann, second), Outcome::done);
    EXPECT_FALSE(test::midiBytes(*store, second));
    EXPECT_EQ(store->midiRecords(ann.account).size(), 1u);
    EXPECT_EQ(takeNext()->record, bobs);
    EXPECT_FALSE(takeNext());

    // Both were being rendered when the service stopped: after the restart (in a store that
    // several processes share: once their leases ran out) they are taken again, in their order.
    reopen();
    store->requeueUnfinished();
    clock += kLeaseSeconds + 1;
    const auto again = takeNext();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->record, first);
    EXPECT_EQ(again->attempts, 1) << "a render cut short by its process's death counts";
    EXPECT_EQ(store->midiRecords(ann.account)[0].attempts, 1);
    EXPECT_EQ(takeNext()->record, bobs);
    EXPECT_FALSE(takeNext());

    // A render given up returns its job to its place, body and all; a waiting one stays.
    store->returnJob(first, lease(first));
    store->returnJob(first, lease(first));
    EXPECT_EQ(store->midiRecords(ann.account)[0].state, "waiting");
    EXPECT_EQ(store->deleteWaitingMidi(bob, bobs), Outcome::locked);
    const auto returned = takeNext();
    ASSERT_TRUE(returned);
    EXPECT_EQ(returned->record, first);
    EXPECT_EQ(returned->attempts, 1) << "given back, it failed nothing";
    EXPECT_EQ(test::midiBytes(*store, first), "MThd body");
}

TEST_P(StoreConformance, PublishedAudioIsChargedOnDeliveryAndDeleted) {
    const Caller ann = account("ann@example.org");
    const std::int64_t rendered = submit(ann, "Song.mid").record;
    const auto song = publish(takeNext().value_or(RenderJob{}).record, "audio bytes");
    ASSERT_TRUE(song);
    EXPECT_EQ(song->name, "Song.mp3");
    EXPECT_EQ(song->account, ann.account);
    EXPECT_EQ(song->size, 11);
    EXPECT_EQ(test::audioBytes(*store, "ann@example.org", "Song.mp3"), "audio bytes");
    EXPECT_TRUE(store->midiRecords(ann.account).empty());
    EXPECT_FALSE(test::midiBytes(*store, rendered));
    submit(ann, "song.mid");
    EXPECT_EQ(publish(takeNext().value_or(RenderJob{}).record, "more")->name, "song-2.mp3");

    // A job given up goes, and cannot be published after.
    const std::int64_t failed = submit(ann, "Failed.mid").record;
    ASSERT_EQ(takeNext()->record, failed);
    EXPECT_TRUE(store->publishFailed({failed, {0, 0}, {}, lease(failed)}).gaveUp);
    EXPECT_FALSE(test::midiBytes(*store, failed));
    EXPECT_FALSE(publish(failed, "late"));
    const auto files = store->audioFiles(ann.account);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].name, "song-2.mp3");

    // Opening a download books nothing; the file comes opened, and deleting it after takes
    // nothing from the download, whose delivery still books its fee.
    const std::int64_t before = balance(ann);
    const Fee fee{2, 3};
    DownloadResult download = store->openDownload({ann, "SONG.MP3", fee});
    ASSERT_EQ(download.outcome, Outcome::done);
    EXPECT_EQ(download.size, 11u);
    EXPECT_FALSE(download.deliveredBefore);
    EXPECT_EQ(download.delivery.account, ann.account);
    EXPECT_EQ(download.delivery.file, song->id);
    EXPECT_EQ(download.delivery.fee, 5);
    EXPECT_EQ(balance(ann), before);
    EXPECT_EQ(store->deleteAudio({ann.account, "a replaced hash"}, "Song.mp3"),
              Outcome::passwordChanged);
    EXPECT_EQ(store->deleteAudio(ann, "song.MP3"), Outcome::done);
    EXPECT_FALSE(test::audioBytes(*store, "ann@example.org", "Song.mp3"));
    EXPECT_EQ(test::readBody(*download.body), "audio bytes");
    EXPECT_EQ(store->recordDelivery(download.delivery), 5);
    EXPECT_EQ(balance(ann), before - 5);
    EXPECT_EQ(store->ledger(ann.account).back().reason, "download of SONG.MP3");
    EXPECT_EQ(store->recordDelivery(download.delivery), 0) << "delivered before";
    EXPECT_EQ(store->deleteAudio(ann, "Song.mp3"), Outcome::notFound);
    EXPECT_EQ(store->openDownload({ann, "Song.mp3", fee}).outcome, Outcome::notFound);

    // Refused downloads cost nothing.
    const Caller bob = account("bob@example.org");
    EXPECT_EQ(store->openDownload({bob, "song-2.mp3", fee}).outcome, Outcome::notFound);
    EXPECT_EQ(store->openDownload({{ann.account, "a replaced hash"}, "song-2.mp3", fee}).outcome,
              Outcome::passwordChanged);
    EXPECT_EQ(store->deleteAudio(bob, "song-2.mp3"), Outcome::notFound);
    setBalance(ann, 4);
    EXPECT_EQ(store->openDownload({ann, "song-2.mp3", fee}).outcome, Outcome::insufficientFunds);
    setBalance(ann, -1);
    EXPECT_EQ(store->openDownload({ann, "song-2.mp3", fee}).outcome, Outcome::negativeBalance);
    EXPECT_EQ(ledgerSum(ann), -1);
    EXPECT_EQ(store->audioFiles(ann.account).size(), 1u);
}

// Downloads of one file side by side, and again after a restart: its first whole delivery
// books the fee once, and every later download is free, with any balance.
TEST_P(StoreConformance, AFileIsChargedOnceForAllItsDeliveries) {
    const Caller ann = account("ann@example.org", 1000);
    submit(ann, "Song.mid");
    const auto song = publish(takeNext().value_or(RenderJob{}).record, std::string(3 << 20, 'a'));
    ASSERT_TRUE(song);
    const std::int64_t before = balance(ann);
    const Fee fee{2, 3};
    std::vector<DownloadResult> opened;
    for (int i = 0; i < 8; ++i)
        opened.push_back(store->openDownload({ann, "Song.mp3", fee}));
    for (const DownloadResult& download : opened) {
        ASSERT_EQ(download.outcome, Outcome::done);
        EXPECT_FALSE(download.deliveredBefore);
        EXPECT_EQ(download.delivery.fee, 11);
    }
    std::atomic<std::int64_t> booked = 0;
    std::vector<std::thread> threads;
    for (const DownloadResult& download : opened)
        threads.emplace_back(
            [&, delivery = download.delivery] { booked += store->recordDelivery(delivery); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(booked, 11);
    EXPECT_EQ(balance(ann), before - 11);
    EXPECT_EQ(ledgerSum(ann), balance(ann));

    reopen();
    setBalance(ann, -5);
    const DownloadResult again = store->openDownload({ann, "song.MP3", fee});
    ASSERT_EQ(again.outcome, Outcome::done) << "free, whatever the balance";
    EXPECT_TRUE(again.deliveredBefore);
    EXPECT_EQ(again.delivery.fee, 0);
    EXPECT_EQ(store->recordDelivery(again.delivery), 0);
    EXPECT_EQ(balance(ann), -5);

    // Another file of the same name is a new file, not delivered yet.
    EXPECT_EQ(store->deleteAudio(ann, "Song.mp3"), Outcome::done);
    setBalance(ann, 100);
    submit(ann, "Song.mid");
    ASSERT_TRUE(publish(takeNext().value_or(RenderJob{}).record, "new"));
    const DownloadResult fresh = store->openDownload({ann, "Song.mp3", fee});
    ASSERT_EQ(fresh.outcome, Outcome::done);
    EXPECT_FALSE(fresh.deliveredBefore);
    EXPECT_EQ(store->recordDelivery(fresh.delivery), 5);
    EXPECT_EQ(ledgerSum(ann), balance(ann));
}

TEST_P(StoreConformance, NamesFoldAsciiLettersOnly) {
    // Users and audio files whose names differ beyond ASCII are others, whatever the
    // database's locale folds.
    const Caller upper = account("Émile@example.org");
    const Caller lower = account("émile@example.org");
    EXPECT_NE(upper.account, lower.account);
    EXPECT_EQ(store->account("ÉMILE@EXAMPLE.ORG").value_or(Account{}).id, upper.account);
    EXPECT_EQ(store->account("émile@EXAMPLE.org").value_or(Account{}).id, lower.account);
    EXPECT_FALSE(store->account("EMILE@example.org"));

    submit(lower, "été.mid");
    ASSERT_TRUE(publish(takeNext().value_or(RenderJob{}).record, "small"));
    submit(lower, "Été.mid");
    const auto second = publish(takeNext().value_or(RenderJob{}).record, "capital");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->name, "Été.mp3");
    EXPECT_EQ(test::audioBytes(*store, "émile@example.org", "Été.MP3"), "capital");
    EXPECT_EQ(test::audioBytes(*store, "émile@example.org", "été.Mp3"), "small");
    EXPECT_FALSE(test::audioBytes(*store, "émile@example.org", "ÉTÉ.mp3"));
    EXPECT_EQ(store->deleteAudio(lower, "ÉTÉ.mp3"), Outcome::notFound);
    EXPECT_EQ(store->deleteAudio(lower, "été.MP3"), Outcome::done);
    const auto files = store->audioFiles(lower.account);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "Été.mp3");

    // Names no store holds, not even text: found nowhere, no error.
    for (const std::string& bad : {std::string("\xC3.mp3"), std::string("a\0b.mp3", 7)}) {
        EXPECT_EQ(store->deleteAudio(lower, bad), Outcome::notFound);
        EXPECT_EQ(store->openDownload({lower, bad, {2, 3}}).outcome, Outcome::notFound);
        EXPECT_FALSE(store->account(bad));
    }
}

TEST_P(StoreConformance, FormTokensBookOnceAndExpireWithTheirReceipts) {
    const Caller ann = account("ann@example.org");
    const std::string token = store->issueFormToken();
    const FundsResult paid = store->addFunds({ann, 250, token});
    ASSERT_EQ(paid.outcome, Outcome::done);
    EXPECT_EQ(paid.balance, 750);
    const auto receipt = store->receipt(paid.receipt);
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->userId, "ann@example.org");
    EXPECT_EQ(receipt->amount, 250);
    EXPECT_EQ(receipt->balance, 750);
    EXPECT_EQ(store->addFunds({ann, 250, token}).outcome, Outcome::formSpent);
    EXPECT_EQ(store->addFunds({ann, 250, "never issued"}).outcome, Outcome::formSpent);
    EXPECT_FALSE(store->receipt("never issued"));

    // A refusal leaves the token for the next try.
    const std::string kept = store->issueFormToken();
    EXPECT_EQ(store->addFunds({{ann.account, "a replaced hash"}, 100, kept}).outcome,
              Outcome::passwordChanged);
    EXPECT_EQ(store->addFunds({ann, 100, kept}).balance, 850);

    // Tokens last an hour and receipts a day; however many are issued, each books once, and
    // only one the store signed.
    const std::string stale = store->issueFormToken();
    clock += 3601;
    EXPECT_EQ(store->addFunds({ann, 100, stale}).outcome, Outcome::formSpent);
    EXPECT_TRUE(store->receipt(paid.receipt));
    clock += 86400 - 3601;
    EXPECT_TRUE(store->receipt(paid.receipt));
    clock += 1;
    EXPECT_FALSE(store->receipt(paid.receipt));
    const std::string first = store->issueFormToken();
    for (int i = 0; i < 6000; ++i)
        store->issueFormToken();
    std::string forged = store->issueFormToken();
    forged.back() = forged.back() == '0' ? '1' : '0';
    EXPECT_EQ(store->addFunds({ann, 1, forged}).outcome, Outcome::formSpent);
    EXPECT_EQ(store->addFunds({ann, 1, first}).outcome, Outcome::done);
    EXPECT_EQ(store->addFunds({ann, 1, first}).outcome, Outcome::formSpent);
    EXPECT_EQ(balance(ann), 851);
    EXPECT_EQ(ledgerSum(ann), 851);
}

// Retention removes what was published before its time, body, delivery and all, mailing
// nobody; what came after stays.
TEST_P(StoreConformance, AudioPastItsKeepingTimeGoesWithItsRows) {
    const Caller ann = account("ann@example.org");
    submit(ann, "Old.mid");
    ASSERT_TRUE(publish(takeNext().value_or(RenderJob{}).record, "old audio"));
    const DownloadResult old = store->openDownload({ann, "Old.mp3", {2, 3}});
    ASSERT_EQ(old.outcome, Outcome::done);
    store->recordDelivery(old.delivery);
    const std::int64_t cutoff = clock += 60;
    submit(ann, "New.mid");
    ASSERT_TRUE(publish(takeNext().value_or(RenderJob{}).record, "new audio"));
    EXPECT_EQ(store->expireAudio(cutoff), 1);
    EXPECT_EQ(store->expireAudio(cutoff), 0);
    const auto files = store->audioFiles(ann.account);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "New.mp3");
    EXPECT_FALSE(test::audioBytes(*store, "ann@example.org", "Old.mp3"));
    EXPECT_EQ(test::audioBytes(*store, "ann@example.org", "New.mp3"), "new audio");
    EXPECT_EQ(ledgerSum(ann), balance(ann));
}

// Threads upload, book, pay, list, download and render on one store at once: every booking
// lands in its balance and its ledger, and no operation fails for a busy database.
TEST_P(StoreConformance, ConcurrentOperationsKeepEveryLedger) {
    constexpr int kThreads = 6, kRounds = 20, kAccounts = 3;
    std::vector<Caller> accounts;
    std::vector<std::atomic<std::int64_t>> expected(kAccounts);
    for (int a = 0; a < kAccounts; ++a) {
        accounts.push_back(account("user" + std::to_string(a) + "@example.org", 100000));
        expected[a] = 100000;
    }
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    const auto guarded = [&](const std::function<void()>& work) {
        try {
            work();
        } catch (const std::exception& failure) {
            std::lock_guard lock(failuresMutex);
            failures.push_back(failure.what());
        }
    };
    std::atomic<bool> uploading = true;
    std::thread renderer([&] {
        while (uploading)
            guarded([&] {
                if (const auto job = takeNext())
                    publish(job->record, "audio of " + job->name);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                guarded([&] {
                    const int a = (t + round) % kAccounts;
                    const Caller& caller = accounts[a];
                    const std::int64_t amount = round % 2 == 0 ? 7 : -3;
                    if (store->book({caller.account, amount, "test"}))
                        expected[a] += amount;
                    const std::string name = std::to_string(t) + "-" + std::to_string(round);
                    const SubmitResult submitted =
                        store->submitMidi({caller, name + ".mid", "", "MThd", {1, 0}, 1000});
                    if (submitted.outcome == Outcome::done)
                        expected[a] -= 1;
                    if (store->addFunds({caller, 10, store->issueFormToken()}).outcome ==
                        Outcome::done)
                        expected[a] += 10;
                    store->midiRecords(caller.account);
                    const auto files = store->audioFiles(caller.account);
                    if (!files.empty()) {
                        const DownloadResult download =
                            store->openDownload({caller, files.front().name, {1, 0}});
                        if (download.outcome == Outcome::done)
                            expected[a] -= store->recordDelivery(download.delivery);
                    }
                    if (round % 4 == 3) {
                        store->deleteWaitingMidi(caller, submitted.record);
                        if (!files.empty())
                            store->deleteAudio(caller, files.back().name);
                    }
                });
        });
    for (std::thread& thread : threads)
        thread.join();
    uploading = false;
    renderer.join();

    EXPECT_EQ(failures, std::vector<std::string>{});
    for (int a = 0; a < kAccounts; ++a) {
        EXPECT_EQ(balance(accounts[a]), expected[a]) << a;
        EXPECT_EQ(ledgerSum(accounts[a]), balance(accounts[a])) << a;
    }
    EXPECT_TRUE(scratchEmpty());
}

// A data folder from before accounts had resets, counters and turns, and records their play
// time, fee and attempts, opens with its accounts and records whole.
TEST(OpenStore, ALocationThatIsNoPostgresUrlIsRefusedRatherThanTakenForSqlite) {
    test::TempFolder folder;
    for (const std::string mistyped : {"postgress://localhost/tonvert", "pgsql://db/x", "x"})
        EXPECT_THROW(openStore(mistyped, folder.file(mistyped.substr(0, 1))), std::invalid_argument)
            << mistyped;
    EXPECT_FALSE(std::filesystem::exists(folder.file("p"))) << "no database made for it";
    const auto sqlite = openStore("", folder.file("data"));
    ASSERT_TRUE(sqlite);
    EXPECT_FALSE(sqlite->queuesMail());
    EXPECT_TRUE(isPostgresUrl("postgresql://localhost/tonvert"));
    EXPECT_TRUE(isPostgresUrl("postgres://localhost/tonvert"));
}

// The database's password stays off the command line: a URL that holds one is told apart, and
// a password file is taken only when no one else may read it.
TEST(OpenStore, TheDatabasePasswordComesFromAFileOfItsOwnersAlone) {
    for (const auto& [url, holds] : std::vector<std::pair<std::string, bool>>{
             {"postgresql://tonvert:secret@db/tonvert", true},
             {"postgres://tonvert:s%40cret@[::1]:5432/tonvert?sslmode=require", true},
             {"postgresql://tonvert@db/tonvert", false},
             {"postgresql://db/tonvert?user=a:b@c", false},
             {"", false}})
        EXPECT_EQ(urlHasPassword(url), holds) << url;
    test::TempFolder folder;
    const std::string file = folder.file("password");
    test::writeBytes(file, "from the file\nsecond line\n");
    ::chmod(file.c_str(), 0644);
    EXPECT_THROW(useDatabasePasswordFile(file), std::runtime_error);
    ::chmod(file.c_str(), 0600);
    useDatabasePasswordFile(file);
    EXPECT_STREQ(std::getenv("PGPASSWORD"), "from the file");
    ::unsetenv("PGPASSWORD");
    EXPECT_THROW(useDatabasePasswordFile(folder.file("none")), std::runtime_error);
}

TEST(SqliteStoreUpgrade, OlderDatabaseGainsTheNewColumns) {
    test::TempFolder folder;
    std::filesystem::create_directories(folder.file("data/midi"));
    {
        SqliteConnection db(folder.file("data") + "/tonvert.sqlite");
        db.execute("CREATE TABLE accounts(id INTEGER PRIMARY KEY, user_id TEXT NOT NULL UNIQUE "
                   "COLLATE NOCASE, password TEXT NOT NULL, confirmed INTEGER NOT NULL DEFAULT 0, "
                   "balance INTEGER NOT NULL, created INTEGER NOT NULL)");
        db.execute("INSERT INTO accounts VALUES(7, 'old@example.org', 'old hash', 1, 250, 0)");
        db.execute("CREATE TABLE midi_records(id INTEGER PRIMARY KEY AUTOINCREMENT, account "
                   "INTEGER NOT NULL REFERENCES accounts(id), name TEXT NOT NULL, parameters "
                   "TEXT NOT NULL, size INTEGER NOT NULL, state TEXT NOT NULL DEFAULT 'waiting', "
                   "created INTEGER NOT NULL)");
        db.execute("INSERT INTO midi_records(id, account, name, parameters, size, created) "
                   "VALUES(3, 7, 'Old.mid', 'MP3,128,44100,C,2', 10, 0)");
    }
    test::writeBytes(folder.file("data/midi/3.mid"), "0123456789");
    SqliteStore store(folder.file("data"));
    const auto old = store.account("old@example.org");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->passwordHash, "old hash");
    EXPECT_EQ(old->balance, 250);
    EXPECT_EQ(old->pendingPasswordHash, "");
    EXPECT_EQ(old->failedLogins, 0);
    EXPECT_EQ(store.startReset({7, "new hash", 600}).outcome, Outcome::done);
    EXPECT_EQ(store.noteFailedLogin(7, 60), 1);
    EXPECT_TRUE(store.usePendingPassword(7, "new hash"));
    EXPECT_EQ(store.account("old@example.org")->passwordHash, "new hash");

    // The old record is due at once; given up, it is refunded at the fee of today's prices.
    const auto records = store.midiRecords(7);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].playSeconds, 0);
    EXPECT_EQ(records[0].attempts, 0);
    const auto job = store.takeNextJob();
    ASSERT_EQ(job->record, 3);
    const RetryResult retry = store.publishFailed({3, {60, 1}, {4, 100}, job->lease});
    EXPECT_TRUE(retry.gaveUp);
    EXPECT_EQ(retry.refund, 104);
    EXPECT_EQ(store.account("old@example.org")->balance, 354);
    EXPECT_FALSE(std::filesystem::exists(folder.file("data/midi/3.mid")));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StoreConformance,
    ::testing::Values(StoreKind{"Sqlite",
                                [](const std::string& folder, StoreOptions options) {
                                    return std::unique_ptr<Store>(
                                        std::make_unique<SqliteStore>(folder, std::move(options)));
                                }},
                      StoreKind{"Postgres", makePgStore, pgUnavailable}),
    [](const ::testing::TestParamInfo<StoreKind>& info) { return info.param.name; });

} // namespace
} // namespace tonvert
