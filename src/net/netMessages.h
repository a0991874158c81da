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

// Percent-encoding for form fields and query values: letters and digits pass, every other
// byte becomes "%XX" in upper-case hexadecimal. A blank is "%20", never "+".
std::string urlEncode(const std::string& text);

} // namespace tonvert
