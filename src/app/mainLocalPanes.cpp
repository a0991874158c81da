// The local MIDI and audio panes: listing the folders, the buttons the selection enables,
// and playing, copying, deleting, renaming and sorting the files.

#include <QAbstractButton>
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <utility>

#include "ListViewXPSafe.h"
#include "busyCursor.h"
#include "fileItems.h"
#include "fileListText.h"
#include "fileNames.h"
#include "mainUnit.h"
#include "midiUnit.h"
#include "prompts.h"
#include "shell.h"
#include "textCodec.h"

namespace tonvert {

namespace {

constexpr int kPlayTimeColumn = 2;
const char* const kUnknownPlayTime = "?";

std::string upperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The pane's type of a file: its extension in capitals, when it is one the pane lists.
bool listedType(const NameParts& parts, bool midiPane, std::string& type) {
    if (!parts.hasExtension)
        return false;
    type = upperCase(parts.extension);
    static const char* const midiTypes[] = {"MID", "RMI"};
    static const char* const audioTypes[] = {"MP3", "OGG", "WMA", "WAV"};
    if (midiPane)
        return std::find(std::begin(midiTypes), std::end(midiTypes), type) != std::end(midiTypes);
    return std::find(std::begin(audioTypes), std::end(audioTypes), type) != std::end(audioTypes);
}

// The play time as the pane shows it, or "?" when the file cannot be read or timed.
std::string playTimeOf(const std::string& path) {
    try {
        TMidiFile midi;
        std::string message;
        if (loadMidiFile(path, false, midi, message)) {
            const auto seconds = midiPlayTime(midi, message);
            if (seconds && message.empty())
                return playTimeText(*seconds);
        }
    } catch (...) {
    }
    return kUnknownPlayTime;
}

// The play times of the files, each file read once, on all of the machine's cores: reading
// and timing is nearly all of a fill's time.
std::vector<std::string> playTimesOf(const std::vector<std::string>& paths) {
    std::vector<std::string> texts(paths.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++)
            texts[i] = playTimeOf(paths[i]);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto helpers = std::min<std::size_t>(cores - 1, paths.size() / 16);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < helpers; ++i)
            threads.emplace_back(work);
        work();
    }
    return texts;
}

QTreeWidgetItem* makeLocalItem(const std::string& fileName, const NameParts& parts,
                               const std::string& type, std::uint64_t size,
                               const std::string* playTime) {
    auto* item = new QTreeWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setText(kNameColumn, toQString(parts.base));
    item->setText(kTypeColumn, toQString(type));
    int column = kTypeColumn + 1;
    if (playTime != nullptr)
        item->setText(column++, toQString(*playTime));
    item->setText(column, toQString(sizeText(size)));
    item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(kNameColumn, kSizeRole, QVariant::fromValue<qint64>(static_cast<qint64>(size)));
    item->setData(kNameColumn, kFileNameRole, toQString(fileName));
    return item;
}

std::string filePathOf(const QTreeWidgetItem& item, const std::string& folder) {
    return folder + toBytes(item.data(kNameColumn, kFileNameRole).toString());
}

// The selected rows in list order.
std::vector<const QTreeWidgetItem*> selectedRows(const TListViewXPSafe& list) {
    std::vector<const QTreeWidgetItem*> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        if (list.topLevelItem(i)->isSelected())
            rows.push_back(list.topLevelItem(i));
    return rows;
}

std::vector<std::string> selectedPaths(const TListViewXPSafe& list, const std::string& folder) {
    std::vector<std::string> paths;
    for (const QTreeWidgetItem* row : selectedRows(list))
        paths.push_back(filePathOf(*row, folder));
    return paths;
}

