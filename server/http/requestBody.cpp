#include "http/requestBody.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tonvert::service {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

ssize_t readAt(int fd, char* out, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

void RequestBody::append(std::string_view bytes) {
    const bool toFile =
        file_ >= 0 || (!memoryOnly_ && memory_.size() + bytes.size() > kInMemory && openScratch());
    if (toFile && writeAll(file_, bytes)) {
        fileSize_ += bytes.size();
        return;
    }
    // A file that takes no more (a full disk, a limit on file sizes): the body stays in memory
    // rather than fail the request, as the library holds a body in memory anyway.
    if (toFile && !takeBack())
        lost_ = true;
    memory_.append(bytes);
}

ssize_t RequestBody::read(std::uint64_t offset, char* out, std::size_t size) const {
    if (lost_)
        return -1;
    if (offset < memory_.size()) {
        const std::size_t count = std::min<std::size_t>(size, memory_.size() - offset);
        std::memcpy(out, memory_.data() + offset, count);
        return static_cast<ssize_t>(count);
    }
    const std::uint64_t inFile = offset - memory_.size();
    if (inFile >= fileSize_)
        return 0;
    const ssize_t got =
        readAt(file_, out,
               static_cast<std::size_t>(std::min<std::uint64_t>(size, fileSize_ - inFile)), inFile);
    return got > 0 ? got : -1;
}

void RequestBody::clear() {
    if (file_ >= 0)
        ::close(file_);
    file_ = -1;
    fileSize_ = 0;
    std::string().swap(memory_);
    memoryOnly_ = false;
    lost_ = false;
}

bool RequestBody::openScratch() {
    std::error_code ignored;
    std::string path =
        (folder_.empty() ? std::filesystem::temp_directory_path(ignored).string() : folder_) +
        "/body-XXXXXX";
    file_ = ::mkostemp(path.data(), O_CLOEXEC);
    // Nameless from the start: nothing is left behind, whatever ends the process.
    if (file_ >= 0)
        ::unlink(path.c_str());
    memoryOnly_ = file_ < 0;
    return file_ >= 0;
}

// Reads what the scratch file holds back into memory and closes it.
bool RequestBody::takeBack() {
    const std::size_t had = memory_.size();
    memory_.resize(had + static_cast<std::size_t>(fileSize_));
    std::uint64_t done = 0;
    while (done < fileSize_) {
        const ssize_t got = readAt(file_, memory_.data() + had + done,
                                   static_cast<std::size_t>(fileSize_ - done), done);
        if (got <= 0)
            break;
        done += static_cast<std::uint64_t>(got);
    }
    ::close(file_);
    file_ = -1;
    fileSize_ = 0;
    memoryOnly_ = true;
    return done == memory_.size() - had;
}

} // namespace tonvert::service
