// The main window's start-up, stored layout, first activation and close.

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QSplitter>
#include <QTimer>
#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ListViewXPSafe.h"
#include "aboutUnit.h"
#include "connectSettings.h"
#include "credentials.h"
#include "fileRows.h"
#include "hh_funcs.h"
#include "localPane.h"
#include "mainUnit.h"
#include "netUnit.h"
#include "onlineArrivals.h"
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
struct ListKeys {
    const char* section;
    std::vector<const char*> widths;
};

const std::vector<ListKeys>& listKeys() {
    static const std::vector<ListKeys> keys = {
        {"OnlineMidiListView", {"NameWidth", "TypeWidth"}},
        {"LocalMidiListView", {"NameWidth", "TypeWidth", "PlayTimeWidth", "SizeWidth"}},
        {"OnlineAudioListView", {"NameWidth", "TypeWidth", "SizeWidth"}},
        {"LocalAudioListView", {"NameWidth", "TypeWidth", "SizeWidth"}},
    };
    return keys;
}

// The list's sort code, kept beside its column widths.
const char* const kSortKey = "SortColumn";

// Each splitter's first pane size and the length it is part of, in the order of
// paneSplitters().
struct SplitterKeys {
    const char* first;
    const char* length;
};
constexpr SplitterKeys kSplitterKeys[] = {{"TopPanelHeight", "PanelsHeight"},
                                          {"OnlineMidiPanelWidth", "OnlinePanelsWidth"},
                                          {"LocalMidiPanelWidth", "LocalPanelsWidth"}};

} // namespace

TmainForm::TmainForm(const ProgramPaths& paths, const Seams& seams, QWidget* parent)
    : QMainWindow(parent)
    , paths_(paths)
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

    for (int i = 0; i < kSplitterCount; ++i) {
        const SplitterKeys& keys = kSplitterKeys[i];
        setSplitterPosition(i, {ini.readInteger("MainWindow", keys.first, -1),
                                ini.readInteger("MainWindow", keys.length, 0)});
    }
    state.autoDownload = ini.readInteger("MainWindow", "DownloadFinishedAudio", 0) != 0;
    menuItem("menuSetupAutoDownload")->setChecked(state.autoDownload);

    loadListSettings(ini);

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
    // The sizes first, as older files have them; the lengths they are part of after.
    for (const bool lengths : {false, true})
        for (int i = 0; i < kSplitterCount; ++i) {
            const SplitterPosition position = splitterPosition(i);
            if (position.first >= 0 && (!lengths || position.length > 0))
                ini.writeInteger("MainWindow",
                                 lengths ? kSplitterKeys[i].length : kSplitterKeys[i].first,
                                 lengths ? position.length : position.first);
        }

    saveListSettings(ini);
}

// The panes in the order of listKeys(), with the order each sorts its rows by.
std::array<std::pair<FilePane*, FileListModel::Comparison>, 4> TmainForm::listPanes() const {
    return {{{onlineMidiPane_, compareFileItems},
             {localMidiPane_, kLocalMidiPaneKind.compare},
             {onlineAudioPane_, compareFileItems},
             {localAudioPane_, kLocalAudioPaneKind.compare}}};
}

void TmainForm::loadListSettings(const TPortableIniFile& ini) {
    const auto panes = listPanes();
    for (std::size_t i = 0; i < panes.size(); ++i) {
        const ListKeys& list = listKeys()[i];
        FilePane& pane = *panes[i].first;
        QHeaderView* header = pane.list().header();
        for (int column = 0; column < static_cast<int>(list.widths.size()); ++column) {
            // A column too narrow for its caption in the font in use starts wide enough.
            const int fitting =
                std::max(header->sectionSize(column), header->sectionSizeHint(column));
            header->resizeSection(
                column, ini.readInteger(list.section, list.widths[static_cast<std::size_t>(column)],
                                        fitting));
        }
        pane.restoreSort(ini.readInteger(list.section, kSortKey, 0), panes[i].second);
    }
}

void TmainForm::saveListSettings(TPortableIniFile& ini) {
    const auto panes = listPanes();
    for (std::size_t i = 0; i < panes.size(); ++i) {
        const ListKeys& list = listKeys()[i];
        FilePane& pane = *panes[i].first;
        const QHeaderView* header = pane.list().header();
        for (int column = 0; column < static_cast<int>(list.widths.size()); ++column)
            ini.writeInteger(list.section, list.widths[static_cast<std::size_t>(column)],
                             header->sectionSize(column));
        ini.writeInteger(list.section, kSortKey, pane.sortCode());
    }
}

void TmainForm::menuSetupAutoDownloadClick() {
    state.autoDownload = menuItem("menuSetupAutoDownload")->isChecked();
    // Kept at once: the choice outlasts a crash.
    TPortableIniFile ini(paths_.settingsFile);
    ini.writeInteger("MainWindow", "DownloadFinishedAudio", state.autoDownload ? 1 : 0);
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

TmainForm::SplitterPosition TmainForm::splitterPosition(int splitter) const {
    // Until the window is first shown its splitters have no size of their own.
    if (!firstShowDone_)
        return storedSplitters_[static_cast<std::size_t>(splitter)];
    const QList<int> sizes = paneSplitters()[static_cast<std::size_t>(splitter)]->sizes();
    return {sizes.value(0), sizes.value(0) + sizes.value(1)};
}

void TmainForm::setSplitterPosition(int splitter, const SplitterPosition& position) {
    if (position.first < 0)
        return;
    const auto i = static_cast<std::size_t>(splitter);
    storedSplitters_[i] = position;
    const int length = position.length > 0 ? position.length
                       : firstShowDone_    ? splitterLength(splitter)
                                           : 0;
    // An older file's size waits for the length of the first layout.
    if (length <= 0)
        return;
    // The splitter shares its length out in these proportions, now and at any later size.
    paneSplitters()[i]->setSizes({position.first, std::max(length - position.first, 0)});
}

void TmainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstShowDone_)
        return;
    firstShowDone_ = true;
    for (int i = 0; i < kSplitterCount; ++i)
        if (storedSplitters_[static_cast<std::size_t>(i)].length <= 0)
            setSplitterPosition(i, storedSplitters_[static_cast<std::size_t>(i)]);
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
    // What the last run listed is what later lists are compared with.
    arrivals_->start();
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
    TaboutForm about(this, state.service.host, seams_.shell, seams_.prompts);
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