bool sameCaption(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void TmainForm::connectLocalPanes() {
    midiUploadBtn_ = findChild<QAbstractButton*>(QStringLiteral("midiUploadBtn"));
    localMidiPlayBtn_ = findChild<QAbstractButton*>(QStringLiteral("localMidiPlayBtn"));
    localMidiDeleteBtn_ = findChild<QAbstractButton*>(QStringLiteral("localMidiDeleteBtn"));
    localAudioPlayBtn_ = findChild<QAbstractButton*>(QStringLiteral("localAudioPlayBtn"));
    localAudioDeleteBtn_ = findChild<QAbstractButton*>(QStringLiteral("localAudioDeleteBtn"));
    const auto onClick = [this](const char* name, auto handler) {
        connect(findChild<QAbstractButton*>(QString::fromLatin1(name)), &QAbstractButton::clicked,
                this, handler);
    };
    const auto onItem = [this](const char* name, auto handler) {
        connect(findChild<QAction*>(QString::fromLatin1(name)), &QAction::triggered, this, handler);
    };

    onClick("localMidiRefreshBtn", [this] { fillLocalMidiList(true); });
    onClick("localMidiPlayBtn", [this] { playLocalMidiFile(); });
    onClick("localMidiDeleteBtn", [this] { deleteLocalMidiFiles(); });
    onItem("localMidiListPopupMenuRefresh", [this] { fillLocalMidiList(true); });
    onItem("localMidiListPopupMenuPlay", [this] { playLocalMidiFile(); });
    onItem("localMidiListPopupMenuCopy", [this] { copyLocalMidiFiles(); });
    onItem("localMidiListPopupMenuDelete", [this] { deleteLocalMidiFiles(); });
    connect(localMidiListPopupMenu_, &QMenu::aboutToShow, this,
            &TmainForm::localMidiListPopupMenuPopup);
    connect(localMidiListView_, &QTreeWidget::itemSelectionChanged, this,
            &TmainForm::localMidiListViewChange);
    connect(localMidiListView_, &TListViewXPSafe::columnClicked, this,
            &TmainForm::localMidiListViewColumnClick);
    connect(localMidiListView_, &TListViewXPSafe::captionEdited, this,
            &TmainForm::localMidiListViewEdited);
    connect(localMidiListView_, &TListViewXPSafe::keyDown, this,
            &TmainForm::localMidiListViewKeyDown);
    localMidiListView_->setCaptionsEditable(true);

    onClick("localAudioRefreshBtn", [this] { fillLocalAudioList(true); });
    onClick("localAudioPlayBtn", [this] { playLocalAudioFile(); });
    onClick("localAudioDeleteBtn", [this] { deleteLocalAudioFiles(); });
    onItem("localAudioListPopupMenuRefresh", [this] { fillLocalAudioList(true); });
    onItem("localAudioListPopupMenuPlay", [this] { playLocalAudioFile(); });
    onItem("localAudioListPopupMenuCopy", [this] { copyLocalAudioFiles(); });
    onItem("localAudioListPopupMenuDelete", [this] { deleteLocalAudioFiles(); });
    connect(localAudioListPopupMenu_, &QMenu::aboutToShow, this,
            &TmainForm::localAudioListPopupMenuPopup);
    connect(localAudioListView_, &QTreeWidget::itemSelectionChanged, this,
            &TmainForm::localAudioListViewChange);
    connect(localAudioListView_, &TListViewXPSafe::columnClicked, this,
            &TmainForm::localAudioListViewColumnClick);
    connect(localAudioListView_, &TListViewXPSafe::captionEdited, this,
            &TmainForm::localAudioListViewEdited);
    connect(localAudioListView_, &TListViewXPSafe::keyDown, this,
            &TmainForm::localAudioListViewKeyDown);
    localAudioListView_->setCaptionsEditable(true);
}

void TmainForm::fillLocalMidiList(bool keepSelection) {
    fillLocalList(*localMidiListView_, midiFolder, true, keepSelection);
    updateLocalMidiButtons();
}

void TmainForm::fillLocalAudioList(bool keepSelection) {
    fillLocalList(*localAudioListView_, audioFolder, false, keepSelection);
    updateLocalAudioButtons();
}

void TmainForm::fillLocalList(TListViewXPSafe& list, const std::string& folder, bool withPlayTime,
                              bool keepSelection) {
    BusyCursor busy;
    // The rebuild is no change of the user's selection.
    const QSignalBlocker quiet(&list);

    std::vector<std::pair<QString, QString>> remembered;
    if (keepSelection)
        for (const QTreeWidgetItem* row : selectedRows(list))
            remembered.emplace_back(row->text(kNameColumn), row->text(kTypeColumn));
    list.clear();

    struct Entry {
        std::string fileName;
        NameParts parts;
        std::string type;
        std::uintmax_t size;
    };
    std::vector<Entry> entries;
    bool anyEntry = false;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error), end;
         !error && it != end; it.increment(error)) {
        anyEntry = true;
        const std::filesystem::directory_entry& entry = *it;
        std::error_code entryError;
        if (!entry.is_regular_file(entryError))
            continue;
        Entry listed{entry.path().filename().string(), {}, {}, 0};
        listed.parts = splitFileName(listed.fileName);
        if (!listedType(listed.parts, withPlayTime, listed.type))
            continue;
        listed.size = entry.file_size(entryError);
        if (!entryError)
            entries.push_back(std::move(listed));
    }

    std::vector<std::string> playTimes;
    if (withPlayTime) {
        std::vector<std::string> paths;
        for (const Entry& entry : entries)
            paths.push_back(folder + entry.fileName);
        playTimes = playTimesOf(paths);
    }
    QList<QTreeWidgetItem*> rows;
    for (std::size_t i = 0; i < entries.size(); ++i)
        rows.push_back(makeLocalItem(entries[i].fileName, entries[i].parts, entries[i].type,
                                     entries[i].size, withPlayTime ? &playTimes[i] : nullptr));
    list.addTopLevelItems(rows);

    if (anyEntry)
        list.customSort(withPlayTime ? compareLocalMidiItems : compareFileItems, list.tag);

    for (const auto& [caption, type] : remembered) {
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = list.topLevelItem(i);
            if (sameCaption(row->text(kNameColumn), caption) && row->text(kTypeColumn) == type) {
                row->setSelected(true);
                break;
            }
        }
    }
}

