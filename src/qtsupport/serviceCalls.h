#pragma once

#include <optional>
#include <string>

#include "mainState.h"

namespace tonvert {

// Marks a service request as waiting for as long as it lives.
class WaitingRequest {
public:
    explicit WaitingRequest(MainState& state);
    ~WaitingRequest();
    WaitingRequest(const WaitingRequest&) = delete;
    WaitingRequest& operator=(const WaitingRequest&) = delete;

private:
    MainState& state_;
};

// Shows the message of an error reply. When the reply named a web page the user is asked
// whether to go there (Yes opens it in the browser); otherwise the box has only OK.
void showServiceError(const Seams& seams, const std::string& text, const std::string& address);

// Shows why a transfer failed, unless the program is closing.
void showTransferError(const Seams& seams, const std::string& text);

// What a GET request to the service came to, nothing shown yet.
struct ServiceAnswer {
    enum class Kind { reply, transportFailed, refused, closing };
    Kind kind = Kind::closing;
    std::string reply;   // the reply to read, when it is one
    std::string message; // why there is none: the transfer's failure or the service's refusal
    std::string address; // the web page a refusal named, if any
};

// Sends a GET request to the service as a waiting request, and reads an error reply. A reply
// that comes as the program closes leads nowhere.
ServiceAnswer askService(MainState& state, const std::string& url);

// Sends a GET request to the service and handles its reply as every command does: a failed
// transfer or an error reply is shown and gives nothing; any other reply is given to the
// command to read.
std::optional<std::string> requestService(MainState& state, const Seams& seams,
                                          const std::string& url);

} // namespace tonvert
