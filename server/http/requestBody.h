#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tonvert::service {

// A request's body as the listener gathers it before a thread takes the request: its first
// bytes in memory, the rest in a scratch file of no name, which goes when the body is cleared
// however the process ends. Many slow clients then hold disk, not memory.
class RequestBody {
public:
    static constexpr std::size_t kInMemory = 64 << 10;

    // Scratch files go into `folder`, the system's temporary folder when it is empty.
    explicit RequestBody(const std::string& folder)
        : folder_(folder) {}
    ~RequestBody() { clear(); }
    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;

    // Keeps the bytes after those kept before.
    void append(std::string_view bytes);
    std::uint64_t size() const { return memory_.size() + fileSize_; }
    // Copies up to `size` bytes from `offset`: the count, 0 at the end, -1 when what was kept
    // is lost.
    ssize_t read(std::uint64_t offset, char* out, std::size_t size) const;
    // Forgets the body: its memory and its scratch file.
    void clear();

private:
    bool openScratch();
    bool takeBack();

    const std::string& folder_;
    std::string memory_;
    int file_ = -1;
    std::uint64_t fileSize_ = 0;
    bool memoryOnly_ = false; // no scratch file could be had, or it took no more
    bool lost_ = false;
};

} // namespace tonvert::service
