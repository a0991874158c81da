#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "dirsUnit.h"
#include "mainState.h"

class QAbstractButton;
class QFrame;
class QKeyEvent;
class QLabel;
class QMenu;
class QSplitter;
class QTreeWidgetItem;

namespace tonvert {

class ConnectionState;
class MessagePump;
class Prompts;
class Shell;
class TListViewXPSafe;
class TNet;
class TPortableIniFile;

// The program's one window: the online panes above, the local panes below, and the state
// that every command shares.
class TmainForm : public QMainWindow {
    Q_OBJECT
public:
    // `programPath` is the running program's file: the settings file, the manual and the
    // default folders lie beside it.
    TmainForm(const std::string& programPath, const Seams& seams, QWidget* parent = nullptr);
    ~TmainForm() override;

    // Folders end in the path separator; file names are appended to them directly.
    std::string midiFolder;
    std::string audioFolder;
    std::string tempFolder;
    std::string userID;
    std::string password;
    std::string testURL;
    ServiceSettings service;
    // The connection settings and the one transfer at a time.
    std::unique_ptr<TNet> net;

    const ProgramPaths& paths() const { return paths_; }
    static constexpr int kHelpContext = 1100;
    bool startupDone() const { return startupDone_; }

    void loadMainSettings();
    void saveMainSettings();
    void readCredentials(const TPortableIniFile& ini);
    void writeCredentials();

    // Shows the about box centred over the window; a positive time closes it by itself.
    void showAboutDialog(int milliseconds);

    // The first activation fills the panes, shows the splash and leads a new user into
    // signing up; later activations do nothing.
    void FormActivate();

    // The local panes: list the folder's files (keeping the selection when asked), enable the
    // buttons that the selection allows, and work on the selected files.
    virtual void fillLocalMidiList(bool keepSelection);
    virtual void fillLocalAudioList(bool keepSelection);
    void updateLocalMidiButtons();
    void updateLocalAudioButtons();
    void playLocalMidiFile();
    void playLocalAudioFile();
    void copyLocalMidiFiles();
    void copyLocalAudioFiles();
    void deleteLocalMidiFiles();
    void deleteLocalAudioFiles();

    // File operations of the desktop on behalf of the window: deleting asks the user first
    // and moves the files to the trash; copies and renames take a fresh name when the target
    // is taken. Each is true only when everything was done.
    bool shellDeleteFiles(const std::vector<std::string>& paths);
    bool shellCopyFiles(const std::vector<std::string>& sources,
                        const std::vector<std::string>& destinations);
    bool shellRenameFile(const std::string& from, const std::string& to, std::string& finalPath);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // Account commands that the first activation runs for a user without credentials.
    virtual void menuSetupSignupClick();
    virtual void menuSetupConfirmClick();

    // Online pane fills of the first activation.
    virtual void showOnlineMidiList(bool keepSelection);
    virtual void showOnlineAudioList(bool keepSelection);

private:
    // Heights and widths of the panes that the splitters move.
    struct PaneSizes {
        int topPanelHeight = 145;
        int onlineMidiPanelWidth = 274;
        int localMidiPanelWidth = 274;
    };

    void FormCreate();
    void FormClose();
    void FormDestroy();

    void createPanels();
    void createOnlineMidiPane();
    void createOnlineAudioPane();
    void createLocalMidiPane();
    void createLocalAudioPane();
    void createMainMenu();
    void createPopupMenus();
    void connectLocalPanes();

    void fillLocalList(TListViewXPSafe& list, const std::string& folder, bool withPlayTime,
                       bool keepSelection);
    void playFirstSelected(const TListViewXPSafe& list, const std::string& folder);
    bool renameLocalFile(TListViewXPSafe& list, QTreeWidgetItem* item, const std::string& folder);
    void sortByColumn(TListViewXPSafe& list, int column, bool midiColumns);
    bool handleLocalListKey(QKeyEvent* event, bool midiPane);

    void localMidiListViewChange();
    void localAudioListViewChange();
    void localMidiListViewColumnClick(int column);
    void localAudioListViewColumnClick(int column);
    void localMidiListViewEdited(QTreeWidgetItem* item);
    void localAudioListViewEdited(QTreeWidgetItem* item);
    void localMidiListViewKeyDown(QKeyEvent* event);
    void localAudioListViewKeyDown(QKeyEvent* event);
    void localMidiListPopupMenuPopup();
    void localAudioListPopupMenuPopup();

    PaneSizes paneSizes() const;
    void setPaneSizes(const PaneSizes& sizes);
    void applyPaneSizes();
    void readServiceSettings(const TPortableIniFile& ini);

    void menuHelpAboutClick();

    ProgramPaths paths_;
    Prompts& prompts_;
    Shell& shell_;
    ConnectionState& connection_;
    MessagePump& pump_;

    bool startupDone_ = false;
    bool startupRunning_ = false;
    bool firstShowDone_ = false;
    PaneSizes pendingPaneSizes_;

    QWidget* basePanel_ = nullptr;
    QSplitter* basePanelSplitter_ = nullptr;
    QFrame* topPanel_ = nullptr;
    QFrame* bottomPanel_ = nullptr;
    QSplitter* onlineMidiAudioSplitter_ = nullptr;
    QSplitter* localMidiAudioSplitter_ = nullptr;
    QFrame* onlineMidiPanel_ = nullptr;
    QFrame* onlineAudioPanel_ = nullptr;
    QFrame* localMidiPanel_ = nullptr;
    QFrame* localAudioPanel_ = nullptr;

    TListViewXPSafe* onlineMidiListView_ = nullptr;
    TListViewXPSafe* onlineAudioListView_ = nullptr;
    TListViewXPSafe* localMidiListView_ = nullptr;
    TListViewXPSafe* localAudioListView_ = nullptr;

    QMenu* onlineMidiListPopupMenu_ = nullptr;
    QMenu* onlineAudioListPopupMenu_ = nullptr;
    QMenu* localMidiListPopupMenu_ = nullptr;
    QMenu* localAudioListPopupMenu_ = nullptr;

    QAbstractButton* midiUploadBtn_ = nullptr;
    QAbstractButton* localMidiPlayBtn_ = nullptr;
    QAbstractButton* localMidiDeleteBtn_ = nullptr;
    QAbstractButton* localAudioPlayBtn_ = nullptr;
    QAbstractButton* localAudioDeleteBtn_ = nullptr;
};

} // namespace tonvert
