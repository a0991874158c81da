#include "fluidRenderer.h"
#include "serviceFixture.h"

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

    std::string bytes;
    ASSERT_TRUE(net.get(audioDownloadUrlPrefix(host, user, password) + urlEncode("Scale.wav"), "",
                        "", "Tonvert", 2048, false, false, bytes, ""));
    EXPECT_TRUE(bytes == test::readBytes(store->audioPath(files[0].id)));
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");
}

} // namespace
} // namespace tonvert
