#include "urlsUnit.h"

#include "asciiText.h"

namespace tonvert {

namespace {

constexpr long kMaxPort = 65535;

// The digits as a port value, or -1 when they are empty, hold anything else or exceed the
// largest port. Stops early so a long run of digits cannot overflow.
long parsePortDigits(const std::string& digits) {
    if (digits.empty())
        return -1;
    long value = 0;
    for (const char c : digits) {
        if (!ascii::isDigit(c))
            return -1;
        value = value * 10 + (c - '0');
        if (value > kMaxPort)
            return -1;
    }
    return value;
}

} // namespace

bool isDomainChars(const std::string& text) {
    for (const char c : text) {
        const bool allowed = c == '-' || c == '.' || c == '_' || ascii::isDigit(c) ||
                             (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!allowed)
            return false;
    }
    return true;
}

bool isDomainName(const std::string& host) {
    if (!isDomainChars(host))
        return false;
    const std::size_t lastDot = host.rfind('.');
    if (lastDot == std::string::npos || host.find("..") != std::string::npos)
        return false;
    return host.size() - lastDot - 1 >= 2;
}

bool splitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& port,
              std::string& path) {
    static const std::string kSchemeMark = "://";
    std::string rest;
    const std::size_t mark = url.find(kSchemeMark);
    if (mark == std::string::npos) {
        scheme = "http://";
        rest = url;
    } else {
        std::string given = url.substr(0, mark + kSchemeMark.size());
        for (char& c : given)
            c = ascii::toLower(c);
        // Refused before anything is written, so the caller's fields keep what they held.
        if (given != "http://" && given != "ftp://")
            return false;
        scheme = given;
        rest = url.substr(mark + kSchemeMark.size());
    }

    // A query may follow the host directly ("host?x=1"), so "?" opens the path as well.
    const std::size_t pathStart = rest.find_first_of("/?");
    if (pathStart == std::string::npos) {
        path.clear();
    } else {
        path = rest.substr(pathStart);
        rest.erase(pathStart);
    }

    const std::size_t colon = rest.find(':');
    if (colon == std::string::npos) {
        port.clear();
    } else {
        const std::string digits = rest.substr(colon + 1);
        if (parsePortDigits(digits) < 0)
            return false;
        port = ":" + digits;
        rest.erase(colon);
    }

    host = rest;
    return isDomainName(host);
}

int portNumber(const std::string& port) {
    const std::size_t start = (!port.empty() && port.front() == ':') ? 1 : 0;
    const long value = parsePortDigits(port.substr(start));
    return value < 0 ? 0 : static_cast<int>(value);
}

} // namespace tonvert
