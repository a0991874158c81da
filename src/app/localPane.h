#pragma once

#include <optional>
#include <string>
#include <vector>

#include "filePane.h"
#include "fileRows.h"
#include "mainState.h"

class QAbstractButton;
class QKeyEvent;
class QMenu;

namespace tonvert {

class FolderWatch;
class TListViewXPSafe;

// What sets a local pane apart: its names, the files it lists, its folder and columns.
struct LocalPaneKind {
    const char* prefix; // the pane's widgets are prefix + "ListView", "RefreshBtn", ...
    const char* label;  // its mnemonic moves the focus to the list
    const char* refreshHint;
    const char* playHint;
    const char* deleteHint;
    std::vector<const char*> types; // extensions in capitals
    // The MIDI pane times its files and has "Upload MIDI"; the audio pane does neither.
    bool midi;
    std::string MainState::*folder;
    std::vector<FileListModel::Column> columns;
    FileListModel::Comparison compare;
};
extern const LocalPaneKind kLocalMidiPaneKind;
extern const LocalPaneKind kLocalAudioPaneKind;

// The play time of a MIDI file, or none when it cannot be read or timed.
std::optional<double> midiFilePlayTime(const std::string& path);

// Why no upload can start now (no account yet, or another request waits); none when one can.
const char* uploadBlockedReason(const MainState& state);

// A pane of the files in a local folder: its list, buttons and popup menu. The user sorts,
// renames in place, plays, copies and deletes the files. The pane follows what other
// programs do in the folder; files dropped on the MIDI pane are copied into its folder, and
// the audio pane's rows drag out as files.
class LocalPane : public FilePane {
    Q_OBJECT
public:
    LocalPane(const LocalPaneKind& kind, MainState& state, const Seams& seams,
              QWidget* parent = nullptr);

    // Lists the folder's files anew, keeping the selected ones selected when asked, and the
    // list where it was scrolled to. The pane watches the folder it lists from then on.
    void fill(bool keepSelection);
    // Enables what the selection (and, for uploads, the credentials) allows; the tool tip of
    // a disabled "Upload MIDI" tells why it is disabled.
    void updateButtons();
    void playFile();
    void copyFiles();
    void deleteFiles();

    std::string folder() const { return state_.*kind_.folder; }
    std::string pathOf(const FileRow& file) const;

    // "Upload MIDI" of the MIDI pane; none in the audio pane.
    QAbstractButton* uploadButton() { return uploadBtn_; }

    // The file name is of a type the pane lists.
    bool listsType(const std::string& fileName) const;

signals:
    void uploadRequested();
    void folderRequested();

private:
    void createWidgets();
    // The folder's watch, and the drops and drags of files.
    void createFolderLinks();
    void popupMenuPopup();
    void rename(int row, const QString& typed);
    void keyDown(QKeyEvent* event);
    std::vector<std::string> selectedPaths() const;
    void folderChanged();
    void copyDropped(const std::vector<std::string>& paths);

    const LocalPaneKind& kind_;
    FolderWatch* watch_ = nullptr;
    // A change of the folder came while a name was being edited.
    bool refillWaits_ = false;
    QAbstractButton* uploadBtn_ = nullptr;
    QAbstractButton* playBtn_ = nullptr;
    QAbstractButton* deleteBtn_ = nullptr;
};

} // namespace tonvert
