#pragma once

#include <string>
#include <vector>

#include "filePane.h"
#include "fileRows.h"
#include "mainState.h"
#include "onlineListFile.h"

class QAbstractButton;
class QKeyEvent;
class QLabel;
class QMenu;

namespace tonvert {

class TListViewXPSafe;

// What sets an online pane apart: its names, columns, list file and commands.
struct OnlinePaneKind {
    const char* prefix; // the pane's widgets are prefix + "ListView", "RefreshBtn", ...
    const char* label;  // its mnemonic moves the focus to the list
    const char* refreshHint;
    const char* deleteHint;
    std::vector<FileListModel::Column> columns;
    const char* listFile;    // in the temporary folder
    const char* listCommand; // the service command that lists the files
    const char* deleteCommand;
    const char* deleteFailure; // the lead of a refused delete's message
    // The audio pane lists sizes in blocks, deletes by name and downloads; the MIDI pane
    // lists record numbers and deletes by number.
    bool audio;
};
extern const OnlinePaneKind kOnlineMidiPaneKind;
extern const OnlinePaneKind kOnlineAudioPaneKind;

// How an automatic refresh went.
enum class QuietRefresh { shown, notNow, transportFailed, refused };

// A pane of the user's files on the service: the last list fetched, kept in a list file so
// that the next start shows it before going on line.
class OnlinePane : public FilePane {
    Q_OBJECT
public:
    OnlinePane(const OnlinePaneKind& kind, MainState& state, const Seams& seams,
               QWidget* parent = nullptr);

    // Fetches the list from the service, keeps it in the list file and shows it.
    void refresh(bool keepSelection);
    // Fetches the list as `refresh` does, keeping the selection, but shows no box and no busy
    // cursor: a failure is told in the information panel. Sends nothing while another request
    // waits or without credentials.
    QuietRefresh refreshQuietly();
    // Shows the list file as it is.
    void showList(bool keepSelection);
    // The list file held a list when it was last shown.
    bool listValid() const { return listValid_; }
    // Deletes the selected files on the service, then refreshes.
    void deleteFiles();
    void updateButtons();

    std::string listFilePath() const;
    QLabel& infoPanel() { return *infoPanel_; }
    // "Download audio" of the audio pane; none in the MIDI pane.
    QAbstractButton* downloadButton() { return downloadBtn_; }

signals:
    void downloadRequested();
    // The list was shown anew, from the service or from the list file.
    void listShown();
    // Files dropped on the MIDI pane, to be uploaded.
    void uploadRequested(const std::vector<std::string>& paths);

private:
    void createWidgets();
    void popupMenuPopup();
    void keyDown(QKeyEvent* event);
    // Gives false when the walk stopped in a way that leaves the list as it is.
    bool deleteWalk(const std::vector<FileRow>& files);
    bool confirmDelete(const std::vector<FileRow>& files);
    std::string listRequestUrl() const;
    void keepList(const std::string& reply, bool keepSelection);
    void showRows(OnlineListRows shown, bool keepSelection);

    const OnlinePaneKind& kind_;
    QLabel* infoPanel_ = nullptr;
    QAbstractButton* refreshBtn_ = nullptr;
    QAbstractButton* deleteBtn_ = nullptr;
    QAbstractButton* downloadBtn_ = nullptr;
    bool listValid_ = false;
};

} // namespace tonvert
