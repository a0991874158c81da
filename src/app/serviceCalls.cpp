#include "serviceCalls.h"

#include "netAbort.h"
#include "netUnit.h"
#include "openers.h"
#include "prompts.h"
#include "serverSupportUnit.h"

namespace tonvert {

WaitingRequest::WaitingRequest(MainState& state)
    : state_(state) {
    if (++state_.requestsWaiting == 1 && state_.requestsChanged)
        state_.requestsChanged();
}

WaitingRequest::~WaitingRequest() {
    if (--state_.requestsWaiting == 0 && state_.requestsChanged)
        state_.requestsChanged();
}

void showServiceError(const Seams& seams, const std::string& text, const std::string& address) {
    if (applicationTerminating)
        return;
    if (address.empty()) {
        seams.prompts.show(PromptKind::error, "", text, PromptButtons::ok);
        return;
    }
    if (seams.prompts.show(PromptKind::error, "", text, PromptButtons::yesNo) == PromptAnswer::yes)
        openUrlOrSay(seams.prompts, seams.shell, address);
}

void showTransferError(const Seams& seams, const std::string& text) {
    // A transfer that the closing of the program ended is nothing to tell.
    if (!applicationTerminating)
        seams.prompts.show(PromptKind::error, "", text, PromptButtons::ok);
}

std::optional<std::string> requestService(MainState& state, const Seams& seams,
                                          const std::string& url) {
    TransferResult result = [&] {
        const WaitingRequest waiting(state);
        return state.net->download({url, "", {}});
    }();
    if (!result.ok) {
        showTransferError(seams, result.message);
        return std::nullopt;
    }
    // A reply that came as the program closes leads nowhere.
    if (applicationTerminating)
        return std::nullopt;
    std::string message, address;
    if (parseServerError(result.reply, state.service.supportEmail, message, address)) {
        showServiceError(seams, message, address);
        return std::nullopt;
    }
    return std::move(result.reply);
}

} // namespace tonvert
