#include "midiBytes.h"
#include "queue/fluidRenderer.h"
#include "serviceFixture.h"
#include "storeSupport.h"

#include <chrono>

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
    ASSERT_EQ(upload(user, password, "Broken.mid", "MThd, and nothing that plays"), "!VAL 1");
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
}

// One note held for an hour: its render takes far longer than stopping may.
std::string hourLongMidi() {
    using namespace test;
    const int division = 96; // at the default tempo, 192 ticks a second
    return header(0, 1, division) +
           trackChunk(bytes({0x00, 0x90, 60, 100}) + varLen(3600 * 2 * division) +
                      bytes({0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(ServiceRenderTest, StoppingGivesUpTheRenderAndTheJobWaitsAgain) {
    service::FluidRenderer fluid{render::RenderOptions{}};
    stop();
    renderer = &fluid;
    start();
    const std::string user = "dave@example.org";
    const std::string password = account(user);
    ASSERT_EQ(upload(user, password, "Hour.mid", hourLongMidi(), "WAV,352,22050,C,1"), "!VAL 1");
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

} // namespace
} // namespace tonvert
