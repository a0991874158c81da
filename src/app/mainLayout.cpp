// The main window's panels, panes, menus and popup menus.

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <initializer_list>

#include "ListViewXPSafe.h"
#include "mainUnit.h"

namespace tonvert {

namespace {

constexpr int kSplitterWidth = 3;
constexpr int kPaneMinimumWidth = 180;
constexpr int kPaneMinimumHeight = 100;

QFrame* makePanel(QWidget* parent, const char* name, QFrame::Shadow shadow) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | shadow);
    return panel;
}

QFrame* makePane(QWidget* parent, const char* name) {
    QFrame* pane = makePanel(parent, name, QFrame::Plain);
    pane->setFrameShape(QFrame::NoFrame);
    pane->setMinimumSize(kPaneMinimumWidth, kPaneMinimumHeight);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return pane;
}

QSplitter* makeSplitter(QWidget* parent, const char* name, Qt::Orientation orientation) {
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setObjectName(QString::fromLatin1(name));
    splitter->setHandleWidth(kSplitterWidth);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

// The panes' flat tool buttons; the style draws the disabled look of the glyph.
QToolButton* makeToolButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph,
                            const char* hint, bool enabled = true) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRaise(true);
    button->setFixedSize(23, 22);
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setToolTip(QString::fromLatin1(hint));
    button->setEnabled(enabled);
    return button;
}

QLabel* makeCentredLabel(QWidget* parent, const char* name, const char* caption) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* makeInfoPanel(QWidget* parent, const char* name) {
    auto* info = new QLabel(QStringLiteral("No data"), parent);
    info->setObjectName(QString::fromLatin1(name));
    info->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    info->setFixedHeight(22);
    info->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    info->setContentsMargins(4, 0, 4, 0);
    return info;
}

QPushButton* makeWideButton(QWidget* parent, const char* name, const char* caption,
                            QStyle::StandardPixmap glyph) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(glyph));
    return button;
}

// A row of tool buttons with a centred label between the left and the right ones.
QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, QLabel* label, QWidget* right) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (QWidget* button : left)
        row->addWidget(button);
    row->addWidget(label, 1);
    row->addWidget(right);
    return row;
}

