#pragma once

#include <functional>
#include <string>
#include <vector>

#include "curlSession.h"
#include "netWorker.h"

namespace tonvert {

// One upload on a thread of its own: a local file and form fields sent to an HTTP URL as a
// multipart/form-data POST, streamed with its length announced up front; the server's answer
// is kept as the reply, up to kMaxReplyInMemory. A file or field name holding a double quote
// or a line break is refused before anything is sent.
class TINetUpThread : public NetWorker {
public:
    struct Request {
        std::string url;
        std::string filePath;
        std::string filePartName;        // the file part's form-field name
        std::string uploadName;          // the file name the part announces
        std::vector<std::string> fields; // "name=value" lines, sent in this order
        bool detailed = false;
    };
    // Gives boundary candidates; the default draws random ones.
    using BoundarySource = std::function<std::string()>;

    TINetUpThread(const SessionSettings& settings, const Request& request,
                  BoundarySource boundaries = {});
};

// Whether a name can stand in a part's head: a double quote would end its quotes early, a
// line break the head itself. Such names are legal for files here.
bool fitsPartHead(const std::string& name);

inline constexpr std::size_t kBoundaryLength = 40;
inline constexpr int kBoundaryCandidates = 10;

// 40 characters, each an upper-case letter, a lower-case letter or a digit with equal chance.
std::string randomBoundary();

enum class FileScan { absent, found, failed };

// Whether the file's bytes, from its current position, hold `text`. The file is mapped into
// memory when it allows (the scan then costs no copy: it was half the time of an upload),
// else read `readSize` bytes at a time, each read keeping the last bytes of the one before
// so that a text across two reads is found too.
FileScan scanFileFor(int fd, const std::string& text, std::size_t readSize, bool mayMap = true);

} // namespace tonvert
