#include "http/requestHead.h"

#include <algorithm>

namespace tonvert::service {

bool knownMethod(std::string_view method) {
    for (const std::string_view known :
         {"GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "PATCH"})
        if (method == known)
            return true;
    return false;
}

Head scanHead(const std::string& bytes, std::size_t& scanned, std::size_t maxBytes) {
    // Every limit is held against where a thing lies in the bytes, not against how many bytes
    // came so far: a head that comes in one piece is judged as one that trickles in.
    const std::size_t lineLimit = std::min(maxBytes, kMaxRequestLine);
    const auto lineEnd = bytes.find('\n');
    const auto space = bytes.find(' ');
    if (space != std::string::npos && space < lineEnd && space <= lineLimit &&
        !knownMethod(std::string_view(bytes).substr(0, space)))
        return Head::unknownMethod;
    if (lineEnd == std::string::npos || lineEnd >= lineLimit)
        return bytes.size() > lineLimit ? Head::tooLarge : Head::partial;
    const std::string_view line(bytes.data(), lineEnd + 1);
    const auto last = line.rfind(' ');
    if (space == std::string::npos || space > lineEnd || last == space || lineEnd == 0 ||
        bytes[lineEnd - 1] != '\r')
        return Head::malformed;
    const auto version = line.substr(last + 1, line.size() - last - 3);
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return Head::malformed;
    // A line feed followed by CR LF: the request line's or a header's end, then the blank line.
    const auto from = std::max(lineEnd, scanned);
    const auto blank = bytes.find("\n\r\n", from);
    if (blank != std::string::npos)
        return blank + 3 > maxBytes ? Head::tooLarge : Head::whole;
    scanned = std::max(lineEnd, bytes.size() - std::min<std::size_t>(bytes.size(), 2));
    return bytes.size() > maxBytes ? Head::tooLarge : Head::partial;
}

} // namespace tonvert::service
