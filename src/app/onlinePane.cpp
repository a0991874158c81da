// The online MIDI and audio panes: the lists of the user's files on the service, kept in list
// files between runs, and deleting files there.

#include "onlinePane.h"

#include <QAbstractButton>
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ListViewXPSafe.h"
#include "busyCursor.h"
#include "clock.h"
#include "fileIo.h"
#include "localeTexts.h"
#include "netAbort.h"
#include "netUnit.h"
#include "onlineListFile.h"
#include "openers.h"
#include "paneWidgets.h"
#include "prompts.h"
#include "replyReaders.h"
#include "serverSupportUnit.h"
#include "serviceCalls.h"
#include "serviceRequests.h"
#include "shell.h"
#include "textCodec.h"

namespace tonvert {

namespace {

constexpr Qt::Alignment kRight = Qt::AlignRight;

} // namespace

const OnlinePaneKind kOnlineMidiPaneKind{
    "onlineMidi",
    "&MIDI files online",
    "Refresh list of MIDI files on server",
    "Delete selected MIDI files from server",
    {{FileColumn::name, {"Name", 222}}, {FileColumn::type, {"Type", 50}}},
    "MidiList.TXT",
    kListMidiCommand,
    kDeleteMidiCommand,
    "Error encountered while deleting MIDI file",
    false,
};

const OnlinePaneKind kOnlineAudioPaneKind{
    "onlineAudio",
    "&Audio files online",
    "Refresh list of audio files on server",
    "Delete selected audio files from server",
    {{FileColumn::name, {"Name", 150}},
     {FileColumn::type, {"Type", 50}},
     {FileColumn::size, {"Size", 72, kRight}}},
    "AudioList.TXT",
    kListAudioCommand,
    kDeleteAudioCommand,
    "Error encountered while deleting audio file",
    true,
};

OnlinePane::OnlinePane(const OnlinePaneKind& kind, MainState& state, const Seams& seams,
                       QWidget* parent)
    : FilePane(kind.prefix, kind.columns, state, seams, parent)
    , kind_(kind) {
    createWidgets();
    if (kind_.audio)
        createPopupMenu({{"&Refresh"}, {}, {"D&ownload"}, {}, {"&Delete"}});
    else
        createPopupMenu({{"&Refresh"}, {}, {"&Delete"}});
    connect(popupMenu_, &QMenu::aboutToShow, this, &OnlinePane::popupMenuPopup);
    onPopupItem("Refresh", [this] { refresh(true); });
    onPopupItem("Delete", [this] { deleteFiles(); });
    if (kind_.audio) {
        onPopupItem("Download", [this] { emit downloadRequested(); });
        return;
    }
    list_->setFileDropsAccepted(true);
    // Out of the drop event: the upload dialog must not run inside it.
    connect(list_, &TListViewXPSafe::filesDropped, this,
            [this](const std::vector<std::string>& paths) {
                QTimer::singleShot(0, this, [this, paths] { emit uploadRequested(paths); });
            });
}

void OnlinePane::createWidgets() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QToolButton* refresh =
        makeToolButton(this, name("RefreshBtn"), QStyle::SP_BrowserReload, kind_.refreshHint);
    QToolButton* remove =
        makeToolButton(this, name("DeleteBtn"), QStyle::SP_TrashIcon, kind_.deleteHint, false);
    refreshBtn_ = refresh;
    deleteBtn_ = remove;
    layout->addLayout(
        buttonRow({refresh}, makeCentredLabel(this, name("Label"), kind_.label, list_), remove));

    layout->addWidget(list_, 1);
    infoPanel_ = makeInfoPanel(this, name("InfoPanel"));
    layout->addWidget(infoPanel_);
    if (kind_.audio) {
        QPushButton* download =
            makeWideButton(this, "audioDownloadBtn", "Download audio", QStyle::SP_ArrowDown);
        // The glyph sits right of the text.
        download->setLayoutDirection(Qt::RightToLeft);
        downloadBtn_ = download;
        layout->addWidget(download);
        connect(download, &QAbstractButton::clicked, this, &OnlinePane::downloadRequested);
    }

    connect(refresh, &QAbstractButton::clicked, this, [this] { this->refresh(true); });
    connect(remove, &QAbstractButton::clicked, this, &OnlinePane::deleteFiles);
    connect(list_, &TListViewXPSafe::changed, this, &OnlinePane::updateButtons);
    connect(list_, &TListViewXPSafe::columnClicked, this,
            [this](int column) { sortByColumn(column, compareFileItems); });
    connect(list_, &TListViewXPSafe::keyDown, this, &OnlinePane::keyDown);
    updateButtons();
}

std::string OnlinePane::listFilePath() const {
    return state_.tempFolder + kind_.listFile;
}

std::string OnlinePane::listRequestUrl() const {
    return serviceRequestUrl(state_.service.host, state_.userID, state_.password,
                             kind_.listCommand);
}

void OnlinePane::refresh(bool keepSelection) {
    BusyCursor busy;
    const std::optional<std::string> reply = requestService(state_, seams_, listRequestUrl());
    if (reply)
        keepList(*reply, keepSelection);
}

