// The main window's panels, panes, menus and popup menus.

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "desktopNotifier.h"
#include "localPane.h"
#include "mainUnit.h"
#include "onlineArrivals.h"
#include "onlinePane.h"
#include "paneWidgets.h"

namespace tonvert {

namespace {

constexpr int kSplitterWidth = 3;
constexpr int kPaneMinimumWidth = 180;
constexpr int kPaneMinimumHeight = 100;
// On a first start the halves and the columns share alike.
constexpr int kDefaultPart = 1;

QFrame* makePanel(QWidget* parent, const char* name, QFrame::Shadow shadow) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | shadow);
    return panel;
}

QSplitter* makeSplitter(QWidget* parent, const char* name, Qt::Orientation orientation) {
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setObjectName(QString::fromLatin1(name));
    splitter->setHandleWidth(kSplitterWidth);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

} // namespace

void TmainForm::createPanels() {
    basePanel_ = new QWidget(this);
    basePanel_->setObjectName(QStringLiteral("basePanel"));
    auto* baseLayout = new QVBoxLayout(basePanel_);
    baseLayout->setContentsMargins(0, 0, 0, 0);
    setCentralWidget(basePanel_);

    basePanelSplitter_ = makeSplitter(basePanel_, "basePanelSplitter", Qt::Vertical);
    baseLayout->addWidget(basePanelSplitter_);

    topPanel_ = makePanel(basePanelSplitter_, "topPanel", QFrame::Sunken);
    bottomPanel_ = makePanel(basePanelSplitter_, "bottomPanel", QFrame::Sunken);
    basePanelSplitter_->addWidget(topPanel_);
    basePanelSplitter_->addWidget(bottomPanel_);

    const auto makeRow = [](QFrame* panel, const char* name) {
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(1, 1, 1, 1);
        QSplitter* splitter = makeSplitter(panel, name, Qt::Horizontal);
        layout->addWidget(splitter);
        return splitter;
    };
    onlineMidiAudioSplitter_ = makeRow(topPanel_, "onlineMidiAudioSplitter");
    localMidiAudioSplitter_ = makeRow(bottomPanel_, "localMidiAudioSplitter");

    onlineMidiPane_ = new OnlinePane(kOnlineMidiPaneKind, state, seams_, onlineMidiAudioSplitter_);
    onlineAudioPane_ =
        new OnlinePane(kOnlineAudioPaneKind, state, seams_, onlineMidiAudioSplitter_);
    localMidiPane_ = new LocalPane(kLocalMidiPaneKind, state, seams_, localMidiAudioSplitter_);
    localAudioPane_ = new LocalPane(kLocalAudioPaneKind, state, seams_, localMidiAudioSplitter_);
    for (QFrame* pane : std::initializer_list<QFrame*>{onlineMidiPane_, onlineAudioPane_,
                                                       localMidiPane_, localAudioPane_})
        pane->setMinimumSize(kPaneMinimumWidth, kPaneMinimumHeight);
    onlineMidiAudioSplitter_->addWidget(onlineMidiPane_);
    onlineMidiAudioSplitter_->addWidget(onlineAudioPane_);
    localMidiAudioSplitter_->addWidget(localMidiPane_);
    localMidiAudioSplitter_->addWidget(localAudioPane_);
    shareSplitters();

    connect(localMidiPane_, &LocalPane::uploadRequested, this, &TmainForm::midiUploadBtnClick);
    connect(localMidiPane_, &LocalPane::folderRequested, this,
            &TmainForm::menuSetupMidiFolderClick);
    connect(localAudioPane_, &LocalPane::folderRequested, this,
            &TmainForm::menuSetupAudioFolderClick);
    connect(onlineAudioPane_, &OnlinePane::downloadRequested, this,
            &TmainForm::audioDownloadBtnClick);
    connect(onlineMidiPane_, &OnlinePane::uploadRequested, this, &TmainForm::midiUploadFiles);
    createArrivals();
}

void TmainForm::createArrivals() {
    desktopNotifier_ = new DesktopNotifier(this);
    arrivals_ = new OnlineArrivals(
        *onlineMidiPane_, *onlineAudioPane_, state, *desktopNotifier_,
        [this](const std::vector<std::string>& names) { downloadAudioFiles(names); }, this);
}