TListViewXPSafe* makeList(QWidget* parent, const char* name,
                          const std::vector<TListViewXPSafe::Column>& columns) {
    auto* list = new TListViewXPSafe(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setColumns(columns);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    return list;
}

constexpr Qt::Alignment kRight = Qt::AlignRight;

// One item of a menu: a caption with its ampersand, or none for a separator, and the
// item's name when it does not follow from the caption.
struct MenuEntry {
    const char* caption = nullptr;
    const char* name = nullptr;
};

// Unnamed items are called after their menu and caption without ampersands; separators
// after their menu, numbered when the menu has more than one.
void fillMenu(QMenu* menu, std::initializer_list<MenuEntry> entries) {
    const QString menuName = menu->objectName();
    int separators = 0;
    for (const MenuEntry& entry : entries)
        separators += entry.caption == nullptr ? 1 : 0;
    int separator = 0;
    for (const MenuEntry& entry : entries) {
        QAction* action = nullptr;
        QString name;
        if (entry.caption == nullptr) {
            action = menu->addSeparator();
            ++separator;
            name = menuName + QStringLiteral("Separator") +
                   (separators > 1 ? QString::number(separator) : QString());
        } else {
            const QString caption = QString::fromLatin1(entry.caption);
            action = menu->addAction(caption);
            name = menuName + QString(caption).remove(QLatin1Char('&'));
        }
        action->setObjectName(entry.name != nullptr ? QString::fromLatin1(entry.name) : name);
    }
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
    // The top row keeps its height when the window is resized; the bottom row takes the rest.
    basePanelSplitter_->setStretchFactor(0, 0);
    basePanelSplitter_->setStretchFactor(1, 1);

    const auto makeRow = [](QFrame* panel, const char* name) {
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(1, 1, 1, 1);
        QSplitter* splitter = makeSplitter(panel, name, Qt::Horizontal);
        layout->addWidget(splitter);
        return splitter;
    };
    onlineMidiAudioSplitter_ = makeRow(topPanel_, "onlineMidiAudioSplitter");
    localMidiAudioSplitter_ = makeRow(bottomPanel_, "localMidiAudioSplitter");

    onlineMidiPanel_ = makePane(onlineMidiAudioSplitter_, "onlineMidiPanel");
    onlineAudioPanel_ = makePane(onlineMidiAudioSplitter_, "onlineAudioPanel");
    localMidiPanel_ = makePane(localMidiAudioSplitter_, "localMidiPanel");
    localAudioPanel_ = makePane(localMidiAudioSplitter_, "localAudioPanel");
    for (QSplitter* row : {onlineMidiAudioSplitter_, localMidiAudioSplitter_}) {
        row->setStretchFactor(0, 0);
        row->setStretchFactor(1, 1);
    }
    onlineMidiAudioSplitter_->addWidget(onlineMidiPanel_);
    onlineMidiAudioSplitter_->addWidget(onlineAudioPanel_);
    localMidiAudioSplitter_->addWidget(localMidiPanel_);
    localMidiAudioSplitter_->addWidget(localAudioPanel_);

    createOnlineMidiPane();
    createOnlineAudioPane();
    createLocalMidiPane();
    createLocalAudioPane();
}

void TmainForm::createOnlineMidiPane() {
    QWidget* pane = onlineMidiPanel_;
    auto* layout = static_cast<QVBoxLayout*>(pane->layout());
    layout->addLayout(
        buttonRow({makeToolButton(pane, "onlineMidiRefreshBtn", QStyle::SP_BrowserReload,
                                  "Refresh list of MIDI files on server")},
                  makeCentredLabel(pane, "onlineMidiLabel", "MIDI files online"),
                  makeToolButton(pane, "onlineMidiDeleteBtn", QStyle::SP_TrashIcon,
                                 "Delete selected MIDI files from server", false)));
    onlineMidiListView_ = makeList(pane, "onlineMidiListView", {{"Name", 222}, {"Type", 50}});
    layout->addWidget(onlineMidiListView_, 1);
    layout->addWidget(makeInfoPanel(pane, "onlineMidiInfoPanel"));
}

void TmainForm::createOnlineAudioPane() {
    QWidget* pane = onlineAudioPanel_;
    auto* layout = static_cast<QVBoxLayout*>(pane->layout());
    layout->addLayout(
        buttonRow({makeToolButton(pane, "onlineAudioRefreshBtn", QStyle::SP_BrowserReload,
                                  "Refresh list of audio files on server")},
                  makeCentredLabel(pane, "onlineAudioLabel", "Audio files online"),
                  makeToolButton(pane, "onlineAudioDeleteBtn", QStyle::SP_TrashIcon,
                                 "Delete selected audio files from server", false)));
    onlineAudioListView_ =
        makeList(pane, "onlineAudioListView", {{"Name", 150}, {"Type", 50}, {"Size", 72, kRight}});
    layout->addWidget(onlineAudioListView_, 1);
    layout->addWidget(makeInfoPanel(pane, "onlineAudioInfoPanel"));
    QPushButton* download =
        makeWideButton(pane, "audioDownloadBtn", "Download audio", QStyle::SP_ArrowDown);
    // The glyph sits right of the text.
    download->setLayoutDirection(Qt::RightToLeft);
    layout->addWidget(download);
}

void TmainForm::createLocalMidiPane() {
    QWidget* pane = localMidiPanel_;
    auto* layout = static_cast<QVBoxLayout*>(pane->layout());
    layout->addWidget(makeWideButton(pane, "midiUploadBtn", "Upload MIDI", QStyle::SP_ArrowUp));
    localMidiListView_ =
        makeList(pane, "localMidiListView",
                 {{"Name", 100}, {"Type", 50}, {"Playtime", 60}, {"Size", 62, kRight}});
    layout->addWidget(localMidiListView_, 1);
    layout->addLayout(
        buttonRow({makeToolButton(pane, "localMidiRefreshBtn", QStyle::SP_BrowserReload,
                                  "Refresh list of files in local MIDI folder"),
                   makeToolButton(pane, "localMidiPlayBtn", QStyle::SP_MediaPlay,
                                  "Play selected file in local MIDI folder", false)},
                  makeCentredLabel(pane, "localMidiLabel", "Local MIDI files"),
                  makeToolButton(pane, "localMidiDeleteBtn", QStyle::SP_TrashIcon,
                                 "Delete selected files from local MIDI folder", false)));
}

void TmainForm::createLocalAudioPane() {
    QWidget* pane = localAudioPanel_;
    auto* layout = static_cast<QVBoxLayout*>(pane->layout());
    localAudioListView_ =
        makeList(pane, "localAudioListView", {{"Name", 150}, {"Type", 50}, {"Size", 72, kRight}});
    layout->addWidget(localAudioListView_, 1);
    layout->addLayout(
        buttonRow({makeToolButton(pane, "localAudioRefreshBtn", QStyle::SP_BrowserReload,
                                  "Refresh list of files in local audio folder"),
                   makeToolButton(pane, "localAudioPlayBtn", QStyle::SP_MediaPlay,
                                  "Play selected file in local audio folder", false)},
                  makeCentredLabel(pane, "localAudioLabel", "Local audio files"),
                  makeToolButton(pane, "localAudioDeleteBtn", QStyle::SP_TrashIcon,
                                 "Delete selected files from local audio folder", false)));
}

void TmainForm::createMainMenu() {
    menuBar()->setObjectName(QStringLiteral("mainMenu"));
    const auto addMenu = [this](const char* name, const char* caption) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(caption));
        menu->setObjectName(QString::fromLatin1(name));
        menu->menuAction()->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    fillMenu(addMenu("menuSetup", "&Setup"), {{"&Sign up", "menuSetupSignup"},
                                              {"&Confirm account", "menuSetupConfirm"},
                                              {},
                                              {"&Request new password", "menuSetupRequestPassword"},
                                              {"&Enter new password", "menuSetupEnterPassword"},
                                              {},
                                              {"&Network", "menuSetupNetwork"},
                                              {},
                                              {"&MIDI folder", "menuSetupMidiFolder"},
                                              {"&Audio folder", "menuSetupAudioFolder"}});
    fillMenu(
        addMenu("menuFunds", "&Funds"),
        {{"&Add", "menuFundsAdd"}, {"&View", "menuFundsView"}, {}, {"&Fees", "menuFundsFees"}});
    fillMenu(addMenu("menuHelp", "&Help"), {{"&Manual", "menuHelpManual"},
                                            {"&Web site", "menuHelpWeb"},
                                            {},
                                            {"&About", "menuHelpAbout"}});

    connect(findChild<QAction*>(QStringLiteral("menuHelpAbout")), &QAction::triggered, this,
            &TmainForm::menuHelpAboutClick);
}

