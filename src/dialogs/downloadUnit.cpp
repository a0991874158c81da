#include "downloadUnit.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unistd.h>

#include "busyCursor.h"
#include "fileIo.h"
#include "netMessages.h"
#include "netUnit.h"
#include "prompts.h"
#include "replyReaders.h"
#include "serverSupportUnit.h"
#include "serviceCalls.h"
#include "shell.h"
#include "textCodec.h"

namespace tonvert {

namespace {

constexpr int kBarMaximum = 1000;
// Enough of a reply to read a service error; audio never starts with one.
constexpr std::size_t kReplyHead = 4096;
const char* const kFailureLead = "An error occurred while downloading the file\n\n";

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

// Whatever way the run ends: the button off, the cursor back, the net's events let go and
// the dialog closed.
class TdownloadForm::RunEnd {
public:
    explicit RunEnd(TdownloadForm& form)
        : form_(form) {
        form_.running_ = true;
        busy.emplace();
    }
    ~RunEnd() {
        form_.abortBtn_->setEnabled(false);
        busy.reset();
        form_.net->OnStatus = nullptr;
        form_.net->OnProgress = nullptr;
        form_.running_ = false;
        form_.accept();
    }
    RunEnd(const RunEnd&) = delete;
    RunEnd& operator=(const RunEnd&) = delete;

