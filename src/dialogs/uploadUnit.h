#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "mainState.h"
#include "serviceRequests.h"
#include "uploadOptions.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tonvert {

class TListViewXPSafe;
class TNet;
class OptionsModel;

// Where the user picks the audio format and quality preset for the MIDI files chosen in the
// main window, sees the size estimate and sends the files, one POST per file. The caller sets
// the job, loads the settings, shows the dialog modally, saves the settings and reads
// `uploaded`.
class TuploadForm : public QDialog {
    Q_OBJECT
public:
    TuploadForm(QWidget* owner, MainState& state, const Seams& seams);
    ~TuploadForm() override;

    TNet* net;              // the state's, unless the caller sets another
    int fileIndex = 0;      // the file being sent
    bool uploaded = false;  // the service took at least one file
    bool activated = false; // the dialog has been shown

    // The files to send and the account to send them for; the estimate follows the play time.
    void setJob(UploadJob job);
    const UploadJob& job() const { return job_; }

    void loadSettings(const std::string& settingsPath);
    void saveSettings(const std::string& settingsPath);
    // Scrolls the row into view a few lines at a time and selects it; -1 does nothing.
    void scrollToAndSelectItem(int row);
    // The selected preset as the service's "PRM" field wants it.
    std::string paramString() const;

    void fileFormatComboBoxChange();
    void optionsListViewColumnClick(int column);
    void optionsListViewSelectItem();
    void uploadBtnClick();
    void abortBtnClick();
    void OnNetProgress(double fraction);

public slots:
    // The close box and Escape: during a run they abort it, and the dialog closes when the
    // run ends.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    int formatIndex() const;
    int selectedRow() const;
    void selectOnly(int row);
    void sendFiles(const std::string& parameters);
    void uploadFailed(const std::string& name, const std::string& reason);

    MainState& state_;
    Seams seams_;
    UploadJob job_;
    bool runStarted_ = false;
    bool running_ = false;
    bool abortClicked_ = false;

    QLabel* fileFormatStaticText_;
    QComboBox* fileFormatComboBox_;
    TListViewXPSafe* optionsListView_;
    OptionsModel* options_;
    QLabel* sizeStaticText_;
    QLabel* estimateStaticText_;
    QPushButton* uploadBtn_;
    QFrame* progressPanel_;
    QProgressBar* progressBar_;
    QPushButton* abortBtn_;
};

// Orders two presets under the list's sort code (see optionSortKey) with the user's locale's
// collation, letter case aside.
int compareOptionRows(const OptionRow& a, const OptionRow& b, int code);

} // namespace tonvert
