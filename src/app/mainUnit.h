#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dirsUnit.h"
#include "fileRows.h"
#include "mainState.h"

class QAction;
class QFrame;
class QSplitter;

namespace tonvert {

class FilePane;
class LocalPane;
class THookHelpSystem;
class OnlineArrivals;
class OnlinePane;
class DesktopNotifier;
class TPortableIniFile;

// The account command that the first activation runs: signing up without a user ID,
// confirming the account without a password.
enum class StartupAccountCommand { none, signup, confirm };
StartupAccountCommand accountCommandFor(const MainState& state);

// The program's one window: the online panes above, the local panes below, the state that
// every command shares, and the commands that span panes.
class TmainForm : public QMainWindow {
    Q_OBJECT
public:
    // `paths` places the settings file, the manual and the default folders.
    TmainForm(const ProgramPaths& paths, const Seams& seams, QWidget* parent = nullptr);
    // `programPath` is the running program's file: the settings file, the manual and the
    // default folders lie beside it.
    TmainForm(const std::string& programPath, const Seams& seams, QWidget* parent = nullptr)
        : TmainForm(programPathsFor(programPath), seams, parent) {}
    ~TmainForm() override;

    MainState state;
    // Routes the application's help requests to the manual beside the program.
    std::unique_ptr<THookHelpSystem> helpSystem;

    const ProgramPaths& paths() const { return paths_; }
    static constexpr int kHelpContext = 1100;
    static constexpr int kNetworkHelpContext = 1200;
    // Opens the manual on the topic of a help context.
    void showHelp(int context);
    bool startupDone() const { return startupDone_; }

    void loadMainSettings();
    void saveMainSettings();
    void readCredentials(const TPortableIniFile& ini);
    void writeCredentials();
    void readConnectSettings(const TPortableIniFile& ini);
    void writeConnectSettings(TPortableIniFile& ini);

    // Shows the about box centred over the window; a positive time closes it by itself.
    void showAboutDialog(int milliseconds);

    // The first activation fills the panes, shows the splash and leads a new user into
    // signing up; later activations do nothing.
    void FormActivate();

    // The panes.
    LocalPane& localMidiPane() { return *localMidiPane_; }
    LocalPane& localAudioPane() { return *localAudioPane_; }
    OnlinePane& onlineMidiPane() { return *onlineMidiPane_; }
    OnlinePane& onlineAudioPane() { return *onlineAudioPane_; }

    void fillLocalMidiList(bool keepSelection);
    void fillLocalAudioList(bool keepSelection);
    void updateLocalMidiButtons();
    void updateLocalAudioButtons();
    void playLocalMidiFile();
    void playLocalAudioFile();
    void copyLocalMidiFiles();
    void copyLocalAudioFiles();
    void deleteLocalMidiFiles();
    void deleteLocalAudioFiles();

    void refreshOnlineMidiList(bool keepSelection);
    void refreshOnlineAudioList(bool keepSelection);
    void showOnlineMidiList(bool keepSelection);
    void showOnlineAudioList(bool keepSelection);
    void deleteOnlineMidiFiles();
    void deleteOnlineAudioFiles();
    void updateOnlineMidiButtons();
    void updateOnlineAudioButtons();

    // Sends the selected local MIDI files to the service through the upload dialog, and
    // fetches the selected audio files into the audio folder through the download dialog.
    void midiUpload();
    void audioDownload();
    // Fetches the named files of the online audio list through the download dialog.
    void downloadAudioFiles(const std::vector<std::string>& names);
    // Sends dropped MIDI files through the upload dialog; those that cannot go are named.
    void midiUploadFiles(const std::vector<std::string>& paths);
    // Asks the service again by itself while uploads wait, and tells of audio that arrives.
    OnlineArrivals& arrivals() { return *arrivals_; }
    void midiUploadBtnClick() { midiUpload(); }
    void audioDownloadBtnClick() { audioDownload(); }

