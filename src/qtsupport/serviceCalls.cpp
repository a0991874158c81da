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

ServiceAnswer askService(MainState& state, const std::string& url) {
    TransferResult result = [&] {
        const WaitingRequest waiting(state);
        return state.net->download({url, "", {}});
    }();
    ServiceAnswer answer;
    if (applicationTerminating)
        return answer;
    if (!result.ok) {
        answer.kind = ServiceAnswer::Kind::transportFailed;
        answer.message = std::move(result.message);
    } else if (parseServerError(result.reply, state.service.supportEmail, answer.message,
                                answer.address)) {
        answer.kind = ServiceAnswer::Kind::refused;
    } else {
        answer.kind = ServiceAnswer::Kind::reply;
        answer.reply = std::move(result.reply);
    }
    return answer;
}

std::optional<std::string> requestService(MainState& state, const Seams& seams,
                                          const std::string& url) {
    ServiceAnswer answer = askService(state, url);
    switch (answer.kind) {
    case ServiceAnswer::Kind::reply:
        return std::move(answer.reply);
    case ServiceAnswer::Kind::transportFailed:
        showTransferError(seams, answer.message);
        break;
    case ServiceAnswer::Kind::refused:
        showServiceError(seams, answer.message, answer.address);
        break;
    case ServiceAnswer::Kind::closing:
        break;
    }
    return std::nullopt;
}

} // namespace tonvert