void TmainForm::shareSplitters() {
    for (QSplitter* splitter : paneSplitters()) {
        // Both panes grow and shrink with the window, each keeping its part of the length:
        // the splitter shares out by the sizes it was last given or moved to.
        splitter->setStretchFactor(0, 1);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({kDefaultPart, kDefaultPart});
    }
}

std::array<QSplitter*, TmainForm::kSplitterCount> TmainForm::paneSplitters() const {
    return {basePanelSplitter_, onlineMidiAudioSplitter_, localMidiAudioSplitter_};
}

int TmainForm::splitterLength(int splitter) const {
    const QSplitter* s = paneSplitters()[static_cast<std::size_t>(splitter)];
    const int along = s->orientation() == Qt::Vertical ? s->height() : s->width();
    return std::max(along - s->handleWidth(), 0);
}

void TmainForm::createMainMenu() {
    menuBar()->setObjectName(QStringLiteral("mainMenu"));
    const auto addMenu = [this](const char* name, const char* caption) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(caption));
        menu->setObjectName(QString::fromLatin1(name));
        menu->menuAction()->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    fillMenu(addMenu("menuSetup", "&Setup"),
             {{"&Sign up", "menuSetupSignup"},
              {"&Confirm account", "menuSetupConfirm"},
              {},
              {"&Request new password", "menuSetupRequestPassword"},
              {"&Enter new password", "menuSetupEnterPassword"},
              {},
              {"&Network", "menuSetupNetwork"},
              {},
              {"&MIDI folder", "menuSetupMidiFolder"},
              {"&Audio folder", "menuSetupAudioFolder"},
              {},
              {"&Download finished audio automatically", "menuSetupAutoDownload"}});
    menuItem("menuSetupAutoDownload")->setCheckable(true);
    fillMenu(
        addMenu("menuFunds", "&Funds"),
        {{"&Add", "menuFundsAdd"}, {"&View", "menuFundsView"}, {}, {"&Fees", "menuFundsFees"}});
    fillMenu(addMenu("menuHelp", "&Help"), {{"&Manual", "menuHelpManual"},
                                            {"&Web site", "menuHelpWeb"},
                                            {},
                                            {"&About", "menuHelpAbout"}});

    connectMenus();
}

QAction* TmainForm::menuItem(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void TmainForm::connectMenus() {
    const struct {
        const char* item;
        void (TmainForm::*handler)();
    } commands[] = {
        {"menuSetupSignup", &TmainForm::menuSetupSignupClick},
        {"menuSetupConfirm", &TmainForm::menuSetupConfirmClick},
        {"menuSetupRequestPassword", &TmainForm::menuSetupRequestPasswordClick},
        {"menuSetupEnterPassword", &TmainForm::menuSetupEnterPasswordClick},
        {"menuSetupNetwork", &TmainForm::menuSetupNetworkClick},
        {"menuSetupMidiFolder", &TmainForm::menuSetupMidiFolderClick},
        {"menuSetupAudioFolder", &TmainForm::menuSetupAudioFolderClick},
        {"menuSetupAutoDownload", &TmainForm::menuSetupAutoDownloadClick},
        {"menuFundsAdd", &TmainForm::menuFundsAddClick},
        {"menuFundsView", &TmainForm::menuFundsViewClick},
        {"menuFundsFees", &TmainForm::menuFundsFeesClick},
        {"menuHelpManual", &TmainForm::menuHelpManualClick},
        {"menuHelpWeb", &TmainForm::menuHelpWebClick},
        {"menuHelpAbout", &TmainForm::menuHelpAboutClick},
    };
    for (const auto& command : commands)
        connect(findChild<QAction*>(QString::fromLatin1(command.item)), &QAction::triggered, this,
                command.handler);
    connect(findChild<QMenu*>(QStringLiteral("menuSetup")), &QMenu::aboutToShow, this,
            &TmainForm::menuSetupClick);
    // F1 asks for the window's topic.
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            [this] { showHelp(kHelpContext); });
    connect(findChild<QMenu*>(QStringLiteral("menuFunds")), &QMenu::aboutToShow, this,
            &TmainForm::menuFundsClick);
}

} // namespace tonvert
