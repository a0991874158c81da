// What only a store shared by several processes does: leases on jobs that run out, mail kept
// in the publication's transaction, bodies kept a while for downloads opened before.

#include <atomic>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <latch>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "asciiText.h"
#include "pgServer.h"
#include "store/pgDatabase.h"
#include "store/pgStore.h"
#include "storeSupport.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace service;

class PgStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        test::PgServer* server = test::PgServer::shared(why);
        if (server == nullptr)
            TONVERT_WITHOUT_POSTGRES(why);
        url = server->newDatabase();
        first = open("first");
        second = open("second");
    }
    // Another process on the same database, with a working folder of its own.
    std::unique_ptr<PgStore> open(const std::string& name) {
        StoreOptions options;
        options.clock = [this] { return clock.load(); };
        options.leaseSeconds = 30;
        options.orphanBodySeconds = 600;
        return std::make_unique<PgStore>(url, folder.file(name), options);
    }
    Caller account(Store& store, const std::string& user, std::int64_t balance = 500) {
        const auto id = store.addAccount({user, "hash of " + user, balance});
        EXPECT_TRUE(id);
        return {id.value_or(0), "hash of " + user};
    }
    std::optional<AudioFile> publish(Store& store, const RenderJob& job, const std::string& bytes,
                                     bool withMail = false) {
        const std::string rendered = store.scratchPath();
        test::writeBytes(rendered, bytes);
        std::function<MailMessage(const AudioFile&)> mail;
        if (withMail)
            mail = [&job](const AudioFile& file) {
                return MailMessage{job.userId, "Rendered: " + job.name, "as " + file.name};
            };
        return store.publishAudio({job.record, "mp3", rendered, job.lease, mail});
    }

    // A count straight from the database, as no store operation tells it.
    std::int64_t count(const std::string& sql) {
        PgConnection db(url);
        return db.queryOne(sql)->integer(0);
    }
    void run(const std::string& sql) {
        PgConnection db(url);
        db.execute(sql);
    }
    static bool fetches(Store& store, std::int64_t record) {
        try {
            return store.fetchMidi(record, store.scratchPath());
        } catch (const std::exception&) {
            return false;
        }
    }

    test::TempFolder folder;
    std::string url;
    std::atomic<std::int64_t> clock = 1'750'000'000;
    std::unique_ptr<PgStore> first;
    std::unique_ptr<PgStore> second;
};

TEST_F(PgStoreTest, AJobWhoseLeaseRanOutIsTakenAgainAndPublishedByItsNewHolderOnce) {
    const Caller ann = account(*first, "ann@example.org");
    const std::int64_t song =
        first->submitMidi({ann, "Song.mid", "MP3,128,44100,C,2", "MThd song", {5, 10}, 20}).record;
    const auto taken = first->takeNextJob();
    ASSERT_TRUE(taken);
    EXPECT_FALSE(second->takeNextJob()) << "held under its lease";
    clock += 20;
    EXPECT_TRUE(first->renewLease(song, taken->lease));
    clock += 29;
    EXPECT_FALSE(second->takeNextJob()) << "the renewal counts from its own time";

    // The first worker died: its lease runs out, and the job is the second's.
    clock += 2;
    EXPECT_FALSE(first->renewLease(song, taken->lease));
    const auto again = second->takeNextJob();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->record, song);
    EXPECT_NE(again->lease, taken->lease);
    EXPECT_EQ(test::midiBytes(*second, song), "MThd song");

    // The old holder, come back, can neither publish, give back, drop nor fail the job.
    EXPECT_THROW(publish(*first, *taken, "stale audio"), LeaseLost);
    first->returnJob(song, taken->lease);
    EXPECT_EQ(first->publishFailed({song, {60, 5}, {}, taken->lease}).outcome, Outcome::notFound);
    ASSERT_EQ(first->midiRecords(ann.account).size(), 1u);
    EXPECT_EQ(first->midiRecords(ann.account)[0].state, "rendering");
    EXPECT_TRUE(first->audioFiles(ann.account).empty());
    EXPECT_TRUE(std::filesystem::is_empty(first->folder() + "/scratch"));

    // The new holder publishes once, with its mail in the same transaction.
    const auto file = publish(*second, *again, "new audio", true);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, "Song.mp3");
    EXPECT_THROW(publish(*second, *again, "twice"), LeaseLost) << "the record is gone";
    EXPECT_EQ(first->audioFiles(ann.account).size(), 1u);
    EXPECT_EQ(test::audioBytes(*first, "ann@example.org", "song.MP3"), "new audio");
    const auto ledger = first->ledger(ann.account);
    ASSERT_EQ(ledger.size(), 2u) << "the starting balance and one upload fee";
    EXPECT_EQ(first->accountById(ann.account)->balance, 500 - 15) << "charged once";

    // Kept mail is claimed by one process at a time, and offered again if never marked sent.
    auto mails = first->takeQueuedMail(10);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].message.to, "ann@example.org");
    EXPECT_EQ(mails[0].message.subject, "Rendered: Song.mid");
    EXPECT_EQ(mails[0].message.body, "as Song.mp3");
    EXPECT_TRUE(second->takeQueuedMail(10).empty());
    clock += 31;
    mails = second->takeQueuedMail(10);
    ASSERT_EQ(mails.size(), 1u);
    second->mailSent(mails[0].id);
    clock += 31;
    EXPECT_TRUE(first->takeQueuedMail(10).empty());
}

