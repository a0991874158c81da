// The render queue shared fairly, over real HTTP on loopback: accounts take turns, and none
// may queue more play time than its cap.

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

#include "midiBytes.h"
#include "serviceFixture.h"

namespace tonvert {
namespace {

using namespace service;
using namespace std::chrono_literals;
using FairQueueTest = test::ServiceFixture;

// Renders by copying the MIDI bytes, noting the order of the jobs.
struct RecordingRenderer : Renderer {
    RenderResult render(const RenderJob& job, const std::string& output) override {
        {
            std::lock_guard lock(mutex);
            order.push_back(job.name);
        }
        std::filesystem::copy_file(job.midiPath, output);
        return {true, "mp3", ""};
    }
    std::vector<std::string> rendered() {
        std::lock_guard lock(mutex);
        return order;
    }
    std::mutex mutex;
    std::vector<std::string> order;
};

// One note held so many seconds: a file of a few dozen bytes.
std::string playing(std::uint32_t seconds) {
    using namespace test;
    const int division = 96; // at the default tempo, 192 ticks a second
    return header(0, 1, division) +
           trackChunk(bytes({0x00, 0x90, 60, 100}) + varLen(seconds * 2 * division) +
                      bytes({0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(FairQueueTest, AccountsTakeTurnsWhateverTheyQueued) {
    const std::string ann = "ann@example.org", bob = "bob@example.org";
    const std::string annPassword = account(ann), bobPassword = account(bob);
    for (const char* name : {"A1.mid", "A2.mid", "A3.mid", "A4.mid"})
        ASSERT_EQ(upload(ann, annPassword, name, test::taggedMidi("")).rfind("!VAL ", 0), 0u)
            << name;
    for (const char* name : {"B1.mid", "B2.mid"})
        ASSERT_EQ(upload(bob, bobPassword, name, test::taggedMidi("")).rfind("!VAL ", 0), 0u)
            << name;

    // The queue starts with all six waiting, on one worker.
    RecordingRenderer recording;
    stop();
    renderer = &recording;
    start();
    for (int i = 0; i < 1000 && recording.rendered().size() < 6; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(recording.rendered(), (std::vector<std::string>{"A1.mid", "B1.mid", "A2.mid",
                                                              "B2.mid", "A3.mid", "A4.mid"}));
}

TEST_F(FairQueueTest, QueuedPlayTimeIsCappedBeforeAnyFee) {
    config.maxQueuedRenderSeconds = 60 * 60;
    stop();
    start();
    const std::string ann = "ann@example.org";
    const std::string password = account(ann);
    const std::int64_t id = store->account(ann)->id;
    ASSERT_EQ(upload(ann, password, "Long.mid", playing(40 * 60)), "!VAL 1");
    EXPECT_EQ(store->midiRecords(id)[0].playSeconds, 40 * 60);
    const std::int64_t balance = store->accountById(id)->balance;
    const std::size_t booked = store->ledger(id).size();

    // Past the cap together: wait for the queue. Past it alone: too large, however long the
    // owner waits. Neither costs anything.
    EXPECT_EQ(upload(ann, password, "More.mid", playing(20 * 60 + 1)), "!ERR 1049");
    EXPECT_EQ(upload(ann, password, "Huge.mid", playing(61 * 60)), "!ERR 1050");
    EXPECT_EQ(store->accountById(id)->balance, balance);
    EXPECT_EQ(store->ledger(id).size(), booked);
    EXPECT_EQ(store->midiRecords(id).size(), 1u);
    EXPECT_TRUE(std::filesystem::is_empty(store->folder() + "/scratch"));

    // Up to the cap is taken; another account has a cap of its own.
    EXPECT_EQ(upload(ann, password, "Rest.mid", playing(20 * 60)), "!VAL 2");
    const std::string bob = "bob@example.org";
    EXPECT_EQ(upload(bob, account(bob), "Long.mid", playing(60 * 60)), "!VAL 3");
}

} // namespace
} // namespace tonvert