void TmainForm::updateLocalMidiButtons() {
    const auto rows = selectedRows(*localMidiListView_);
    const bool selected = !rows.empty();
    localMidiPlayBtn_->setEnabled(selected);
    localMidiDeleteBtn_->setEnabled(selected);
    const bool timed = std::any_of(rows.begin(), rows.end(), [](const QTreeWidgetItem* row) {
        return row->text(kPlayTimeColumn) != QLatin1String(kUnknownPlayTime);
    });
    midiUploadBtn_->setEnabled(selected && !userID.empty() && !password.empty() && timed);
}

void TmainForm::updateLocalAudioButtons() {
    const bool selected = !localAudioListView_->selectedItems().isEmpty();
    localAudioPlayBtn_->setEnabled(selected);
    localAudioDeleteBtn_->setEnabled(localAudioPlayBtn_->isEnabled());
}

void TmainForm::localMidiListViewChange() {
    updateLocalMidiButtons();
}

void TmainForm::localAudioListViewChange() {
    updateLocalAudioButtons();
}

void TmainForm::localMidiListPopupMenuPopup() {
    const auto item = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name));
    };
    item("localMidiListPopupMenuPlay")->setEnabled(localMidiPlayBtn_->isEnabled());
    item("localMidiListPopupMenuUpload")->setEnabled(midiUploadBtn_->isEnabled());
    item("localMidiListPopupMenuDelete")->setEnabled(localMidiDeleteBtn_->isEnabled());
    item("localMidiListPopupMenuCopy")->setEnabled(localMidiDeleteBtn_->isEnabled());
}

void TmainForm::localAudioListPopupMenuPopup() {
    const auto item = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name));
    };
    item("localAudioListPopupMenuPlay")->setEnabled(localAudioPlayBtn_->isEnabled());
    item("localAudioListPopupMenuDelete")->setEnabled(localAudioDeleteBtn_->isEnabled());
    item("localAudioListPopupMenuCopy")->setEnabled(localAudioDeleteBtn_->isEnabled());
}

void TmainForm::playFirstSelected(const TListViewXPSafe& list, const std::string& folder) {
    const auto rows = selectedRows(list);
    if (!rows.empty())
        shell_.playFile(filePathOf(*rows.front(), folder));
}

void TmainForm::playLocalMidiFile() {
    playFirstSelected(*localMidiListView_, midiFolder);
}

void TmainForm::playLocalAudioFile() {
    playFirstSelected(*localAudioListView_, audioFolder);
}

void TmainForm::deleteLocalMidiFiles() {
    shellDeleteFiles(selectedPaths(*localMidiListView_, midiFolder));
    fillLocalMidiList(true);
}

void TmainForm::deleteLocalAudioFiles() {
    shellDeleteFiles(selectedPaths(*localAudioListView_, audioFolder));
    fillLocalAudioList(true);
}

