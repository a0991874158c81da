#include "http/requestHead.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tonvert::service {

namespace {

bool sameName(std::string_view name, std::string_view known) {
    return std::equal(name.begin(), name.end(), known.begin(), known.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

std::string_view trimmed(std::string_view value) {
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return value.substr(first, value.find_last_not_of(" \t") + 1 - first);
}

} // namespace

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

std::size_t headLength(const std::string& bytes) {
    return bytes.find("\n\r\n", bytes.find('\n')) + 3;
}

BodyFraming bodyFraming(std::string_view head) {
    using Kind = BodyFraming::Kind;
    BodyFraming framing;
    bool lengthSeen = false;
    // The lines after the request line; the blank line ends them.
    for (auto at = head.find('\n') + 1; at < head.size();) {
        const auto end = std::min(head.find('\n', at), head.size());
        const std::string_view line = head.substr(at, end - at);
        at = end + 1;
        if (line == "\r")
            break;
        const auto colon = line.find(':');
        if (line.size() < 2 || line.back() != '\r' || colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1, line.size() - colon - 2));
        if (sameName(name, "Transfer-Encoding"))
            return {Kind::lengthRequired};
        if (sameName(name, "Expect") && value == "100-continue")
            framing.expectsContinue = true;
        if (!sameName(name, "Content-Length"))
            continue;
        std::uint64_t length = 0;
        const char* valueEnd = value.data() + value.size();
        const auto [stop, error] = std::from_chars(value.data(), valueEnd, length);
        if (value.empty() || error != std::errc() || stop != valueEnd ||
            (lengthSeen && length != framing.length))
            return {Kind::malformed};
        framing.length = length;
        lengthSeen = true;
    }
    return framing;
}

} // namespace tonvert::service
