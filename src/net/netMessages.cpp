#include "netMessages.h"

#include "asciiText.h"

namespace tonvert {

const std::array<const char*, kNetMessageCount> netMessages = {
    "Abort",
    "Going online...",
    "Can't establish Internet connection!",
    "Connected",
    "Hanging up...",
    "Disconnected",
    "Ivalid protocol",
    "Invalid URL",
    "Can't open Internet session!",
    "Can't connect to host",
    "Can't open URL",
    "Can't read from URL",
    "Can't write to URL",
    "Can't close URL",
    "Can't disconnect from host",
    "Can't close Internet session!",
    "Connection error!",
    "Internet connection aborted!",
    "Invalid login!",
    "Retrieving",
    "Done retrieving",
    "Can't create unique multipart boundary!",
    "Can't open file",
    "Can't seek file",
    "Can't create temporary file",
    "Can't write file",
    "Can't close file",
    "Out of memory!",
};

static_assert(static_cast<std::size_t>(NetMessage::outOfMemory) + 1 == kNetMessageCount);

std::string failureCause(long systemError, long serverStatus) {
    if (systemError != 0)
        return "System error " + std::to_string(systemError);
    if (serverStatus != 0)
        return "Server error " + std::to_string(serverStatus);
    return "Error";
}

std::string urlEncode(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (ascii::isLetterOrDigit(c)) {
            result += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        result += '%';
        result += ascii::hexDigit(byte >> 4);
        result += ascii::hexDigit(byte);
    }
    return result;
}

} // namespace tonvert