void TmainForm::copyLocalMidiFiles() {
    const auto paths = selectedPaths(*localMidiListView_, midiFolder);
    shellCopyFiles(paths, paths);
    fillLocalMidiList(true);
}

void TmainForm::copyLocalAudioFiles() {
    const auto paths = selectedPaths(*localAudioListView_, audioFolder);
    shellCopyFiles(paths, paths);
    fillLocalAudioList(true);
}

bool TmainForm::shellDeleteFiles(const std::vector<std::string>& paths) {
    if (paths.empty())
        return false;
    const std::string question =
        paths.size() == 1 ? "Move \"" + fileNameOf(paths.front()) + "\" to the trash?"
                          : "Move these " + std::to_string(paths.size()) + " files to the trash?";
    if (prompts_.show(PromptKind::confirmation, "Delete files", question, PromptButtons::yesNo) !=
        PromptAnswer::yes)
        return false;
    BusyCursor busy;
    return shell_.trashFiles(paths);
}

bool TmainForm::shellCopyFiles(const std::vector<std::string>& sources,
                               const std::vector<std::string>& destinations) {
    if (sources.empty())
        return false;
    BusyCursor busy;
    return shell_.copyFiles(sources, destinations);
}

bool TmainForm::shellRenameFile(const std::string& from, const std::string& to,
                                std::string& finalPath) {
    return shell_.renameFile(from, to, finalPath);
}

// The edited caption names the file anew; its extension stays the one on disk. The row then
// shows the name the file really got, so that it still leads to it.
bool TmainForm::renameLocalFile(TListViewXPSafe& list, QTreeWidgetItem* item,
                                const std::string& folder) {
    const std::string oldName = toBytes(item->data(kNameColumn, kFileNameRole).toString());
    const NameParts oldParts = splitFileName(oldName);
    const std::string typed = toBytes(item->text(kNameColumn));
    const std::string base = splitFileName(typed).base;

    std::string finalPath;
    // A name, not a path: no separators, nothing that would leave the folder.
    const bool usable = !base.empty() && typed.find('/') == std::string::npos &&
                        typed.find(kPathSeparator) == std::string::npos &&
                        typed.find('\0') == std::string::npos;
    const bool renamed =
        usable &&
        shellRenameFile(folder + oldName, folder + base + "." + oldParts.extension, finalPath);

    const QSignalBlocker quiet(&list);
    const std::string shownName = renamed ? fileNameOf(finalPath) : oldName;
    item->setText(kNameColumn, toQString(splitFileName(shownName).base));
    item->setData(kNameColumn, kFileNameRole, toQString(shownName));
    return renamed;
}

void TmainForm::localMidiListViewEdited(QTreeWidgetItem* item) {
    renameLocalFile(*localMidiListView_, item, midiFolder);
}

void TmainForm::localAudioListViewEdited(QTreeWidgetItem* item) {
    renameLocalFile(*localAudioListView_, item, audioFolder);
}

void TmainForm::sortByColumn(TListViewXPSafe& list, int column, bool midiColumns) {
    const int code = column + 1;
    list.tag = list.tag == code ? -code : code;
    BusyCursor busy;
    list.customSort(midiColumns ? compareLocalMidiItems : compareFileItems, list.tag);
}

void TmainForm::localMidiListViewColumnClick(int column) {
    sortByColumn(*localMidiListView_, column, true);
}

void TmainForm::localAudioListViewColumnClick(int column) {
    sortByColumn(*localAudioListView_, column, false);
}

// Delete deletes whatever modifier keys are held; R refreshes when Ctrl is among them.
bool TmainForm::handleLocalListKey(QKeyEvent* event, bool midiPane) {
    if (event->key() == Qt::Key_Delete) {
        midiPane ? deleteLocalMidiFiles() : deleteLocalAudioFiles();
        return true;
    }
    if (event->key() == Qt::Key_R && (event->modifiers() & Qt::ControlModifier)) {
        midiPane ? fillLocalMidiList(true) : fillLocalAudioList(true);
        return true;
    }
    return false;
}

void TmainForm::localMidiListViewKeyDown(QKeyEvent* event) {
    if (handleLocalListKey(event, true))
        event->accept();
}

void TmainForm::localAudioListViewKeyDown(QKeyEvent* event) {
    if (handleLocalListKey(event, false))
        event->accept();
}

} // namespace tonvert
