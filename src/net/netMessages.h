#pragma once

#include <array>
#include <string>

namespace tonvert {

// Positions of the network layer's texts in netMessages; the order is fixed because callers
// keep the numbers.
enum class NetMessage : int {
    abort = 0,
    goingOnline,
    noInternetConnection,
    connected,
    hangingUp,
    disconnected,
    invalidProtocol,
    invalidUrl,
    cantOpenSession,
    cantConnectToHost,
    cantOpenUrl,
    cantReadUrl,
    cantWriteUrl,
    cantCloseUrl,
    cantDisconnectFromHost,
    cantCloseSession,
    connectionError,
    connectionAborted,
    invalidLogin,
    retrieving,
    doneRetrieving,
    cantCreateBoundary,
    cantOpenFile,
    cantSeekFile,
    cantCreateTempFile,
    cantWriteFile,
    cantCloseFile,
    outOfMemory,
};

inline constexpr std::size_t kNetMessageCount = 28;

extern const std::array<const char*, kNetMessageCount> netMessages;

inline const char* netMessageText(NetMessage message) {
    return netMessages[static_cast<std::size_t>(message)];
}

// The cause of a failure: "System error N" for an operating-system error, else "Server
// error N" for an HTTP status that was refused (when given), else "Error". A failed stage
// reads as the cause, ": " and the stage's text.
std::string failureCause(long systemError, long serverStatus = 0);

// Percent-encoding for form fields and query values: letters and digits pass, every other
// byte becomes "%XX" in upper-case hexadecimal. A blank is "%20", never "+".
std::string urlEncode(const std::string& text);

} // namespace tonvert
