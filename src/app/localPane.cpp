// The local MIDI and audio panes: listing the folders, the buttons the selection enables,
// and playing, copying, deleting, renaming and sorting the files.

#include "localPane.h"

#include <QAbstractButton>
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <utility>

#include "ListViewXPSafe.h"
#include "asciiText.h"
#include "busyCursor.h"
#include "dirsUnit.h"
#include "fileNames.h"
#include "folderWatch.h"
#include "midiUnit.h"
#include "paneWidgets.h"
#include "prompts.h"
#include "shell.h"
#include "shellFiles.h"

namespace tonvert {

namespace {

constexpr Qt::Alignment kRight = Qt::AlignRight;

constexpr const char* kUploadHint = "Upload selected MIDI files for rendering";

// Times the files, each read once, on all of the machine's cores: reading and timing is
// nearly all of a fill's time.
void timeFiles(const std::string& folder, std::vector<FileRow>& rows) {
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < rows.size(); i = next++)
            rows[i].playTime = midiFilePlayTime(folder + rows[i].fileName);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto helpers = std::min<std::size_t>(cores - 1, rows.size() / 16);
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < helpers; ++i)
        threads.emplace_back(work);
    work();
}

bool isOneOf(const std::string& type, const std::vector<const char*>& types) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

struct Listing {
    std::vector<FileRow> rows;
    bool anyEntry = false;
};

// The folder's files of the given types, untimed and unsorted.
Listing listFolder(const std::string& folder, const std::vector<const char*>& types) {
    Listing listing;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error), end;
         !error && it != end; it.increment(error)) {
        listing.anyEntry = true;
        std::error_code entryError;
        if (!it->is_regular_file(entryError))
            continue;
        std::string fileName = it->path().filename().native();
        const NameParts parts = splitFileName(fileName);
        std::string type = ascii::toUpper(parts.extension);
        if (!parts.hasExtension || !isOneOf(type, types))
            continue;
        const std::uintmax_t size = it->file_size(entryError);
        if (entryError)
            continue;
        FileRow row;
        row.fileName = std::move(fileName);
        row.nameSize = parts.base.size();
        row.type = std::move(type);
        row.size = size;
        listing.rows.push_back(std::move(row));
    }
    return listing;
}

// Where a list stands: the files of its top and current rows (none or one each), found
// again after the rows were replaced.
struct ListPlace {
    int topRow = -1;
    std::vector<FileRow> top;
    std::vector<FileRow> current;
};

ListPlace placeOf(const TListViewXPSafe& list, const FileListModel& model) {
    ListPlace place;
    place.topRow = list.topRow();
    if (place.topRow >= 0)
        place.top.push_back(model.row(place.topRow));
    if (list.currentRow() >= 0)
        place.current.push_back(model.row(list.currentRow()));
    return place;
}

void restorePlace(TListViewXPSafe& list, const FileListModel& model, const ListPlace& place) {
    const std::vector<int> current = rowsOfKept(model.rows(), place.current);
    if (!current.empty())
        list.setCurrentRow(current.front());
    // When the top row's file went, the list stays as far down as it was.
    const std::vector<int> top = rowsOfKept(model.rows(), place.top);
    const int rowCount = static_cast<int>(model.rows().size());
    list.scrollToTopRow(top.empty() ? std::min(place.topRow, rowCount - 1) : top.front());
}

} // namespace

const char* uploadBlockedReason(const MainState& state) {
    if (!state.hasCredentials())
        return "Sign up or confirm your account to upload";
    if (state.requestWaiting())
        return "Wait until the request to the service has ended";
    return nullptr;
}

std::optional<double> midiFilePlayTime(const std::string& path) {
    try {
        TMidiFile midi;
        std::string message;
        if (loadMidiFile(path, false, midi, message)) {
            const auto seconds = midiPlayTime(midi, message);
            if (seconds && message.empty())
                return *seconds;
        }
    } catch (...) {
    }
    return std::nullopt;
}

