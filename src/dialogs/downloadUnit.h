#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "mainState.h"
#include "serviceRequests.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTimer;
class QWidget;

namespace tonvert {

class TNet;

// Fetches rendered audio files from the service into a local folder, one request per file,
// with the file's name, a progress bar and an Abort button. The run starts by itself once the
// dialog is on screen and the dialog closes when it ends. Each file arrives in a hidden file
// beside its final one and replaces it only when it came whole and is no error reply, so a
// failed or refused download leaves an older copy as it was.
class TdownloadForm : public QDialog {
    Q_OBJECT
public:
    TdownloadForm(QWidget* owner, MainState& state, const Seams& seams);

    TNet* net; // the state's net unless the caller sets another

    bool started = false;    // the run has been set off (first showing)
    bool downloaded = false; // at least one file was saved

    // The files to fetch, where to, and the account to ask for them.
    void setJob(DownloadJob job) { job_ = std::move(job); }
    const DownloadJob& job() const { return job_; }

    // Shows the dialog modally; it runs and closes by itself. Gives `downloaded`.
    bool execute();

    // Fetches every file in turn; stops at the first failure, which the user is told of.
    void download();

    // The transfer's fraction on the bar, 0 to 1000.
    void OnNetProgress(double fraction);
    // Also what closing the dialog does while the run is pending or going.
    void abortBtnClick();

    // The hidden file a download goes into before it takes the name `name`.
    static std::string partialPath(const std::string& folder);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    class RunEnd;
    struct Failure {
        std::string reason;
        std::string webAddress; // a page to offer, when the service named one
    };

    void downloadDelayTimerTimer();
    // Fetches one file; false with `failure` filled when the run has to stop.
    bool downloadFile(std::size_t index, Failure& failure);
    void showFailure(const std::string& name, const Failure& failure);

    MainState& state_;
    Seams seams_;
    DownloadJob job_;
    bool running_ = false;
    bool abortRequested_ = false;

    QLabel* downloadingFileStaticText_;
    QLabel* fileNameStaticText_;
    QWidget* progressPanel_;
    QProgressBar* progressBar_;
    QPushButton* abortBtn_;
    QTimer* downloadDelayTimer_;
};

} // namespace tonvert
