#include "processStart.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tonvert {

// Two forks: the middle child exits at once so the program it starts belongs to init. The
// exec error comes back through a pipe that closes on a successful exec.
int startDetachedProgram(const std::string& file, const std::vector<std::string>& arguments) {
    std::vector<std::string> texts{file};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    const pid_t middle = fork();
    if (middle < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return error;
    }
    if (middle == 0) {
        close(fds[0]);
        const pid_t viewer = fork();
        if (viewer == 0) {
            setsid();
            execv(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] auto written = write(fds[1], &error, sizeof error);
            _exit(127);
        }
        if (viewer < 0) {
            const int error = errno;
            [[maybe_unused]] auto written = write(fds[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(fds[1]);
    int error = 0;
    ssize_t got;
    do {
        got = read(fds[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof error))
        error = 0;
    close(fds[0]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return error;
}

} // namespace tonvert
