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

// How a transfer presents itself and ends; the service's requests all use the defaults.
struct TransferOptions {
    std::string agent = "Tonvert";
    std::string userName; // for servers that ask for a login
    std::string password;
    int bufferSize = 2048;
    bool hangUp = false;   // go off line afterwards when the connection was dialled here
    bool detailed = false; // name the URL, host or file in the messages
};

// A GET (or FTP) download, into memory or, with `targetFile`, into that file, which the
// worker deletes and creates anew.
struct DownloadRequest {
    std::string url;
    std::string targetFile;
    TransferOptions options;
};

// A multipart POST of one file after "name=value" form fields, sent in their order.
struct UploadRequest {
    std::string url;
    std::string filePath;
    std::string filePartName; // the file part's form-field name
    std::string uploadName;   // the file name the part announces
    std::vector<std::string> fields;
    TransferOptions options;
};

// How a transfer ended: on success `reply` holds what the server sent (nothing for a
// download into a file); on failure `message` holds the error text for the user (on success,
// the last status).
struct TransferResult {
    bool ok = false;
    std::string reply;
    std::string message;
};

// The owner side of every transfer: the connection settings, the connection state, a status
// text and a progress fraction for whoever owns it, and one transfer at a time. `download`
// and `upload` run a worker thread and keep the owner's messages flowing until it is done, the user
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
    // Milliseconds that connecting may take and sending may stall; 0: kDefaultTimeout. A
    // reply may keep silent for kReplySilence, or the time-out when that is longer.
    std::int32_t timeout = 0;
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

    TransferResult download(const DownloadRequest& request);
    TransferResult upload(const UploadRequest& request);

private:
    SessionSettings settings(const TransferOptions& options) const;
    TransferResult run(const std::function<std::unique_ptr<NetWorker>()>& makeWorker,
                       bool progressAlways, bool hangUp);

    ConnectionState* connection_;
    MessagePump* pump_;
};

} // namespace tonvert
