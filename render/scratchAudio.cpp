#include "scratchAudio.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tonvert::render {

namespace {

// Writes go out in pieces of this many samples: few system calls, little memory.
constexpr std::size_t kBufferSamples = 64 * 1024;

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

ScratchAudio::~ScratchAudio() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ScratchAudio::open(const std::string& folder, int channels, std::string& error) {
    std::string name = (folder.empty() ? std::string(".") : folder) + "/.tonvert-render-XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) {
        error = "cannot make a scratch file in " + folder + ": " + std::strerror(errno);
        return false;
    }
    ::unlink(name.c_str());
    channels_ = static_cast<std::size_t>(channels);
    buffer_.reserve(kBufferSamples);
    return true;
}

bool ScratchAudio::append(const float* samples, std::size_t frames, std::string& error) {
    const std::size_t count = frames * channels_;
    if (buffer_.size() + count > kBufferSamples && !flush(error))
        return false;
    if (count > kBufferSamples) {
        if (!writeAll(fd_, reinterpret_cast<const char*>(samples), count * sizeof(float))) {
            error = std::string("cannot write the scratch file: ") + std::strerror(errno);
            return false;
        }
    } else {
        buffer_.insert(buffer_.end(), samples, samples + count);
    }
    frames_ += frames;
    return true;
}

bool ScratchAudio::flush(std::string& error) {
    if (!buffer_.empty() && !writeAll(fd_, reinterpret_cast<const char*>(buffer_.data()),
                                      buffer_.size() * sizeof(float))) {
        error = std::string("cannot write the scratch file: ") + std::strerror(errno);
        return false;
    }
    buffer_.clear();
    return true;
}

bool ScratchAudio::read(std::size_t first, std::size_t frames, float* out) const {
    auto* at = reinterpret_cast<char*>(out);
    std::size_t size = frames * channels_ * sizeof(float);
    auto offset = static_cast<off_t>(first * channels_ * sizeof(float));
    while (size > 0) {
        const ssize_t got = ::pread(fd_, at, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

} // namespace tonvert::render
