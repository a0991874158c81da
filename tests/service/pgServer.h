#pragma once

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

// Leaves a test that needs PostgreSQL when no server starts: skipped on a developer's machine
// without the package, failed when CI is set, where the PostgreSQL cases must run.
#define TONVERT_WITHOUT_POSTGRES(why)                                                              \
    do {                                                                                           \
        if (std::getenv("CI") != nullptr)                                                          \
            FAIL() << "PostgreSQL is needed under CI: " << (why);                                  \
        GTEST_SKIP() << (why);                                                                     \
    } while (false)

namespace tonvert::test {

// A PostgreSQL server of the test's own, in a temporary folder, on loopback: started on first
// use, stopped when the test program ends, also when it is killed (a watchdog process waits
// for the program's end on a pipe). The server refuses to run as root, so a test run as root
// runs it as `nobody`, in a folder that user owns.
class PgServer {
public:
    // The test program's server; nullptr when the PostgreSQL package is not installed or the
    // server would not start, with the reason in `why`.
    static PgServer* shared(std::string& why);

    // A server of the caller's own, not the shared one; nullptr as for shared.
    static std::unique_ptr<PgServer> startNew(std::string& why);

    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // The connection URL of a new, empty database.
    std::string newDatabase();
    int port() const { return port_; }

private:
    PgServer() = default;
    bool start(std::string& why);
    // The server's data folder in root_, made by initdb or copied from a template made so.
    bool makeData(std::string& why);
    bool initdb(const std::string& folder, std::string& why) const;
    // The folder, for the server's user (nobody, when the test runs as root).
    bool giveToOwner(const std::string& folder, std::string& why) const;
    // Runs a command line as the server's user; its exit status.
    int runAsOwner(const std::string& command) const;
    // The command line that runs `command` as the server's user.
    std::string asOwner(const std::string& command) const;
    std::string stopCommand() const;
    // Stops the server and removes its folder once this program's end closes the pipe.
    void startWatchdog();
    std::string url(const std::string& database) const;

    std::string bin_;  // the server's programs
    std::string root_; // the temporary folder: data, socket, log
    int port_ = 0;
    bool running_ = false;
    int watchdogPipe_ = -1; // the write end; the watchdog reads the other
    int watchdog_ = 0;      // its process
    std::atomic<int> databases_ = 0;
};

} // namespace tonvert::test
