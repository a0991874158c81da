// A backup of the SQLite store taken while users upload, pay, download and delete and the queue
// renders, restored into a new folder and found whole.

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

#include "midiBytes.h"
#include "queue/renderQueue.h"
#include "store/backup.h"
#include "store/names.h"
#include "store/sqliteStore.h"
#include "storeSupport.h"
#include "testFiles.h"

namespace tonvert::test {
namespace {

using namespace service;

// Audio of the MIDI file's very bytes: every body tells by its name what it must hold.
class CopyingRenderer final : public Renderer {
public:
    RenderResult render(const RenderJob& job, const std::string& output) override {
        writeBytes(output, readBytes(job.midiPath));
        return {true, "mp3", ""};
    }
};

// One user's traffic until told to stop: an upload, a payment, and the user's audio files
// downloaded, every third of them deleted after.
void userLoad(Store& store, RenderQueue& queue, const std::string& user,
              const std::atomic<bool>& stop) {
    const Caller caller = *callerOf(store, user);
    for (int n = 0; !stop; ++n) {
        const std::string tag = user + "-" + std::to_string(n);
        const std::string midi = taggedMidi(tag);
        store.submitMidi({caller, tag + ".mid", "MP3,128,44100,C,2", midi, {5, 10}, 20});
        queue.notify();
        store.addFunds({caller, 100, store.issueFormToken()});
        for (const AudioFile& file : store.audioFiles(caller.account)) {
            const DownloadResult download = store.openDownload({caller, file.name, {2, 3}});
            if (download.outcome == Outcome::done && !readBody(*download.body).empty())
                store.recordDelivery(download.delivery);
            if (file.id % 3 == 0)
                store.deleteAudio(caller, file.name);
        }
    }
}

const char* const kUsers[] = {"ann", "bob", "cy"};

TEST(Backup, TakenUnderLoadRestoresEveryBalanceAndBody) {
    TempFolder folder;
    const std::string data = folder.file("data");
    const std::string backup = folder.file("backup");
    const std::string restored = folder.file("restored");
    BackupResult taken;
    {
        SqliteStore store(data);
        Mailer mailer(data + "/outbox", "noreply@test.localhost");
        CopyingRenderer renderer;
        QueueOptions two;
        two.workers = 2;
        RenderQueue queue(store, mailer, &renderer, two);
        for (const char* user : kUsers)
            ASSERT_TRUE(store.addAccount({user, "hash", 500}));
        std::atomic<bool> stop = false;
        std::vector<std::thread> users;
        for (const char* user : kUsers)
            users.emplace_back(userLoad, std::ref(store), std::ref(queue), user, std::cref(stop));
        for (int i = 0; i < 1000 && store.audioFiles(store.account("cy")->id).size() < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Between the copy's first steps each user's audio files go and a file comes: the
        // backup holds the moment it began, bodies and all.
        BackupOptions options;
        options.pagesPerStep = 4;
        bool changed = false;
        int deleted = 0;
        options.progress = [&](int, int) {
            if (std::exchange(changed, true))
                return;
            for (const char* user : kUsers) {
                const Caller caller = *callerOf(store, user);
                for (const AudioFile& file : store.audioFiles(caller.account))
                    deleted += store.deleteAudio(caller, file.name) == Outcome::done;
                const std::string late = std::string(user) + "-late";
                store.submitMidi({caller, late + ".mid", "", taggedMidi(late), {}, 30});
            }
        };
        taken = backupSqliteStore(data, backup, options);
        EXPECT_GT(deleted, 0);
        stop = true;
        for (std::thread& user : users)
            user.join();
    }
    ASSERT_TRUE(taken.ok) << taken.error;
    EXPECT_GT(taken.audioFiles, 0);
    const BackupResult put = restoreSqliteStore(backup, restored);
    ASSERT_TRUE(put.ok) << put.error;
    EXPECT_EQ(put.ledgerLines, taken.ledgerLines);

    SqliteStore store(restored);
    for (const char* user : kUsers) {
        const Account account = *store.account(user);
        std::int64_t sum = 0;
        for (const LedgerEntry& line : store.ledger(account.id))
            sum += line.amount;
        EXPECT_EQ(sum, account.balance) << user;
        for (const AudioFile& file : store.audioFiles(account.id))
            EXPECT_EQ(audioBytes(store, user, file.name), taggedMidi(rootOf(file.name)));
        for (const MidiRecord& record : store.midiRecords(account.id))
            EXPECT_EQ(midiBytes(store, record.id), taggedMidi(rootOf(record.name)));
    }
}

TEST(Backup, RefusesAFullTargetAndLeavesItAsItWas) {
    TempFolder folder;
    SqliteStore(folder.file("data"));
    ASSERT_TRUE(backupSqliteStore(folder.file("data"), folder.file("backup")).ok);
    std::filesystem::create_directory(folder.file("full"));
    writeBytes(folder.file("full/keep"), "kept");
    for (const BackupResult& refused :
         {backupSqliteStore(folder.file("data"), folder.file("full")),
          restoreSqliteStore(folder.file("backup"), folder.file("full"))}) {
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.error.find("not empty"), std::string::npos) << refused.error;
    }
    EXPECT_EQ(readBytes(folder.file("full/keep")), "kept");
    EXPECT_FALSE(std::filesystem::exists(folder.file("full.partial")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.file("full")), {}), 1);
}

} // namespace
} // namespace tonvert::test