QuietRefresh OnlinePane::refreshQuietly() {
    if (state_.requestWaiting() || !state_.hasCredentials() || applicationTerminating)
        return QuietRefresh::notNow;
    const ServiceAnswer answer = askService(state_, listRequestUrl());
    switch (answer.kind) {
    case ServiceAnswer::Kind::reply:
        keepList(answer.reply, true);
        return QuietRefresh::shown;
    case ServiceAnswer::Kind::closing:
        return QuietRefresh::notNow;
    case ServiceAnswer::Kind::transportFailed:
    case ServiceAnswer::Kind::refused:
        break;
    }
    // The list stays as it was; the panel says why it is not newer.
    const QString why = toQString("Not refreshed: " + answer.message);
    infoPanel_->setText(why);
    infoPanel_->setToolTip(why);
    return answer.kind == ServiceAnswer::Kind::refused ? QuietRefresh::refused
                                                       : QuietRefresh::transportFailed;
}

// The reply is read once, in memory, and shown; the list file then keeps it for the next start.
// A list that cannot be kept is still shown; nothing to tell.
void OnlinePane::keepList(const std::string& reply, bool keepSelection) {
    const std::string text = onlineListFileText(seams_.clock.now(), reply, userDecimalSeparator());
    showRows(readOnlineListFile(text, kind_.audio, userDecimalSeparator()), keepSelection);
    writeTextFile(listFilePath(), text);
}

void OnlinePane::showList(bool keepSelection) {
    std::string text;
    OnlineListRows shown;
    if (readWholeFile(listFilePath(), text))
        shown = readOnlineListFile(text, kind_.audio, userDecimalSeparator());
    showRows(std::move(shown), keepSelection);
}

void OnlinePane::showRows(OnlineListRows shown, bool keepSelection) {
    const QSignalBlocker quiet(list_);
    const std::vector<FileRow> remembered =
        keepSelection ? selectedFiles() : std::vector<FileRow>{};
    const std::size_t count = shown.rows.size();
    model_->setRows(std::move(shown.rows));

    reselect(remembered);

    listValid_ = shown.valid;
    infoPanel_->setText(
        shown.valid ? toQString(listCountText(count) + " [" + userDateTimeText(shown.time) + "]")
                    : QString::fromLatin1(kNoDataText));
    infoPanel_->setToolTip({});
    updateButtons();
    emit listShown();
}

void OnlinePane::updateButtons() {
    refreshBtn_->setEnabled(state_.hasCredentials() && !state_.requestWaiting());
    deleteBtn_->setEnabled(refreshBtn_->isEnabled() && list_->hasSelection());
    if (downloadBtn_ == nullptr)
        return;
    const std::vector<FileRow> selected = selectedFiles();
    downloadBtn_->setEnabled(deleteBtn_->isEnabled() &&
                             std::any_of(selected.begin(), selected.end(),
                                         [](const FileRow& row) { return row.size.has_value(); }));
}

void OnlinePane::popupMenuPopup() {
    popupItem("Refresh")->setEnabled(!state_.requestWaiting());
    popupItem("Delete")->setEnabled(deleteBtn_->isEnabled());
    if (downloadBtn_ != nullptr)
        popupItem("Download")->setEnabled(downloadBtn_->isEnabled());
}

void OnlinePane::deleteFiles() {
    BusyCursor busy;
    const std::vector<FileRow> files = selectedFiles();
    if (files.empty() || !confirmDelete(files))
        return;
    // The walk and the refresh after it are one command: nothing else starts in between.
    const WaitingRequest waiting(state_);
    if (deleteWalk(files))
        refresh(true);
}

// A file deleted on the service is gone for good, a paid render with it: ask as the local
// panes ask before their files go to the trash.
bool OnlinePane::confirmDelete(const std::vector<FileRow>& files) {
    const std::string what = files.size() == 1 ? "\"" + files.front().fileName + "\""
                                               : "these " + std::to_string(files.size()) + " files";
    const std::string question = "Delete " + what + " from the service?\n\nThis cannot be undone.";
    return seams_.prompts.show(PromptKind::confirmation, "Delete files", question,
                               PromptButtons::yesNo) == PromptAnswer::yes;
}

bool OnlinePane::deleteWalk(const std::vector<FileRow>& files) {
    for (const FileRow& file : files) {
        const std::string& fileName = file.fileName;
        // The name goes through the query encoding: a blank or "&" would not reach the
        // service otherwise.
        const std::string value =
            kind_.audio ? urlEncode(fileName) : std::to_string(file.record.value_or(0));
        // deleteFiles marks the whole walk as one waiting request.
        const TransferResult result =
            state_.net->download({serviceRequestUrl(state_.service.host, state_.userID,
                                                    state_.password, kind_.deleteCommand, value),
                                  "",
                                  {}});
        if (!result.ok) {
            showTransferError(seams_, result.message);
            return false;
        }
        std::string message, address;
        if (!parseServerError(result.reply, state_.service.supportEmail, message, address))
            continue;
        const std::string text =
            std::string(kind_.deleteFailure) + "\n\n" + fileName + "\n\n" + message;
        if (address.empty()) {
            if (seams_.prompts.show(PromptKind::error, "", text, PromptButtons::okAbort) ==
                PromptAnswer::abort)
                return true;
            continue;
        }
        const PromptAnswer answer =
            seams_.prompts.show(PromptKind::error, "", text, PromptButtons::yesNoAbort);
        if (answer == PromptAnswer::yes)
            openUrlOrSay(seams_.prompts, seams_.shell, address);
        if (answer != PromptAnswer::no)
            return false;
    }
    return true;
}

// Ctrl+R refreshes, but only for a user who can be asked for: the popup's Refresh always
// sends the request. Delete is the bin button's command.
void OnlinePane::keyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        event->accept();
        if (deleteBtn_->isEnabled())
            deleteFiles();
    } else if (event->key() == Qt::Key_R && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        if (refreshBtn_->isEnabled())
            refresh(true);
    }
}

} // namespace tonvert
