#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connectionState.h"
#include "messagePump.h"
#include "netAbort.h"
#include "netMessages.h"

namespace tonvert {

class NetWorker;
struct SessionSettings;

// The owner side of every transfer: the connection settings, the connection state, a status
// text and a progress fraction for whoever owns it, and one transfer at a time. `get` and
// `post` run a worker thread and keep the owner's messages flowing until it is done, the user
// aborts or the application closes.
class TNet {
public:
    TNet(ConnectionState& connection, MessagePump& pump);

    bool online = false;
    bool dialled = false; // the connection was brought up here, over a modem
    std::string proxyServer;
    std::string proxyBypass;
    std::string status;
    std::uint16_t proxyPort = 0;
    std::uint16_t attempts = 0;
    std::int32_t timeout = 0; // milliseconds
    std::function<void(TNet& sender)> OnStatus;
    std::function<void(double fraction)> OnProgress;

    // How long a worker may take to stop after an abort before it is left to end by itself.
    std::chrono::milliseconds abortGrace{10000};

    // Copies the settings, the state and both events.
    void assign(const TNet& source);
    void setStatus(const std::string& text);
    void goOnline();
    void goOffline();
    // Asks every running transfer to stop; it does not wait.
    void abort();

    // Downloads `url` into `reply` (empty `targetFile`) or into the file. On failure `reply`
    // holds the error text.
    bool get(const std::string& url, const std::string& userName, const std::string& password,
             const std::string& agent, int bufferSize, bool hangUp, bool detailed,
             std::string& reply, const std::string& targetFile);

    // Sends the file as the part `filePartName` named `uploadName`, after the "name=value"
    // fields, and gives the server's answer in `reply` (or the error text on failure).
    bool post(const std::string& url, const std::string& userName, const std::string& password,
              const std::string& agent, const std::string& filePath,
              const std::string& filePartName, const std::string& uploadName,
              const std::vector<std::string>& fields, int bufferSize, bool hangUp, bool detailed,
              std::string& reply);

private:
    SessionSettings settings(const std::string& userName, const std::string& password,
                             const std::string& agent, int bufferSize) const;
    bool run(const std::function<std::unique_ptr<NetWorker>()>& makeWorker, bool progressAlways,
             bool hangUp, std::string& reply);
    void pumpOnce(std::chrono::milliseconds maxWait);

    ConnectionState* connection_;
    MessagePump* pump_;
};

} // namespace tonvert