TEST_F(PgStoreTest, BodiesAreReadInChunksAndOutliveTheirRowsForAWhile) {
    const Caller ann = account(*first, "ann@example.org", 100000);
    // Over two chunks, with bytes that tell where they came from.
    std::string big(2 * PgStore::kChunkBytes + 12345, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7 + i / 1000) & 0xff);
    ASSERT_EQ(first->submitMidi({ann, "Big.mid", "MP3,128,44100,C,2", big, {5, 10}, 20}).outcome,
              Outcome::done);
    const auto job = second->takeNextJob();
    ASSERT_TRUE(job);
    EXPECT_TRUE(test::midiBytes(*second, job->record) == big);
    ASSERT_TRUE(publish(*second, *job, big));

    const auto opened = first->openDownload({ann, "Big.mp3", {2, 3}});
    ASSERT_EQ(opened.outcome, Outcome::done);
    EXPECT_EQ(opened.size, big.size());
    char tail[100];
    EXPECT_EQ(opened.body->read(big.size() - 10, tail, sizeof tail), 10u)
        << "reads stop at the end";
    EXPECT_EQ(std::string(tail, 10), big.substr(big.size() - 10));
    const auto later = first->openDownload({ann, "Big.mp3", {2, 3}});
    EXPECT_EQ(second->deleteAudio(ann, "big.mp3"), Outcome::done);
    EXPECT_TRUE(test::readBody(*opened.body) == big) << "opened before the delete";

    // Once swept, the body is gone for good, also for a download opened long before.
    clock += 600 + 61;
    EXPECT_FALSE(second->takeNextJob()); // sweeps, at most once a minute
    char byte;
    EXPECT_EQ(later.body->read(0, &byte, 1), 0u);
}