const LocalPaneKind kLocalMidiPaneKind{
    "localMidi",
    "&Local MIDI files",
    "Refresh list of files in local MIDI folder",
    "Play selected file in local MIDI folder",
    "Delete selected files from local MIDI folder",
    {"MID", "RMI"},
    true,
    &MainState::midiFolder,
    {{FileColumn::name, {"Name", 100}},
     {FileColumn::type, {"Type", 50}},
     {FileColumn::playTime, {"Playtime", 60}},
     {FileColumn::size, {"Size", 62, kRight}}},
    compareLocalMidiItems,
};

const LocalPaneKind kLocalAudioPaneKind{
    "localAudio",
    "Local a&udio files",
    "Refresh list of files in local audio folder",
    "Play selected file in local audio folder",
    "Delete selected files from local audio folder",
    {"MP3", "OGG", "WMA", "WAV"},
    false,
    &MainState::audioFolder,
    {{FileColumn::name, {"Name", 150}},
     {FileColumn::type, {"Type", 50}},
     {FileColumn::size, {"Size", 72, kRight}}},
    compareFileItems,
};

LocalPane::LocalPane(const LocalPaneKind& kind, MainState& state, const Seams& seams,
                     QWidget* parent)
    : FilePane(kind.prefix, kind.columns, state, seams, parent)
    , kind_(kind) {
    createWidgets();
    if (kind_.midi)
        createPopupMenu({{"&Refresh"},
                         {},
                         {"&Play"},
                         {"&Upload"},
                         {},
                         {"&Copy"},
                         {"&Delete"},
                         {},
                         {"&Folder"}});
    else
        createPopupMenu({{"&Refresh"}, {}, {"&Play"}, {}, {"&Copy"}, {"&Delete"}, {}, {"&Folder"}});
    connect(popupMenu_, &QMenu::aboutToShow, this, &LocalPane::popupMenuPopup);
    onPopupItem("Refresh", [this] { fill(true); });
    onPopupItem("Play", [this] { playFile(); });
    onPopupItem("Copy", [this] { copyFiles(); });
    onPopupItem("Delete", [this] { deleteFiles(); });
    onPopupItem("Folder", [this] { emit folderRequested(); });
    if (kind_.midi)
        onPopupItem("Upload", [this] { emit uploadRequested(); });
}

void LocalPane::createWidgets() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (kind_.midi) {
        QPushButton* upload =
            makeWideButton(this, "midiUploadBtn", "Upload MIDI", QStyle::SP_ArrowUp);
        uploadBtn_ = upload;
        layout->addWidget(upload);
        connect(upload, &QAbstractButton::clicked, this, &LocalPane::uploadRequested);
    }

    model_->setCaptionsEditable(true);
    list_->setCaptionsEditable(true);
    layout->addWidget(list_, 1);

    QToolButton* refresh =
        makeToolButton(this, name("RefreshBtn"), QStyle::SP_BrowserReload, kind_.refreshHint);
    QToolButton* play =
        makeToolButton(this, name("PlayBtn"), QStyle::SP_MediaPlay, kind_.playHint, false);
    QToolButton* remove =
        makeToolButton(this, name("DeleteBtn"), QStyle::SP_TrashIcon, kind_.deleteHint, false);
    playBtn_ = play;
    deleteBtn_ = remove;
    layout->addLayout(buttonRow({refresh, play},
                                makeCentredLabel(this, name("Label"), kind_.label, list_), remove));

    connect(refresh, &QAbstractButton::clicked, this, [this] { fill(true); });
    connect(play, &QAbstractButton::clicked, this, &LocalPane::playFile);
    connect(remove, &QAbstractButton::clicked, this, &LocalPane::deleteFiles);
    connect(list_, &TListViewXPSafe::changed, this, &LocalPane::updateButtons);
    connect(list_, &TListViewXPSafe::columnClicked, this,
            [this](int column) { sortByColumn(column, kind_.compare); });
    connect(list_, &TListViewXPSafe::keyDown, this, &LocalPane::keyDown);
    connect(model_, &FileListModel::captionEdited, this, &LocalPane::rename);
    createFolderLinks();
}