void TmainForm::createPopupMenus() {
    const auto makePopup = [this](TListViewXPSafe* list, const char* name,
                                  std::initializer_list<MenuEntry> captions) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QString::fromLatin1(name));
        fillMenu(menu, captions);
        connect(list, &QWidget::customContextMenuRequested, menu,
                [list, menu](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });
        return menu;
    };
    onlineMidiListPopupMenu_ =
        makePopup(onlineMidiListView_, "onlineMidiListPopupMenu", {{"&Refresh"}, {}, {"&Delete"}});
    onlineAudioListPopupMenu_ = makePopup(onlineAudioListView_, "onlineAudioListPopupMenu",
                                          {{"&Refresh"}, {}, {"D&ownload"}, {}, {"&Delete"}});
    localMidiListPopupMenu_ = makePopup(
        localMidiListView_, "localMidiListPopupMenu",
        {{"&Refresh"}, {}, {"&Play"}, {"&Upload"}, {}, {"&Copy"}, {"&Delete"}, {}, {"&Folder"}});
    localAudioListPopupMenu_ =
        makePopup(localAudioListView_, "localAudioListPopupMenu",
                  {{"&Refresh"}, {}, {"&Play"}, {}, {"&Copy"}, {"&Delete"}, {}, {"&Folder"}});
}

} // namespace tonvert