TEST_F(PgStoreTest, ABodyReadOrWrittenOnlyInPartFailsAndLeavesNothingBehind) {
    const Caller ann = account(*first, "ann@example.org", 100000);
    const std::string midi(2 * PgStore::kChunkBytes + 10, 'm');
    ASSERT_EQ(first->submitMidi({ann, "Big.mid", "MP3,128,44100,C,2", midi, {5, 10}, 20}).outcome,
              Outcome::done);
    const auto job = first->takeNextJob();
    ASSERT_TRUE(job);
    EXPECT_TRUE(fetches(*first, job->record));

    // A chunk gone missing is no end of file, nor is a database error.
    run("UPDATE body_chunks SET seq = 7 WHERE seq = 1");
    EXPECT_FALSE(fetches(*first, job->record)) << "cut short";
    run("UPDATE body_chunks SET seq = 1 WHERE seq = 7");
    run("ALTER TABLE body_chunks RENAME TO chunks_away");
    EXPECT_FALSE(fetches(*first, job->record)) << "the chunks cannot be read";
    run("ALTER TABLE chunks_away RENAME TO body_chunks");
    EXPECT_TRUE(fetches(*first, job->record));

    // An audio file that cannot be read whole leaves no body of it stored, and its job as
    // it was.
    const std::int64_t bodies = count("SELECT count(*) FROM bodies");
    const std::string unreadable = first->scratchPath();
    std::filesystem::create_directories(unreadable); // opens, but every read fails
    EXPECT_THROW(first->publishAudio({job->record, "mp3", unreadable, job->lease, {}}),
                 std::runtime_error);
    EXPECT_EQ(count("SELECT count(*) FROM midi_records"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM bodies"), bodies);
    EXPECT_EQ(count("SELECT count(*) FROM body_chunks"), 3);
}

TEST_F(PgStoreTest, PublicationsForOneAccountSideBySideNeverPickTheSameName) {
    const Caller ann = account(*first, "ann@example.org", 100000);
    constexpr int kPairs = 12;
    // Each pair's two MIDI files have one audio name: published together, one is numbered.
    for (int i = 0; i < kPairs; ++i)
        for (const char* extension : {".mid", ".midi"})
            ASSERT_EQ(first
                          ->submitMidi({ann,
                                        "Tune" + std::to_string(i) + extension,
                                        "MP3,128,44100,C,2",
                                        "MThd",
                                        {5, 10},
                                        100})
                          .outcome,
                      Outcome::done);
    std::vector<RenderJob> jobs;
    while (const auto job = first->takeNextJob())
        jobs.push_back(*job);
    ASSERT_EQ(jobs.size(), 2u * kPairs);
    std::atomic<int> failures = 0;
    for (int i = 0; i < kPairs; ++i) {
        std::latch start(2);
        const auto publishing = [&](Store& store, const RenderJob& job) {
            start.arrive_and_wait();
            try {
                if (!publish(store, job, "audio"))
                    ++failures;
            } catch (const std::exception&) {
                ++failures;
            }
        };
        std::thread one(publishing, std::ref(*first), jobs[2 * i]);
        std::thread other(publishing, std::ref(*second), jobs[2 * i + 1]);
        one.join();
        other.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<std::string> names;
    for (const AudioFile& file : first->audioFiles(ann.account))
        names.insert(ascii::toLower(file.name));
    EXPECT_EQ(names.size(), 2u * kPairs);
}

TEST_F(PgStoreTest, AnUploadWhoseProcessDiesBeforeItsCommitLeavesOnlyABodyThatIsSwept) {
    const Caller ann = account(*first, "ann@example.org");
    const std::int64_t bodies = count("SELECT count(*) FROM bodies");

    // Rejected uploads take their bodies back at once.
    EXPECT_EQ(
        first->submitMidi({ann, "Dear.mid", "MP3,128,44100,C,2", "MThd", {900, 0}, 20}).outcome,
        Outcome::insufficientFunds);
    EXPECT_EQ(
        first->submitMidi({{ann.account, "wrong"}, "X.mid", "P", "MThd", {5, 10}, 20}).outcome,
        Outcome::passwordChanged);
    EXPECT_EQ(count("SELECT count(*) FROM bodies"), bodies);
    EXPECT_EQ(count("SELECT count(*) FROM body_chunks"), 0);

    // A front stores the body, then waits for the account's row, which the test holds, and
    // dies there: its record's transaction never commits.
    PgConnection holder(url);
    holder.execute("BEGIN");
    holder.execute("SELECT id FROM accounts WHERE id = $1 FOR UPDATE", {ann.account});
    const pid_t front = ::fork();
    if (front == 0) {
        auto store = open("front");
        store->submitMidi({ann, "Song.mid", "MP3,128,44100,C,2", "MThd song", {5, 10}, 20});
        ::_exit(0);
    }
    ASSERT_GT(front, 0);
    bool stored = false;
    for (int i = 0; i < 3000 && !stored; ++i) {
        stored = count("SELECT count(*) FROM bodies") == bodies + 1 &&
                 count("SELECT count(*) FROM pg_locks WHERE NOT granted") > 0;
        if (!stored)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(front, SIGKILL);
    int status = 0;
    ::waitpid(front, &status, 0);
    holder.execute("COMMIT");
    ASSERT_TRUE(stored) << "the front never came to wait for the account";

    EXPECT_TRUE(first->midiRecords(ann.account).empty());
    EXPECT_EQ(first->accountById(ann.account)->balance, 500) << "charged nothing";
    EXPECT_EQ(first->ledger(ann.account).size(), 1u);
    EXPECT_EQ(count("SELECT count(*) FROM body_chunks"), 1) << "the body stays a while";
    clock += 600 + 61;
    EXPECT_FALSE(second->takeNextJob()); // sweeps
    EXPECT_EQ(count("SELECT count(*) FROM bodies"), bodies);
    EXPECT_EQ(count("SELECT count(*) FROM body_chunks"), 0);
}

TEST_F(PgStoreTest, ConnectionsTheServerDroppedAreReplacedWithoutAFailedRequest) {
    const Caller ann = account(*first, "ann@example.org");
    ASSERT_TRUE(first->accountById(ann.account));
    // As after a restart of the server: every idle connection of the store is gone.
    const auto dropAll = [this] {
        PgConnection admin(url);
        admin.execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                      "current_database() AND pid <> pg_backend_pid()");
        for (int i = 0; i < 3000; ++i) {
            if (admin
                    .queryOne("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                              "current_database() AND pid <> pg_backend_pid()")
                    ->integer(0) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "the connections stayed";
    };
    dropAll();
    EXPECT_EQ(first->accountById(ann.account).value_or(Account{}).balance, 500) << "a read";
    dropAll();
    EXPECT_TRUE(first->confirmAccount(ann)) << "a transaction";
    EXPECT_TRUE(first->accountById(ann.account).value_or(Account{}).confirmed);
}

} // namespace
} // namespace tonvert