void LocalPane::createFolderLinks() {
    watch_ = new FolderWatch(this);
    connect(watch_, &FolderWatch::changed, this, &LocalPane::folderChanged);
    connect(list_, &TListViewXPSafe::editorClosed, this, [this] {
        // Once the view is done with the editor.
        if (std::exchange(refillWaits_, false))
            QTimer::singleShot(0, this, &LocalPane::folderChanged);
    });
    if (kind_.midi) {
        list_->setFileDropsAccepted(true);
        // Out of the drop event: the source of the drag is not kept waiting on a message.
        connect(list_, &TListViewXPSafe::filesDropped, this,
                [this](const std::vector<std::string>& paths) {
                    QTimer::singleShot(0, this, [this, paths] { copyDropped(paths); });
                });
    } else {
        list_->setRowsDragOut([this](const std::vector<int>& rows) {
            std::vector<std::string> paths;
            for (const int row : rows)
                paths.push_back(pathOf(model_->row(row)));
            return paths;
        });
    }
}

void LocalPane::fill(bool keepSelection) {
    BusyCursor busy;
    // The rebuild is no change of the user's selection.
    const QSignalBlocker quiet(list_);
    const std::string folder = this->folder();

    std::vector<FileRow> remembered;
    ListPlace place;
    if (keepSelection) {
        remembered = selectedFiles();
        place = placeOf(*list_, *model_);
    }
    Listing listing = listFolder(folder, kind_.types);
    std::vector<std::string> names;
    for (const FileRow& row : listing.rows)
        names.push_back(row.fileName);
    watch_->watch(folder, names);
    if (kind_.midi)
        timeFiles(folder, listing.rows);
    // The rows go into the list sorted and all at once: the view lays them out once.
    if (listing.anyEntry)
        FileListModel::sortRows(listing.rows, kind_.compare, list_->tag);
    model_->setRows(std::move(listing.rows));

    reselect(remembered);
    if (keepSelection)
        restorePlace(*list_, *model_, place);
    updateButtons();
}

// Another program changed the folder. A refill would end the editing of a name, so it
// waits until the editor is closed.
void LocalPane::folderChanged() {
    if (list_->editing()) {
        refillWaits_ = true;
        return;
    }
    fill(true);
}

void LocalPane::updateButtons() {
    const std::vector<FileRow> selected = selectedFiles();
    playBtn_->setEnabled(!selected.empty());
    deleteBtn_->setEnabled(playBtn_->isEnabled());
    if (uploadBtn_ == nullptr)
        return;
    const bool timed = std::any_of(selected.begin(), selected.end(),
                                   [](const FileRow& row) { return row.playTime.has_value(); });
    const char* whyNot = uploadBlockedReason(state_);
    if (whyNot == nullptr && !timed)
        whyNot = "Select MIDI files whose play time is known";
    uploadBtn_->setEnabled(whyNot == nullptr);
    uploadBtn_->setToolTip(QString::fromLatin1(whyNot != nullptr ? whyNot : kUploadHint));
}

void LocalPane::popupMenuPopup() {
    popupItem("Play")->setEnabled(playBtn_->isEnabled());
    popupItem("Delete")->setEnabled(deleteBtn_->isEnabled());
    popupItem("Copy")->setEnabled(deleteBtn_->isEnabled());
    if (uploadBtn_ != nullptr)
        popupItem("Upload")->setEnabled(uploadBtn_->isEnabled());
}

std::string LocalPane::pathOf(const FileRow& file) const {
    return folder() + file.fileName;
}

