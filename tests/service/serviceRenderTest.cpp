#include "midiBytes.h"
#include "queue/fluidRenderer.h"
#include "serviceFixture.h"
#include "storeSupport.h"

#include <chrono>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace tonvert {
namespace {

using ServiceRenderTest = test::ServiceFixture;
using namespace std::chrono_literals;

TEST_F(ServiceRenderTest, UploadedMidiComesBackAsAudio) {
    service::FluidRenderer fluid{render::RenderOptions{}};
    stop();
    renderer = &fluid;
    start();
    const std::string user = "hal@example.org";
    const std::string password = account(user);
    const std::string scale = test::readBytes(TONVERT_SAMPLES "/Scale.mid");
    // What is no MIDI file is refused before any fee, as a wrong extension is.
    for (const std::string garbage : {"MThd, and nothing that plays", "", "\x7f\x45\x4c\x46"})
        EXPECT_EQ(upload(user, password, "Broken.mid", garbage), "!ERR 1039");
    // A broken file queued before that rule is refunded when its render refuses it.
    const service::Caller caller{store->account(user)->id, store->account(user)->passwordHash};
    ASSERT_EQ(
        store->submitMidi({caller, "Broken.mid", "MP3,128,44100,C,2", "MThd, no more", {5, 10}, 20})
            .record,
        1);
    ASSERT_EQ(upload(user, password, "Scale.mid", scale, "WAV,1378,44100,C,2"), "!VAL 2");

    // The broken file leaves the queue; the good one is rendered after it.
    std::string list;
    for (int i = 0; i < 1000 && list.find("Scale.wav") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        list = command(user, password, "listaudio");
    }
    const auto files = store->audioFiles(store->account(user)->id);
    ASSERT_EQ(files.size(), 1u) << list;
    EXPECT_EQ(list, "!VAL \t1\r\nScale.wav\t" + std::to_string(files[0].size) + "\r\n");
    EXPECT_GT(files[0].size, 44 + 44100 * 4 * 3) << "over three seconds of stereo";

    const TransferResult fetched =
        net.download({audioDownloadUrl({host, user, password}, "Scale.wav"), "", {}});
    ASSERT_TRUE(fetched.ok) << fetched.message;
    const std::string& bytes = fetched.reply;
    EXPECT_TRUE(bytes == test::audioBytes(*store, user, "Scale.wav"));
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");

    // The broken file's mail says what was wrong with it, naming it as its owner did and
    // showing nothing of the service's folders.
    std::string failure;
    for (const auto& entry : std::filesystem::directory_iterator(store->folder() + "/outbox"))
        if (const std::string mail = test::readBytes(entry.path().string());
            mail.find("Not rendered") != std::string::npos)
            failure = mail;
    EXPECT_NE(failure.find("Broken.mid"), std::string::npos) << failure;
    EXPECT_EQ(failure.find(store->folder()), std::string::npos) << failure;
    EXPECT_EQ(failure.find("/midi/"), std::string::npos) << failure;
    EXPECT_NE(failure.find("has been refunded"), std::string::npos) << failure;
    const auto ledger = store->ledger(caller.account);
    std::int64_t sum = 0;
    bool refunded = false;
    for (const auto& entry : ledger) {
        sum += entry.amount;
        refunded = refunded || entry.reason == "refund of the upload of Broken.mid";
    }
    EXPECT_EQ(sum, store->accountById(caller.account)->balance);
    EXPECT_TRUE(refunded);
}

// One note held for so long.
std::string midiLasting(std::uint32_t seconds) {
    using namespace test;
    const int division = 96; // at the default tempo, 192 ticks a second
    return header(0, 1, division) +
           trackChunk(bytes({0x00, 0x90, 60, 100}) + varLen(seconds * 2 * division) +
                      bytes({0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(ServiceRenderTest, StoppingGivesUpTheRenderAndTheJobWaitsAgain) {
    service::FluidRenderer fluid{render::RenderOptions{}};
    stop();
    renderer = &fluid;
    start();
    const std::string user = "dave@example.org";
    const std::string password = account(user);
    ASSERT_EQ(upload(user, password, "Hour.mid", midiLasting(3600), "WAV,352,22050,C,1"), "!VAL 1");
    std::string list;
    for (int i = 0; i < 1000 && list.find("rendering") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        list = command(user, password, "listmidi");
    }
    ASSERT_NE(list.find("\tHour.mid\trendering\t"), std::string::npos) << list;

    // The service stops within seconds, not when the hour is rendered.
    const auto stopping = std::chrono::steady_clock::now();
    stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);

    // Nothing was published, nothing mailed as failed, nothing left in the scratch area; the
    // job waits again, with its fee kept for the render it is still due.
    renderer = nullptr;
    start();
    EXPECT_EQ(command(user, password, "listmidi"),
              "!VAL 1\r\n1\tHour.mid\twaiting\tWAV,352,22050,C,1\r\n");
    EXPECT_EQ(command(user, password, "listaudio"), "!VAL \t0\r\n");
    for (const auto& entry : std::filesystem::directory_iterator(store->folder() + "/outbox"))
        EXPECT_EQ(test::readBytes(entry.path().string()).find("Not rendered"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(store->folder() + "/scratch"));
    EXPECT_TRUE(test::midiBytes(*store, 1));
}

// A disk of three megabytes under the data folder: a tmpfs where the test may mount one (as
// root), else a limit on the size of the files this process writes.
class SmallDisk {
public:
    explicit SmallDisk(std::string folder)
        : folder_(std::move(folder)) {
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=3m") == 0;
        if (mounted_)
            return;
        ::getrlimit(RLIMIT_FSIZE, &before_);
        const rlimit small{3 << 20, before_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
        std::signal(SIGXFSZ, SIG_IGN);
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
        else
            ::setrlimit(RLIMIT_FSIZE, &before_);
    }
    // Whether free space shows the disk's size: only a real small disk does.
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
    rlimit before_{};
};

TEST_F(ServiceRenderTest, AFullScratchDiskKeepsTheUploadAndItsFee) {
    service::FluidRenderer fluid{render::RenderOptions{}};
    stop();
    const SmallDisk disk(folder.file("data"));
    renderer = &fluid;
    config.scratchRoomBytes = 0; // takes a job however little room is left
    start();
    const std::string user = "ida@example.org";
    const std::string password = account(user);
    const std::int64_t id = store->account(user)->id;
    // Thirty seconds of stereo take over ten megabytes of scratch space.
    ASSERT_EQ(upload(user, password, "Long.mid", midiLasting(30), "WAV,1378,44100,C,2"), "!VAL 1");
    const std::int64_t charged = store->accountById(id)->balance;
    const auto failedOnce = [&] {
        const auto records = store->midiRecords(id);
        return records.size() == 1 && records[0].attempts == 1 && records[0].state == "waiting";
    };
    for (int i = 0; i < 3000 && !failedOnce(); ++i)
        std::this_thread::sleep_for(10ms);

    // The job waits to be tried again, fee and all; nobody is told it failed.
    ASSERT_TRUE(failedOnce());
    EXPECT_TRUE(test::midiBytes(*store, store->midiRecords(id)[0].id));
    EXPECT_EQ(mailsWith("Not rendered", false), 0);
    std::int64_t sum = 0;
    for (const auto& entry : store->ledger(id))
        sum += entry.amount;
    EXPECT_EQ(sum, charged);
    if (!disk.mounted())
        return;

    // A worker whose scratch folder has less room than a render may need takes no job.
    stop();
    config.scratchRoomBytes = std::uint64_t{64} << 20;
    start();
    later(3600);
    loopback->wakeQueue();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(failedOnce());
}

} // namespace
} // namespace tonvert
