#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tonvert::render {

// Interleaved float frames kept in a file instead of memory, written once and read back.
// The file is unlinked as soon as it is made: it has no name to leave behind on any path
// out, a failure, a stop or a crash, and its space returns when the object goes away.
class ScratchAudio {
public:
    ScratchAudio() = default;
    ~ScratchAudio();
    ScratchAudio(const ScratchAudio&) = delete;
    ScratchAudio& operator=(const ScratchAudio&) = delete;

    // Makes the file in `folder`; false with `error` saying why.
    bool open(const std::string& folder, int channels, std::string& error);
    bool append(const float* samples, std::size_t frames, std::string& error);
    // Writes out what is still buffered; reading needs it first.
    bool flush(std::string& error);
    bool read(std::size_t first, std::size_t frames, float* out) const;
    std::size_t frames() const { return frames_; }

private:
    int fd_ = -1;
    std::size_t channels_ = 2;
    std::size_t frames_ = 0;
    std::vector<float> buffer_;
};

} // namespace tonvert::render
