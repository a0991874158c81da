// The Setup menu's commands: signing up, confirming the account, a new password, the
// network settings and the local folders.

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "accountTexts.h"
#include "busyCursor.h"
#include "confirmUnit.h"
#include "credentials.h"
#include "dirsUnit.h"
#include "enterPwdUnit.h"
#include "internetSetupUnit.h"
#include "localPane.h"
#include "mainUnit.h"
#include "menuItemPath.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "prompts.h"
#include "serviceCalls.h"
#include "serviceRequests.h"
#include "shell.h"
#include "signupUnit.h"
#include "textCodec.h"

namespace tonvert {

void TmainForm::placeSetupDialog(QWidget& dialog) const {
    const QRect frame = frameGeometry();
    const QWidget* client = centralWidget();
    dialog.move(frame.x() + (frame.width() - client->width()),
                frame.y() + (frame.height() - client->height()));
}

void TmainForm::menuSetupClick() {
    // While a request waits nothing may start another, nor the network test beside it.
    const bool free = !state.requestWaiting();
    menuItem("menuSetupSignup")->setEnabled(free);
    menuItem("menuSetupConfirm")->setEnabled(free && !state.userID.empty());
    menuItem("menuSetupRequestPassword")->setEnabled(free && state.hasCredentials());
    menuItem("menuSetupEnterPassword")->setEnabled(free && state.hasCredentials());
    menuItem("menuSetupNetwork")->setEnabled(free);
}

void TmainForm::menuSetupSignupClick() {
    TsignupForm signup(this);
    placeSetupDialog(signup);
    signup.emailEdit().setText(toQString(state.userID));
    signup.onSubmit = [this](const std::string& address) { return OnSignup(address); };
    signup.exec();
    if (signup.submitted)
        menuSetupConfirmClick();
}

bool TmainForm::OnSignup(const std::string& address) {
    if (state.requestWaiting())
        return false;
    BusyCursor busy;
    // The address is kept even when the service refuses it: the user need not type it again.
    state.userID = address;
    writeCredentials();
    if (!requestService(state, seams_, signupRequestUrl(state.service.host, state.userID)))
        return false;
    seams_.prompts.show(
        PromptKind::information, "",
        signedUpText(state.userID, toBytes(menuItemPath(menuItem("menuSetupConfirm")))),
        PromptButtons::ok);
    return true;
}

void TmainForm::menuSetupConfirmClick() {
    TconfirmForm confirm(this);
    placeSetupDialog(confirm);
    confirm.passwordEdit().setText(toQString(state.password));
    confirm.onSubmit = [this](const std::string& password) { return OnConfirm(password); };
    confirm.submitBitBtn().setText(toQString(confirmButtonCaption(state.userID)));
    confirm.exec();
}

bool TmainForm::OnConfirm(const std::string& password) {
    if (state.requestWaiting())
        return false;
    BusyCursor busy;
    state.password = password;
    writeCredentials();
    if (!requestService(
            state, seams_,
            serviceRequestUrl(state.service.host, state.userID, state.password, kConfirmCommand)))
        return false;
    updateLocalMidiButtons();
    updateOnlineMidiButtons();
    updateOnlineAudioButtons();
    seams_.prompts.show(PromptKind::information, "", kAccountReadyText, PromptButtons::ok);
    return true;
}

void TmainForm::menuSetupRequestPasswordClick() {
    if (seams_.prompts.show(PromptKind::confirmation, "", requestPasswordQuestion(state.userID),
                            PromptButtons::yesNo) != PromptAnswer::yes)
        return;
    BusyCursor busy;
    if (!requestService(state, seams_,
                        serviceRequestUrl(state.service.host, state.userID, state.password,
                                          kGetNewPasswordCommand)))
        return;
    seams_.prompts.show(
        PromptKind::information, "",
        newPasswordMailedText(state.userID,
                              toBytes(menuItemPath(menuItem("menuSetupEnterPassword")))),
        PromptButtons::ok);
    menuSetupEnterPasswordClick();
}

void TmainForm::menuSetupEnterPasswordClick() {
    TenterPwdForm enter(this);
    placeSetupDialog(enter);
    enter.exec();
    if (!enter.saved)
        return;
    state.password = enter.trimmedText();
    writeCredentials();
    // The panes' buttons follow the credentials.
    updateServiceCommands();
}

void TmainForm::menuSetupNetworkClick() {
    TinternetSetupForm setup(this, seams_);
    placeSetupDialog(setup);
    connect(&setup, &TinternetSetupForm::helpRequested, this, &TmainForm::showHelp);
    if (!setup.execute(*state.net, state.testURL, kNetworkHelpContext))
        return;
    TPortableIniFile ini(paths_.settingsFile);
    writeConnectSettings(ini);
}

void TmainForm::menuSetupMidiFolderClick() {
    chooseFolder("Select local MIDI folder", state.midiFolder,
                 [this] { fillLocalMidiList(false); });
}

void TmainForm::menuSetupAudioFolderClick() {
    chooseFolder("Select local audio folder", state.audioFolder,
                 [this] { fillLocalAudioList(false); });
}

void TmainForm::chooseFolder(const char* title, std::string& folder,
                             const std::function<void()>& refill) {
    // The picker starts in the folder the pane shows.
    std::string chosen = folder;
    if (!seams_.shell.pickFolder(title, chosen))
        return;
    if (!fitsSettingsFile(chosen)) {
        seams_.prompts.show(PromptKind::error, "",
                            "The folder\n\n" + chosen +
                                "\n\nhas a line break or a control character in its name, "
                                "which the settings file cannot keep. Please choose or rename "
                                "another folder.",
                            PromptButtons::ok);
        return;
    }
    chosen = addTrailingBackslash(chosen);
    if (chosen == folder)
        return;
    folder = chosen;
    refill();
}

} // namespace tonvert
