#include "proxyBypass.h"

#include "asciiText.h"

namespace tonvert {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Case-insensitive match of the whole text against a pattern in which "*" stands for any
// run of characters, the empty run included.
bool matchesWildcard(const std::string& pattern, const std::string& text) {
    // Greedy scan that remembers only the last "*": on a mismatch the star takes one more
    // character and matching resumes after it. Earlier stars never need revisiting, so the
    // work stays within pattern length times text length however many stars there are.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::string::npos;
    std::size_t resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && ascii::toLower(pattern[p]) == ascii::toLower(text[t])) {
            ++p;
            ++t;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool entryMatches(const std::string& entry, const std::string& host) {
    const std::string lowered = ascii::toLower(entry);
    if (lowered == "<local>")
        return host.find('.') == std::string::npos;
    const std::string hostPart = entry.substr(0, entry.find(':'));
    // An entry that was nothing but a port names no host.
    return !hostPart.empty() && matchesWildcard(hostPart, host);
}

} // namespace

bool bypassesProxy(const std::string& bypassList, const std::string& host) {
    std::size_t start = 0;
    while (start <= bypassList.size()) {
        std::size_t end = bypassList.find_first_of(",;", start);
        if (end == std::string::npos)
            end = bypassList.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && isBlank(bypassList[first]))
            ++first;
        while (last > first && isBlank(bypassList[last - 1]))
            --last;
        if (last > first && entryMatches(bypassList.substr(first, last - first), host))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace tonvert
