#pragma once

#include <string>

namespace tonvert {

// True when every character may stand in a host name: "-", ".", "_", digits and ASCII
// letters. An empty text passes; isDomainName decides whether it is a name at all.
bool isDomainChars(const std::string& text);

// A host name the service accepts: allowed characters only, at least one dot, no empty
// label between two dots and a last label of two or more characters. Bare names such as
// "localhost" and dotted IPv4 addresses are refused.
bool isDomainName(const std::string& host);

// Splits a URL typed by the user. Without "://" the URL is taken as "http://". The scheme is
// returned lower-cased with its "://"; the port is kept with its leading colon, or empty for
// the scheme's default; the path starts at the first "/" or "?" and is empty when there is
// none. An unsupported scheme gives false before any output is touched; a bad port or host
// gives false too.
bool splitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& port,
              std::string& path);

// The number of a port text from splitUrl; 0 (the scheme's default) for an empty text.
int portNumber(const std::string& port);

} // namespace tonvert