std::vector<std::string> LocalPane::selectedPaths() const {
    std::vector<std::string> paths;
    for (const FileRow& file : selectedFiles())
        paths.push_back(pathOf(file));
    return paths;
}

void LocalPane::playFile() {
    const std::vector<FileRow> selected = selectedFiles();
    if (!selected.empty())
        shellPlayFile(seams_.prompts, seams_.shell, pathOf(selected.front()));
}

void LocalPane::deleteFiles() {
    shellDeleteFiles(seams_.prompts, seams_.shell, selectedPaths());
    fill(true);
}

void LocalPane::copyFiles() {
    const std::vector<std::string> paths = selectedPaths();
    shellCopyFiles(seams_.prompts, seams_.shell, paths, paths);
    fill(true);
}

bool LocalPane::listsType(const std::string& fileName) const {
    const NameParts parts = splitFileName(fileName);
    return parts.hasExtension && isOneOf(ascii::toUpper(parts.extension), kind_.types);
}

// Dropped files of the pane's types are copied into its folder as Copy copies, taking a
// fresh name when theirs is taken; files that lie in the folder already stay as they are.
void LocalPane::copyDropped(const std::vector<std::string>& paths) {
    const std::string folder = this->folder();
    std::vector<std::string> sources;
    std::vector<std::string> destinations;
    bool anyListed = false;
    for (const std::string& path : paths) {
        const std::string fileName = fileNameOf(path);
        if (!listsType(fileName))
            continue;
        anyListed = true;
        std::error_code error;
        if (std::filesystem::equivalent(std::filesystem::path(path).parent_path(), folder, error))
            continue;
        sources.push_back(path);
        destinations.push_back(folder + fileName);
    }
    if (!anyListed) {
        std::string types;
        for (const char* type : kind_.types)
            types += std::string(types.empty() ? "" : ", ") + type;
        seams_.prompts.show(PromptKind::error, "",
                            "Only MIDI files (" + types + ") can be dropped here.",
                            PromptButtons::ok);
        return;
    }
    if (sources.empty())
        return;
    shellCopyFiles(seams_.prompts, seams_.shell, sources, destinations);
    fill(true);
}

// The edited caption names the file anew; its extension stays the one on disk. The row then
// shows the name the file really got, so that it still leads to it.
void LocalPane::rename(int row, const QString& typed) {
    FileRow file = model_->row(row);
    const std::string oldName = file.fileName;
    const std::string typedBytes = typed.toLocal8Bit().toStdString();
    const std::string base = splitFileName(typedBytes).base;
    // A name, not a path: no separators, nothing that would leave the folder.
    const bool usable = !base.empty() && typedBytes.find('/') == std::string::npos &&
                        typedBytes.find(kPathSeparator) == std::string::npos &&
                        typedBytes.find('\0') == std::string::npos;
    if (!usable) {
        seams_.prompts.show(PromptKind::error, "",
                            "\"" + typedBytes +
                                "\" is not a file name: a name cannot be empty or hold a \"/\".",
                            PromptButtons::ok);
        return;
    }
    const std::string newName = base + "." + splitFileName(oldName).extension;
    std::string finalPath;
    if (!shellRenameFile(seams_.shell, folder() + oldName, folder() + newName, finalPath)) {
        seams_.prompts.show(PromptKind::error, "",
                            "\"" + oldName + "\" could not be renamed to \"" + newName + "\".",
                            PromptButtons::ok);
        return;
    }
    const std::string givenName = fileNameOf(finalPath);
    file.nameSize = splitFileName(givenName).base.size();
    file.fileName = givenName;
    model_->setRow(row, std::move(file));
}

// Delete deletes whatever modifier keys are held; R refreshes when Ctrl is among them.
void LocalPane::keyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        event->accept();
        deleteFiles();
    } else if (event->key() == Qt::Key_R && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        fill(true);
    }
}

} // namespace tonvert
