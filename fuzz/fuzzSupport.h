#pragma once

// What the fuzz targets share: stopping on a broken invariant so that libFuzzer keeps the
// input, and a scratch file for readers that take a path.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace tonvert::fuzz {

// Stops the run with a note on which invariant broke; libFuzzer saves the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz target: invariant broken: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

inline void check(bool condition, const char* what) {
    if (!condition)
        fail(what);
}

// The client saves files under list entries' names: no folder separator of either kind, no
// zero byte, no other control character. Spelt out here rather than asked of the readers'
// own test, which is what is under test.
inline bool isSafeName(std::string_view name) {
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 32 || byte == 127)
            return false;
    }
    return !name.empty();
}

[[noreturn]] inline void systemFailure(const char* what) {
    std::perror(what);
    std::abort();
}

// A file created once per process with a unique name, and removed at exit. In /dev/shm
// where it can be, so that each input costs no disk work.
class ScratchFile {
public:
    explicit ScratchFile(const char* prefix) {
        const char* dir = std::getenv("TMPDIR");
        if (dir == nullptr || *dir == '\0')
            dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path_ = std::string(dir) + "/" + prefix + "-XXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0)
            systemFailure("mkstemp");
        ::close(fd);
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's content with the given bytes; makes the file again if it is gone.
    void write(const std::uint8_t* data, std::size_t size) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            systemFailure("open");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                systemFailure("write");
            done += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0)
            systemFailure("close");
    }

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace tonvert::fuzz
