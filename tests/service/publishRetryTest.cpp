// Rendered jobs whose audio file cannot be stored, over real HTTP on loopback: the job waits
// again with its MIDI file, is tried later, and in the end its upload fee is refunded.

#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <stdexcept>

#include "midiBytes.h"
#include "serviceFixture.h"
#include "storeSupport.h"

namespace tonvert {
namespace {

using namespace service;
using namespace std::chrono_literals;

// Renders by copying the MIDI bytes.
struct CopyingRenderer : Renderer {
    RenderResult render(const RenderJob& job, const std::string& output) override {
        std::filesystem::copy_file(job.midiPath, output);
        return {true, "mp3", ""};
    }
};

// The service's store on a disk that is full while `full` is set: storing an audio file
// fails as it does there, the rendered file gone and an error thrown.
struct FullDiskStore : test::ForwardingStore {
    using ForwardingStore::ForwardingStore;
    AudioFile publishAudio(const Publication& publication) override {
        ++publications;
        if (leaseLost) {
            std::filesystem::remove(publication.renderedFile);
            throw LeaseLost(publication.record);
        }
        if (!full)
            return ForwardingStore::publishAudio(publication);
        std::filesystem::remove(publication.renderedFile);
        throw std::runtime_error("cannot write the audio file: No space left on device");
    }
    // While `unreadable` is set, the MIDI files cannot be fetched either.
    bool fetchMidi(std::int64_t record, const std::string& localPath) override {
        ++fetches;
        if (unreadable)
            return false;
        return ForwardingStore::fetchMidi(record, localPath);
    }
    // While `deadly` is set, a job comes as one whose renders killed their process as often
    // as the retry policy allows: taken, and left unfinished as a dead process leaves it.
    std::optional<RenderJob> takeNextJob() override {
        auto job = ForwardingStore::takeNextJob();
        while (job && deadly && job->attempts < 3) {
            ForwardingStore::requeueUnfinished();
            job = ForwardingStore::takeNextJob();
        }
        return job;
    }
    std::atomic<bool> deadly = false;
    std::atomic<bool> full = true;
    std::atomic<bool> unreadable = false;
    std::atomic<bool> leaseLost = false; // another worker took the jobs over
    std::atomic<int> publications = 0;
    std::atomic<int> fetches = 0;
};

class PublishRetryTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        renderer = &copying;
        config.publishRetry = {60, 3};
        wrapStore = [this](std::unique_ptr<Store> inner) {
            auto wrapped = std::make_unique<FullDiskStore>(std::move(inner));
            disk = wrapped.get();
            return std::unique_ptr<Store>(std::move(wrapped));
        };
        start();
    }
    // The user's only MIDI record once it has failed so often, or nothing when it is gone.
    std::optional<MidiRecord> awaitFailures(std::int64_t account, std::int64_t attempts) {
        for (int i = 0; i < 6000; ++i) { // a busy machine may take long
            const auto records = store->midiRecords(account);
            if (records.empty() && attempts == 0)
                return std::nullopt;
            if (records.size() == 1 && records[0].attempts == attempts &&
                records[0].state == "waiting")
                return records[0];
            std::this_thread::sleep_for(5ms);
        }
        ADD_FAILURE() << "no record with " << attempts << " failures";
        return std::nullopt;
    }
    bool ledgerIsBalance(std::int64_t account) {
        const auto entries = store->ledger(account);
        return std::accumulate(entries.begin(), entries.end(), std::int64_t(0),
                               [](std::int64_t sum, const LedgerEntry& entry) {
                                   return sum + entry.amount;
                               }) == store->accountById(account)->balance;
    }
    // The clock goes on to when the record is due, and the queue looks.
    void dueAgain(const MidiRecord& record) {
        later(record.nextAttempt - store->now());
        loopback->wakeQueue();
    }

    CopyingRenderer copying;
    FullDiskStore* disk = nullptr;
};

