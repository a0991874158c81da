#pragma once

#include <cstddef>
#include <cstdint>
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

// The length of a head scanHead found whole, its blank line included.
std::size_t headLength(const std::string& bytes);

// What a request's head says of its body.
struct BodyFraming {
    enum class Kind {
        length,         // `length` bytes follow the head (none without a Content-Length)
        lengthRequired, // a transfer coding: neither the client nor nginx in front sends one
        malformed,      // a Content-Length that is no number, or two that differ
    };
    Kind kind = Kind::length;
    std::uint64_t length = 0;
    bool expectsContinue = false; // "Expect: 100-continue"
};

// Reads the header lines as the library does: a line that does not end in CR LF is skipped,
// a name is matched whatever its case, a value without the blanks around it.
BodyFraming bodyFraming(std::string_view head);

} // namespace tonvert::service
