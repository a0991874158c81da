// The Funds and Help menus' commands: the balance, the fees, the pages of the service's web
// site, the manual and the about box.

#include <QAction>

#include "busyCursor.h"
#include "helpRequests.h"
#include "localeTexts.h"
#include "mainUnit.h"
#include "openers.h"
#include "prompts.h"
#include "replyReaders.h"
#include "serviceCalls.h"
#include "serviceRequests.h"

namespace tonvert {

void TmainForm::menuFundsClick() {
    const bool account = state.hasCredentials();
    const bool free = !state.requestWaiting();
    menuItem("menuFundsAdd")->setEnabled(account);
    menuItem("menuFundsView")->setEnabled(account && free);
    menuItem("menuFundsFees")->setEnabled(account && free);
}

void TmainForm::menuFundsAddClick() {
    openUrlOrSay(seams_.prompts, seams_.shell, serviceWebUrl(state.service.host, "addfunds.html"));
}

void TmainForm::menuHelpWebClick() {
    openUrlOrSay(seams_.prompts, seams_.shell, serviceWebUrl(state.service.host, ""));
}

void TmainForm::showServiceNumbers(const char* command,
                                   bool (*read)(const std::string&, const std::string&,
                                                std::string&)) {
    BusyCursor busy;
    const std::optional<std::string> reply = requestService(
        state, seams_,
        serviceRequestUrl(state.service.host, state.userID, state.password, command));
    if (!reply)
        return;
    std::string message;
    const bool readable = read(*reply, userDecimalSeparator(), message);
    seams_.prompts.show(readable ? PromptKind::information : PromptKind::error, "", message,
                        PromptButtons::ok);
}

void TmainForm::menuFundsViewClick() {
    showServiceNumbers(kViewFundsCommand, fundsMessage);
}

void TmainForm::menuFundsFeesClick() {
    showServiceNumbers(kViewPricesCommand, feesMessage);
}

void TmainForm::menuHelpManualClick() {
    showHelp(kHelpContext);
}

// As a window's help request: whatever handles the application's help shows the topic.
void TmainForm::showHelp(int context) {
    requestHelp(tonvert::kHelpContext, context);
}

void TmainForm::menuHelpAboutClick() {
    showAboutDialog(0);
}

} // namespace tonvert
