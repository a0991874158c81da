#include "pgServer.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rawConnection.h"
#include "store/pgDatabase.h"

namespace tonvert::test {

namespace {

// The newest installed server's programs, or "" when there are none.
std::string serverPrograms() {
    std::string found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error))
        if (std::filesystem::exists(entry.path() / "bin/initdb") &&
            std::filesystem::exists(entry.path() / "bin/pg_ctl") &&
            (found.empty() || entry.path().string() > found))
            found = entry.path().string();
    return found.empty() ? "" : found + "/bin";
}

} // namespace

PgServer* PgServer::shared(std::string& why) {
    static std::mutex mutex;
    static std::unique_ptr<PgServer> server;
    static std::string failure;
    static bool tried = false;
    std::lock_guard lock(mutex);
    if (!tried) {
        tried = true;
        auto made = std::unique_ptr<PgServer>(new PgServer());
        if (made->start(failure))
            server = std::move(made);
    }
    why = failure;
    return server.get();
}

std::unique_ptr<PgServer> PgServer::startNew(std::string& why) {
    auto made = std::unique_ptr<PgServer>(new PgServer());
    if (!made->start(why))
        return nullptr;
    return made;
}

std::string PgServer::asOwner(const std::string& command) const {
    if (::geteuid() != 0)
        return command;
    return "setpriv --reuid=nobody --regid=nogroup --clear-groups -- sh -c '" + command + "'";
}

int PgServer::runAsOwner(const std::string& command) const {
    return std::system(asOwner(command).c_str());
}

std::string PgServer::stopCommand() const {
    return bin_ + "/pg_ctl -D " + root_ + "/data -m immediate -w stop > /dev/null 2>&1";
}

void PgServer::startWatchdog() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    // Made before the fork: the child of a program with threads only calls what is safe.
    const std::string script =
        "exec > /dev/null 2>&1; cat; " + asOwner(stopCommand()) + "; rm -rf " + root_;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[0], 0); // the copy stays open across exec
        ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[0]);
    if (pid < 0) {
        ::close(ends[1]);
        return;
    }
    watchdog_ = pid;
    watchdogPipe_ = ends[1];
}

bool PgServer::start(std::string& why) {
    bin_ = serverPrograms();
    if (bin_.empty()) {
        why = "PostgreSQL is not installed (Debian package postgresql)";
        return false;
    }
    char pattern[] = "/tmp/tonvert-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        why = "cannot make a temporary folder";
        return false;
    }
    root_ = pattern;
    if (!giveToOwner(root_, why))
        return false;
    if (!makeData(why))
        return false;
    startWatchdog();
    // Durability is not what the tests check: no fsync keeps them quick.
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        port_ = freePort();
        running_ = runAsOwner(bin_ + "/pg_ctl -D " + root_ + "/data -l " + root_ +
                              "/server.log -w -t 30 -o \"-c listen_addresses=127.0.0.1 -p " +
                              std::to_string(port_) + " -k " + root_ +
                              " -c fsync=off -c synchronous_commit=off -c full_page_writes=off" +
                              " -c max_connections=300\" start > /dev/null 2>&1") == 0;
    }
    if (!running_)
        why = "the server did not start; see " + root_ + "/server.log";
    return running_;
}

bool PgServer::initdb(const std::string& folder, std::string& why) const {
    if (runAsOwner(bin_ + "/initdb -D " + folder + "/data -U tonvert -A trust -E UTF8 " +
                   "--locale=C --no-sync > " + folder + "/initdb.log 2>&1") == 0)
        return true;
    why = "initdb failed; see " + folder + "/initdb.log";
    return false;
}

bool PgServer::makeData(std::string& why) {
#ifdef TONVERT_PG_TEMPLATE
    // initdb takes seconds: it runs once into a template beside the build, which each test
    // program copies. The template appears whole or not at all (a rename of its folder).
    const std::string templateFolder =
        std::string(TONVERT_PG_TEMPLATE) + "-" +
        std::filesystem::path(bin_).parent_path().filename().string();
    if (!std::filesystem::exists(templateFolder + "/data/PG_VERSION")) {
        std::string made = templateFolder + ".XXXXXX";
        if (::mkdtemp(made.data()) == nullptr) {
            why = "cannot make a folder for the template";
            return false;
        }
        if (!giveToOwner(made, why) || !initdb(made, why))
            return false;
        std::error_code lost;
        std::filesystem::rename(made, templateFolder, lost);
        if (lost) // another test program made it first
            std::filesystem::remove_all(made, lost);
    }
    if (std::system(("cp -a " + templateFolder + "/data " + root_ + "/data").c_str()) == 0)
        return true;
    why = "cannot copy the template " + templateFolder;
    return false;
#else
    return initdb(root_, why);
#endif
}

bool PgServer::giveToOwner(const std::string& folder, std::string& why) const {
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all |
                                             std::filesystem::perms::group_exec |
                                             std::filesystem::perms::others_exec);
    if (::geteuid() != 0)
        return true;
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody != nullptr && ::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) == 0)
        return true;
    why = "cannot give " + folder + " to the user nobody";
    return false;
}

PgServer::~PgServer() {
    // A start that timed out may still have left a server running.
    if (running_ || (!root_.empty() && std::filesystem::exists(root_ + "/data/postmaster.pid")))
        runAsOwner(stopCommand());
    std::error_code ignored;
    if (!root_.empty())
        std::filesystem::remove_all(root_, ignored);
    if (watchdogPipe_ >= 0) {
        ::close(watchdogPipe_);
        ::waitpid(watchdog_, nullptr, 0);
    }
}

std::string PgServer::url(const std::string& database) const {
    return "postgresql://tonvert@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PgServer::newDatabase() {
    const std::string name = "test" + std::to_string(++databases_);
    service::PgConnection admin(url("postgres"));
    // A locale that folds more than ASCII, as a production database's often does, where the
    // system has one; the cluster itself is made with the C locale.
    try {
        admin.execute("CREATE DATABASE " + name +
                      " TEMPLATE template0 LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8'");
    } catch (const service::SqlError&) {
        admin.execute("CREATE DATABASE " + name);
    }
    return url(name);
}

} // namespace tonvert::test
