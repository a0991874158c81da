// The service binary under a limit on the size of the files it writes: a write beyond it is
// an error the request answers, not a signal that ends the service.

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "loopbackService.h"
#include "midiBytes.h"
#include "netUnit.h"
#include "rawConnection.h"
#include "serviceRequests.h"
#include "testFiles.h"

namespace tonvert {
namespace {

using namespace std::chrono_literals;

// tonvert-service in a child process whose written files may not exceed `maxFileBytes`.
pid_t startLimited(const std::string& dataFolder, int port, rlim_t maxFileBytes) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{maxFileBytes, maxFileBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        ::execl(TONVERT_SERVICE_BINARY, TONVERT_SERVICE_BINARY, "--listen", listen.c_str(),
                "--data", dataFolder.c_str(), "--workers", "1", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

TEST(FileSizeLimit, AWriteBeyondTheLimitIsAnErrorReplyAndTheServiceGoesOn) {
    test::TempFolder folder;
    const int port = test::freePort();
    const std::string data = folder.file("data");
    const pid_t service = startLimited(data, port, 1 << 20);
    ASSERT_GT(service, 0);
    for (int i = 0; i < 500 && !test::RawConnection(port).connected(); ++i)
        std::this_thread::sleep_for(10ms);
    const std::string host = "service.localhost:" + std::to_string(port);
    const std::string user = "fay@example.org";
    const std::string password = test::makeAccountOn(host, data + "/outbox", user);
    ASSERT_FALSE(password.empty());

    // Two megabytes are under the largest upload the service takes, over what it may write.
    const std::string path = folder.file("big.mid");
    test::writeBytes(path, test::taggedMidi(std::string(2 << 20, '\0')));
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    const TransferResult upload =
        net.upload({serviceScriptUrl(host),
                    path,
                    "BIN",
                    "Big.mid",
                    uploadFormFields(user, password, "MP3,128,44100,C,2", "Big.mid"),
                    {}});
    EXPECT_EQ(upload.reply, "!ERR 1005");

    // The service still answers, kept nothing of the upload and charged nothing for it.
    const std::string list =
        net.download({serviceRequestUrl(host, user, password, "listmidi"), "", {}}).reply;
    EXPECT_EQ(list, "!VAL 0\r\n");
    EXPECT_EQ(net.download({serviceRequestUrl(host, user, password, "viewfunds"), "", {}}).reply,
              "!VAL 5.00");
    EXPECT_TRUE(std::filesystem::is_empty(data + "/scratch"));

    ::kill(service, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(service, &status, 0), service);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
}

} // namespace
} // namespace tonvert
