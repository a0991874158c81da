#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tonvert::service {

// The methods the routes know; a request of any other is refused before it is read.
bool knownMethod(std::string_view method);

// Where the request at the front of a connection's bytes stands.
enum class Head { partial, whole, unknownMethod, malformed, tooLarge };

// The longest request line taken; the library would answer a longer target 414 anyway.
constexpr std::size_t kMaxRequestLine = 16 << 10;

// Scans the bytes read so far for a request's line and headers: the request line is checked
// once whole (the method as soon as it is), the headers are whole at their blank line; a
// request line longer than kMaxRequestLine, or a head longer than `maxBytes`, is too large
// however its bytes arrive. The library reads them alike: a line must end
// in CR LF, and a line of CR LF alone ends the headers. `scanned` carries, from one call to
// the next on the same growing bytes, how far they are known to hold no blank line; 0 for
// bytes not scanned before.
Head scanHead(const std::string& bytes, std::size_t& scanned, std::size_t maxBytes);

} // namespace tonvert::service