    // The Setup menu: account, network and folders.
    void menuSetupClick();
    void menuSetupSignupClick();
    bool OnSignup(const std::string& address);
    void menuSetupConfirmClick();
    bool OnConfirm(const std::string& password);
    void menuSetupRequestPasswordClick();
    void menuSetupEnterPasswordClick();
    void menuSetupNetworkClick();
    void menuSetupMidiFolderClick();
    void menuSetupAudioFolderClick();
    // Takes the item's check into state.autoDownload and keeps it in the settings file at once.
    void menuSetupAutoDownloadClick();

    // The Funds and Help menus.
    void menuFundsClick();
    void menuFundsAddClick();
    void menuFundsViewClick();
    void menuFundsFeesClick();
    void menuHelpManualClick();
    void menuHelpWebClick();
    void menuHelpAboutClick();

    bool shellDeleteFiles(const std::vector<std::string>& paths);
    bool shellCopyFiles(const std::vector<std::string>& sources,
                        const std::vector<std::string>& destinations);
    bool shellRenameFile(const std::string& from, const std::string& to, std::string& finalPath);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Where a splitter stands as the settings file keeps it: the first pane's size out of the
    // length both panes share. Older files keep no length (0): the size is then taken out of
    // the length the splitter has when the window is first laid out. No size stored: -1.
    struct SplitterPosition {
        int first = -1;
        int length = 0;
    };
    // The online and local halves, the two online panes, the two local panes.
    static constexpr int kSplitterCount = 3;

    void FormCreate();
    void FormClose();
    void FormDestroy();

    void createPanels();
    void createMainMenu();
    // Places a dialog centred over the window; it may stick out of it.
    void centre(QWidget& dialog) const;

    void shareSplitters();
    std::array<QSplitter*, kSplitterCount> paneSplitters() const;
    SplitterPosition splitterPosition(int splitter) const;
    void setSplitterPosition(int splitter, const SplitterPosition& position);
    // The length the splitter's two panes share.
    int splitterLength(int splitter) const;
    // Each list's column widths and sort code.
    std::array<std::pair<FilePane*, FileListModel::Comparison>, 4> listPanes() const;
    void loadListSettings(const TPortableIniFile& ini);
    void saveListSettings(TPortableIniFile& ini);
    void readServiceSettings(const TPortableIniFile& ini);

    // Places a dialog of the Setup menu near the top left of the window's client area.
    void placeSetupDialog(QWidget& dialog) const;
    QAction* menuItem(const char* name) const;
    void connectMenus();
    // Enables what may run now: no command that sends a request while one waits.
    void updateServiceCommands();
    // Lets the user pick a folder for `folder`; a new one is taken and its pane refilled.
    void chooseFolder(const char* title, std::string& folder, const std::function<void()>& refill);
    // Asks the service for numbers and shows the text `read` makes of its reply.
    void showServiceNumbers(const char* command,
                            bool (*read)(const std::string&, const std::string&, std::string&));

    ProgramPaths paths_;
    Seams seams_;

    bool startupDone_ = false;
    bool startupRunning_ = false;
    bool firstShowDone_ = false;
    // Positions read before the window was first laid out.
    std::array<SplitterPosition, kSplitterCount> storedSplitters_;

    QWidget* basePanel_ = nullptr;
    QSplitter* basePanelSplitter_ = nullptr;
    QFrame* topPanel_ = nullptr;
    QFrame* bottomPanel_ = nullptr;
    QSplitter* onlineMidiAudioSplitter_ = nullptr;
    QSplitter* localMidiAudioSplitter_ = nullptr;
    // A MIDI file to upload with its play time in seconds.
    struct TimedMidiFile {
        std::string path;
        double playTime;
    };
    void runUpload(const std::vector<TimedMidiFile>& files);
    void createArrivals();

    DesktopNotifier* desktopNotifier_ = nullptr;
    OnlineArrivals* arrivals_ = nullptr;
    OnlinePane* onlineMidiPane_ = nullptr;
    OnlinePane* onlineAudioPane_ = nullptr;
    LocalPane* localMidiPane_ = nullptr;
    LocalPane* localAudioPane_ = nullptr;
};

} // namespace tonvert