    std::optional<BusyCursor> busy;

private:
    TdownloadForm& form_;
};

TdownloadForm::TdownloadForm(QWidget* owner, MainState& state, const Seams& seams)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , net(state.net.get())
    , state_(state)
    , seams_(seams) {
    setObjectName(QStringLiteral("downloadForm"));
    setWindowTitle(QStringLiteral("Download audio"));
    setFixedSize(536, 62);

    downloadingFileStaticText_ = new QLabel(QStringLiteral("Downloading file:"), this);
    downloadingFileStaticText_->setObjectName(QStringLiteral("downloadingFileStaticText"));

    fileNameStaticText_ = new QLabel(this);
    fileNameStaticText_->setObjectName(QStringLiteral("fileNameStaticText"));
    fileNameStaticText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fileNameStaticText_->setTextFormat(Qt::PlainText);

    progressPanel_ = new QWidget(this);
    progressPanel_->setObjectName(QStringLiteral("progressPanel"));
    progressBar_ = new QProgressBar(progressPanel_);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setRange(0, kBarMaximum);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    auto* panelLayout = new QHBoxLayout(progressPanel_);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(progressBar_);

    abortBtn_ = new QPushButton(QStringLiteral("&Abort"), this);
    abortBtn_->setObjectName(QStringLiteral("abortBtn"));
    abortBtn_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    abortBtn_->setEnabled(false);
    abortBtn_->setAutoDefault(false);
    connect(abortBtn_, &QPushButton::clicked, this, &TdownloadForm::abortBtnClick);

    // The name and the bar take the width the fixed texts leave.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(2);
    layout->addWidget(downloadingFileStaticText_, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(fileNameStaticText_, 0, 1, 1, 2, Qt::AlignTop);
    layout->addWidget(progressPanel_, 1, 0, 1, 2);
    layout->addWidget(abortBtn_, 1, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);

    downloadDelayTimer_ = new QTimer(this);
    downloadDelayTimer_->setObjectName(QStringLiteral("downloadDelayTimer"));
    downloadDelayTimer_->setSingleShot(true);
    downloadDelayTimer_->setInterval(10);
    connect(downloadDelayTimer_, &QTimer::timeout, this, &TdownloadForm::downloadDelayTimerTimer);
}

std::string TdownloadForm::partialPath(const std::string& folder) {
    // Hidden, of a type the audio list leaves out, and of a name nobody else has: it never
    // meets a file of the user's, whatever the service's file is called.
    std::string path = folder + ".download-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        return "";
    ::close(fd);
    return path;
}

bool TdownloadForm::execute() {
    started = false;
    downloaded = false;
    abortRequested_ = false;
    exec();
    // Closed before the run began: it must not begin later from someone else's event loop.
    downloadDelayTimer_->stop();
    return downloaded;
}

void TdownloadForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started)
        return;
    started = true;
    // From the dialog's own loop, once it is up.
    downloadDelayTimer_->start();
}

void TdownloadForm::downloadDelayTimerTimer() {
    downloadDelayTimer_->stop();
    download();
}

void TdownloadForm::download() {
    net->OnStatus = [](TNet&) {};
    net->OnProgress = [this](double fraction) { OnNetProgress(fraction); };
    RunEnd end(*this);
    abortBtn_->setEnabled(true);

    const std::size_t count = job_.audioFiles.size();
    for (std::size_t i = 0; i < count; ++i) {
        Failure failure;
        // An abort that came too late for the transfer it was meant for ends the run before
        // the next one, as if it had stopped that one.
        if (abortRequested_)
            failure.reason = netMessageText(NetMessage::connectionAborted);
        if (abortRequested_ || !downloadFile(i, failure)) {
            abortBtn_->setEnabled(false);
            end.busy.reset();
            showFailure(job_.audioFiles[i], failure);
            return;
        }
        downloaded = true;
    }
}

bool TdownloadForm::downloadFile(std::size_t index, Failure& failure) {
    const std::string& name = job_.audioFiles[index];
    const std::size_t count = job_.audioFiles.size();
    downloadingFileStaticText_->setText(
        count < 2 ? QStringLiteral("Downloading file:")
                  : QStringLiteral("Downloading file (%1/%2):").arg(index + 1).arg(count));
    downloadingFileStaticText_->repaint();
    fileNameStaticText_->setText(toQString(name));
    progressBar_->setValue(0);

    // The name becomes part of a local path: it must stay a name in the target folder.
    if (!isSafeServiceFileName(name)) {
        failure.reason = "This is not a file name that can be saved.";
        return false;
    }
    const std::string finalPath = job_.targetFolder + name;
    const std::string partPath = partialPath(job_.targetFolder);
    if (partPath.empty()) {
        failure.reason =
            failureCause(errno) + ": " + netMessageText(NetMessage::cantCreateTempFile);
        return false;
    }

    const TransferResult result =
        net->download({audioDownloadUrl(job_.account, name), partPath, {}});
    if (!result.ok) {
        removeQuietly(partPath);
        failure.reason = result.message;
        return false;
    }

    std::string head;
    std::string message;
    std::string address;
    if (readFileHead(partPath, kReplyHead, head) &&
        parseServerError(head, state_.service.supportEmail, message, address)) {
        removeQuietly(partPath);
        failure = {message, address};
        return false;
    }

    // A rename within the folder replaces the old file in one step.
    std::error_code error;
    std::filesystem::rename(partPath, finalPath, error);
    if (error) {
        removeQuietly(partPath);
        failure.reason = "Can't save the file: " + error.message();
        return false;
    }
    return true;
}

void TdownloadForm::showFailure(const std::string& name, const Failure& failure) {
    showServiceError(seams_, kFailureLead + name + "\n\n" + failure.reason, failure.webAddress);
}

void TdownloadForm::OnNetProgress(double fraction) {
    const double scaled = std::trunc(fraction * kBarMaximum);
    progressBar_->setValue(static_cast<int>(std::clamp(scaled, 0.0, double(kBarMaximum))));
}

void TdownloadForm::abortBtnClick() {
    abortRequested_ = true;
    if (net != nullptr)
        net->abort();
    abortBtn_->setEnabled(false);
}

void TdownloadForm::closeEvent(QCloseEvent* event) {
    // The dialog closes only when the run ends; until then closing means stopping it.
    if (running_ || downloadDelayTimer_->isActive()) {
        abortBtnClick();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TdownloadForm::reject() {
    if (running_ || downloadDelayTimer_->isActive()) {
        abortBtnClick();
        return;
    }
    QDialog::reject();
}

} // namespace tonvert
