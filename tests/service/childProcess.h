#pragma once

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tonvert::test {

struct ChildProcessOptions {
    bool quietErrors = false; // its standard error goes to /dev/null
};

// A program in a child process that dies with the one that started it, however that ends,
// and is ended (SIGTERM unless told otherwise) and waited for when it is done with.
class ChildProcess {
public:
    using Options = ChildProcessOptions;

    explicit ChildProcess(std::vector<std::string> words, Options options = {}) {
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            if (options.quietErrors) {
                const int quiet = ::open("/dev/null", O_WRONLY);
                ::dup2(quiet, 2);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~ChildProcess() { end(SIGTERM); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void end(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
};

} // namespace tonvert::test
