// The main window's start-up, stored layout, first activation and close.

#include <QCloseEvent>
#include <QHeaderView>
#include <QSplitter>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "ListViewXPSafe.h"
#include "aboutUnit.h"
#include "connectSettings.h"
#include "credentials.h"
#include "hh_funcs.h"
#include "localPane.h"
#include "mainUnit.h"
#include "netUnit.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "serviceRequests.h"

namespace tonvert {

namespace {

constexpr int kDesignWidth = 561;
constexpr int kDesignHeight = 375;
constexpr int kSplashMilliseconds = 5000;

// Window states as the settings file numbers them.
int windowStateCode(Qt::WindowStates state) {
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & Qt::WindowMaximized)
        return 2;
    return 0;
}

Qt::WindowStates windowStateFromCode(int code) {
    switch (code) {
    case 1:
        return Qt::WindowMinimized;
    case 2:
        return Qt::WindowMaximized;
    default:
        return Qt::WindowNoState;
    }
}

// The settings section and keys of each list's column widths, in the order they are kept.
struct ColumnWidthKeys {
    const char* section;
    const char* listName;
    std::vector<const char*> keys;
};

const std::vector<ColumnWidthKeys>& columnWidthKeys() {
    static const std::vector<ColumnWidthKeys> keys = {
        {"OnlineMidiListView", "onlineMidiListView", {"NameWidth", "TypeWidth"}},
        {"LocalMidiListView",
         "localMidiListView",
         {"NameWidth", "TypeWidth", "PlayTimeWidth", "SizeWidth"}},
        {"OnlineAudioListView", "onlineAudioListView", {"NameWidth", "TypeWidth", "SizeWidth"}},
        {"LocalAudioListView", "localAudioListView", {"NameWidth", "TypeWidth", "SizeWidth"}},
    };
    return keys;
}

// Gives `first` its size along the splitter and the second widget the rest.
void placeSplitter(QSplitter* splitter, int first) {
    const int along =
        splitter->orientation() == Qt::Vertical ? splitter->height() : splitter->width();
    splitter->setSizes({first, std::max(along - splitter->handleWidth() - first, 0)});
}

} // namespace

TmainForm::TmainForm(const std::string& programPath, const Seams& seams, QWidget* parent)
    : QMainWindow(parent)
    , paths_(programPathsFor(programPath))
    , seams_(seams) {
    setObjectName(QStringLiteral("mainForm"));
    setWindowTitle(QStringLiteral("Tonvert"));
    createPanels();
    createMainMenu();
    resize(kDesignWidth, kDesignHeight);
    FormCreate();
}

TmainForm::~TmainForm() {
    FormDestroy();
}

void TmainForm::FormCreate() {
    startupDone_ = false;
    helpSystem = std::make_unique<THookHelpSystem>(paths_.helpFile, "", 0, seams_.prompts);
    // The window shows no connection status of its own; the dialogs that run transfers bind
    // their own handlers.
    state.net = std::make_unique<TNet>(seams_.connection, seams_.pump);
    state.requestsChanged = [this] { updateServiceCommands(); };
    state.programFolder = paths_.programFolder;
    state.midiFolder = paths_.defaultMidiFolder;
    state.audioFolder = paths_.defaultAudioFolder;
    state.tempFolder = paths_.tempFolder;
    state.userID.clear();
    state.password.clear();
    loadMainSettings();
}

void TmainForm::loadMainSettings() {
    TPortableIniFile ini(paths_.settingsFile);

    const int windowCode =
        ini.readInteger("MainWindow", "WindowState", windowStateCode(windowState()));
    // A hand-edited folder without its trailing separator still leads to its files.
    state.midiFolder =
        addTrailingBackslash(ini.readString("Directories", "Midi", paths_.defaultMidiFolder));
    state.audioFolder =
        addTrailingBackslash(ini.readString("Directories", "Audio", paths_.defaultAudioFolder));
    const int left = ini.readInteger("MainWindow", "Left", 0);
    const int top = ini.readInteger("MainWindow", "Top", 0);
    const int width = ini.readInteger("MainWindow", "Width", this->width());
    const int height = ini.readInteger("MainWindow", "Height", this->height());
    // The bounds go in before the state: a maximised window then returns to them when the
    // user restores it.
    move(left, top);
    resize(width, height);
    setWindowState(windowStateFromCode(windowCode));

    PaneSizes sizes = paneSizes();
    sizes.topPanelHeight = ini.readInteger("MainWindow", "TopPanelHeight", sizes.topPanelHeight);
    sizes.onlineMidiPanelWidth =
        ini.readInteger("MainWindow", "OnlineMidiPanelWidth", sizes.onlineMidiPanelWidth);
    sizes.localMidiPanelWidth =
        ini.readInteger("MainWindow", "LocalMidiPanelWidth", sizes.localMidiPanelWidth);
    setPaneSizes(sizes);

    for (const auto& list : columnWidthKeys()) {
        QHeaderView* header =
            findChild<TListViewXPSafe*>(QString::fromLatin1(list.listName))->header();
        for (int column = 0; column < static_cast<int>(list.keys.size()); ++column) {
            const char* key = list.keys[static_cast<std::size_t>(column)];
            header->resizeSection(column,
                                  ini.readInteger(list.section, key, header->sectionSize(column)));
        }
    }

    readCredentials(ini);
    readServiceSettings(ini);
    // From the first request on, transfers keep to the stored time-out and attempts.
    readConnectSettings(ini);
}