TEST_F(PublishRetryTest, AJobWaitsAgainOnAFullDiskAndIsRefundedAfterTheLastTry) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    const std::int64_t id = store->account(user)->id;
    ASSERT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");
    EXPECT_EQ(store->accountById(id)->balance, 485);

    // Failed once, it waits with its MIDI file for a minute, and nobody is mailed yet.
    auto record = awaitFailures(id, 1);
    ASSERT_TRUE(record);
    EXPECT_GE(record->nextAttempt, store->now() + 59);
    EXPECT_LE(record->nextAttempt, store->now() + 60);
    EXPECT_EQ(test::midiBytes(*store, record->id), test::taggedMidi("song"));
    EXPECT_EQ(command(user, password, "listmidi"),
              "!VAL 1\r\n1\tSong.mid\twaiting\tMP3,128,44100,C,2\r\n");
    EXPECT_EQ(command(user, password, "listaudio"), "!VAL \t0\r\n");
    EXPECT_EQ(mailsWith("Song.mid", false), 0);
    EXPECT_TRUE(std::filesystem::is_empty(store->folder() + "/scratch"));

    // Not due yet, a woken queue leaves it; due, it is tried again, then after two minutes.
    loopback->wakeQueue();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(disk->publications, 1);
    dueAgain(*record);
    record = awaitFailures(id, 2);
    ASSERT_TRUE(record);
    EXPECT_GE(record->nextAttempt, store->now() + 119);
    EXPECT_LE(record->nextAttempt, store->now() + 120);
    EXPECT_EQ(store->accountById(id)->balance, 485) << "the fee is kept while it is tried";

    // The third failure is the last: the fee comes back once, one mail says so, and the
    // record and its file go.
    dueAgain(*record);
    EXPECT_FALSE(awaitFailures(id, 0));
    EXPECT_EQ(mailsWith("could not be stored"), 1);
    EXPECT_EQ(disk->publications, 3);
    EXPECT_EQ(store->accountById(id)->balance, 500);
    EXPECT_EQ(store->ledger(id).back().reason, "refund of the upload of Song.mid");
    EXPECT_TRUE(ledgerIsBalance(id));
    EXPECT_FALSE(test::midiBytes(*store, 1));
    later(3600);
    loopback->wakeQueue();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(disk->publications, 3);
    EXPECT_EQ(mailsWith("Song.mid", false), 1);

    // With room again, a job that failed once is published and keeps its fee.
    ASSERT_EQ(upload(user, password, "Tune.mid", test::taggedMidi("tune")), "!VAL 2");
    record = awaitFailures(id, 1);
    ASSERT_TRUE(record);
    disk->full = false;
    dueAgain(*record);
    EXPECT_FALSE(awaitFailures(id, 0));
    EXPECT_EQ(mailsWith("Rendered: Tune.mid"), 1);
    EXPECT_EQ(command(user, password, "listaudio"),
              "!VAL \t1\r\nTune.mp3\t" + std::to_string(test::taggedMidi("tune").size()) + "\r\n");
    EXPECT_EQ(store->accountById(id)->balance, 485);
    EXPECT_TRUE(ledgerIsBalance(id));
}

TEST_F(PublishRetryTest, AJobWhoseMidiFileCannotBeFetchedWaitsAsAFailureAndIsRefunded) {
    disk->unreadable = true;
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    const std::int64_t id = store->account(user)->id;
    ASSERT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");

    // Counted as a failure and due later, not taken again at once over and over.
    auto record = awaitFailures(id, 1);
    ASSERT_TRUE(record);
    EXPECT_GE(record->nextAttempt, store->now() + 59);
    loopback->wakeQueue();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(disk->fetches, 1);
    EXPECT_EQ(disk->publications, 0);
    EXPECT_EQ(mailsWith("Song.mid", false), 0);

    dueAgain(*record);
    record = awaitFailures(id, 2);
    ASSERT_TRUE(record);
    dueAgain(*record);
    EXPECT_FALSE(awaitFailures(id, 0));
    EXPECT_EQ(disk->fetches, 3);
    EXPECT_EQ(mailsWith("could not be read"), 1);
    EXPECT_EQ(store->accountById(id)->balance, 500) << "refunded";
    EXPECT_TRUE(ledgerIsBalance(id));
}

TEST_F(PublishRetryTest, AJobTakenOverByAnotherWorkerIsNeitherMailedNorCountedAsAFailure) {
    disk->leaseLost = true;
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    const std::int64_t id = store->account(user)->id;
    ASSERT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");
    for (int i = 0; i < 6000 && disk->publications == 0; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(disk->publications, 1);
    // The worker is done with the job once the lease is found lost; its new holder (none here)
    // would publish and mail.
    std::this_thread::sleep_for(200ms);
    const auto records = store->midiRecords(id);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].attempts, 0);
    EXPECT_EQ(records[0].state, "rendering");
    EXPECT_EQ(mailsWith("Song.mid", false), 0);
    EXPECT_EQ(store->accountById(id)->balance, 485);
}

TEST_F(PublishRetryTest, AJobWhoseRendersKilledTheirProcessTooOftenIsGivenUpAndRefunded) {
    disk->deadly = true;
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    const std::int64_t id = store->account(user)->id;
    ASSERT_EQ(upload(user, password, "Song.mid", test::taggedMidi("song")), "!VAL 1");
    EXPECT_EQ(mailsWith("stopped the service"), 1);
    EXPECT_TRUE(store->midiRecords(id).empty());
    EXPECT_EQ(disk->fetches, 0) << "not tried once more";
    EXPECT_EQ(store->accountById(id)->balance, 500) << "refunded";
    EXPECT_TRUE(ledgerIsBalance(id));
}

} // namespace
} // namespace tonvert