void TmainForm::readConnectSettings(const TPortableIniFile& ini) {
    tonvert::readConnectSettings(ini, state.testURL, *state.net,
                                 serviceWebUrl(state.service.host, ""));
}

void TmainForm::writeConnectSettings(TPortableIniFile& ini) {
    tonvert::writeConnectSettings(ini, *state.net);
}

void TmainForm::saveMainSettings() {
    TPortableIniFile ini(paths_.settingsFile);

    ini.writeString("Directories", "Midi", state.midiFolder);
    ini.writeString("Directories", "Audio", state.audioFolder);
    // Written back so that a user finds where the service host is set.
    ini.writeString("Service", "Host", state.service.host);
    ini.writeString("Service", "SupportEmail", state.service.supportEmail);
    const int windowCode = windowStateCode(windowState());
    ini.writeInteger("MainWindow", "WindowState", windowCode);
    // A minimised or maximised window leaves the stored bounds of its normal state alone.
    if (windowCode == 0) {
        ini.writeInteger("MainWindow", "Left", pos().x());
        ini.writeInteger("MainWindow", "Top", pos().y());
        ini.writeInteger("MainWindow", "Width", width());
        ini.writeInteger("MainWindow", "Height", height());
    }
    const PaneSizes sizes = paneSizes();
    ini.writeInteger("MainWindow", "TopPanelHeight", sizes.topPanelHeight);
    ini.writeInteger("MainWindow", "OnlineMidiPanelWidth", sizes.onlineMidiPanelWidth);
    ini.writeInteger("MainWindow", "LocalMidiPanelWidth", sizes.localMidiPanelWidth);

    for (const auto& list : columnWidthKeys()) {
        const QHeaderView* header =
            findChild<TListViewXPSafe*>(QString::fromLatin1(list.listName))->header();
        for (int column = 0; column < static_cast<int>(list.keys.size()); ++column)
            ini.writeInteger(list.section, list.keys[static_cast<std::size_t>(column)],
                             header->sectionSize(column));
    }
}

void TmainForm::readCredentials(const TPortableIniFile& ini) {
    const Credentials stored = tonvert::readCredentials(ini);
    state.userID = stored.userID;
    state.password = stored.password;
}

void TmainForm::writeCredentials() {
    TPortableIniFile ini(paths_.settingsFile);
    tonvert::writeCredentials(ini, {state.userID, state.password});
}

void TmainForm::readServiceSettings(const TPortableIniFile& ini) {
    const ServiceSettings defaults;
    state.service.host = ini.readString("Service", "Host", defaults.host);
    state.service.supportEmail = ini.readString("Service", "SupportEmail", defaults.supportEmail);
}

// Until the window is first shown its splitters have no size of their own, so the pane
// sizes wait until then.
TmainForm::PaneSizes TmainForm::paneSizes() const {
    if (!firstShowDone_)
        return pendingPaneSizes_;
    return {topPanel_->height(), onlineMidiPane_->width(), localMidiPane_->width()};
}

void TmainForm::setPaneSizes(const PaneSizes& sizes) {
    pendingPaneSizes_ = sizes;
    if (firstShowDone_)
        applyPaneSizes();
}

void TmainForm::applyPaneSizes() {
    placeSplitter(basePanelSplitter_, pendingPaneSizes_.topPanelHeight);
    placeSplitter(onlineMidiAudioSplitter_, pendingPaneSizes_.onlineMidiPanelWidth);
    placeSplitter(localMidiAudioSplitter_, pendingPaneSizes_.localMidiPanelWidth);
}

void TmainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstShowDone_)
        return;
    firstShowDone_ = true;
    applyPaneSizes();
    // Without a window manager the window may never be activated; the first showing
    // counts as the first activation then.
    QTimer::singleShot(0, this, &TmainForm::FormActivate);
}

bool TmainForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !startupDone_)
        QTimer::singleShot(0, this, &TmainForm::FormActivate);
    return QMainWindow::event(event);
}

void TmainForm::FormActivate() {
    // Activations that arrive while the sequence runs (the splash or a dialog closing) must
    // not start it again.
    if (startupDone_ || startupRunning_)
        return;
    startupRunning_ = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{startupRunning_};

    fillLocalMidiList(false);
    fillLocalAudioList(false);
    showOnlineMidiList(false);
    showOnlineAudioList(false);
    showAboutDialog(kSplashMilliseconds);
    switch (accountCommandFor(state)) {
    case StartupAccountCommand::signup:
        menuSetupSignupClick();
        break;
    case StartupAccountCommand::confirm:
        menuSetupConfirmClick();
        break;
    case StartupAccountCommand::none:
        break;
    }
    startupDone_ = true;
}

void TmainForm::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

void TmainForm::FormClose() {
    saveMainSettings();
}

void TmainForm::FormDestroy() {
    state.net.reset();
    helpSystem.reset();
}

void TmainForm::showAboutDialog(int milliseconds) {
    TaboutForm about(this, state.service.host, seams_.shell);
    centre(about);
    about.popup(milliseconds);
}

StartupAccountCommand accountCommandFor(const MainState& state) {
    if (state.userID.empty())
        return StartupAccountCommand::signup;
    if (state.password.empty())
        return StartupAccountCommand::confirm;
    return StartupAccountCommand::none;
}

void TmainForm::centre(QWidget& dialog) const {
    const QRect owner = frameGeometry();
    dialog.move(owner.x() + (owner.width() - dialog.width()) / 2,
                owner.y() + (owner.height() - dialog.height()) / 2);
}

} // namespace tonvert
