#include "qtShell.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <utility>

#include "fileNames.h"
#include "textCodec.h"

namespace tonvert {

namespace {

const QString kOpener = QStringLiteral("xdg-open");

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// The opener's exit codes, told as what went wrong.
OpenFailure failureOfExit(int code) {
    switch (code) {
    case 1:
        return {false, "The desktop's opener xdg-open did not understand the request."};
    case 2:
        return {false, "The file does not exist."};
    case 3:
        return {true, "No program is set up on this desktop to open it."};
    case 4:
        return {false, "The program the desktop chose to open it failed."};
    default:
        return {false,
                "The desktop's opener xdg-open ended with error " + std::to_string(code) + "."};
    }
}

} // namespace

void QtShell::openUrl(const std::string& url, OpenFailed onFailure) {
    // Only whole addresses go to the opener, never a text it could take for an option.
    const QUrl address(toQString(url), QUrl::TolerantMode);
    if (!address.isValid() || address.isRelative()) {
        onFailure({false, "It is not a complete web address."});
        return;
    }
    startOpener(address.toString(QUrl::FullyEncoded), std::move(onFailure));
}

void QtShell::playFile(const std::string& path, OpenFailed onFailure) {
    startOpener(QFileInfo(toQString(path)).absoluteFilePath(), std::move(onFailure));
}

void QtShell::copyToClipboard(const std::string& text) {
    QGuiApplication::clipboard()->setText(toQString(text));
}

void QtShell::startOpener(const QString& target, OpenFailed onFailure) {
    const QString opener = QStandardPaths::findExecutable(kOpener);
    if (opener.isEmpty()) {
        onFailure({false, "The desktop's opener xdg-open was not found in the folders of PATH "
                          "(it comes with the package xdg-utils)."});
        return;
    }
    // Shared by the two signals that may tell the end; the first one told wins.
    auto tell = std::make_shared<OpenFailed>(std::move(onFailure));
    const auto report = [tell](const OpenFailure& failure) {
        if (OpenFailed once = std::exchange(*tell, nullptr))
            once(failure);
    };
    // No parent, and deleted only once it has ended: deleting a running QProcess kills it, and
    // a browser the opener runs in the foreground must outlive the program.
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({target});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](auto error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, &reports_, [process, report](auto error) {
        if (error == QProcess::FailedToStart)
            report({false, "The desktop's opener xdg-open could not be started: " +
                               toBytes(process->errorString()) + "."});
    });
    QObject::connect(process, &QProcess::finished, &reports_,
                     [report](int code, QProcess::ExitStatus status) {
                         if (status == QProcess::CrashExit)
                             report({false, "The desktop's opener xdg-open stopped unexpectedly."});
                         else if (code != 0)
                             report(failureOfExit(code));
                     });
    process->start();
}

std::vector<std::string> QtShell::trashFiles(const std::vector<std::string>& paths) {
    // Qt moves files into "files/" under the current folder, and calls that success, when the
    // user's data folder is missing: make sure it is there.
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty() || !QDir().mkpath(dataFolder))
        return paths;
    std::vector<std::string> failed;
    for (const std::string& path : paths)
        if (!QFile::moveToTrash(toQString(path)))
            failed.push_back(path);
    return failed;
}

std::vector<std::string> QtShell::copyFiles(const std::vector<std::string>& sources,
                                            const std::vector<std::string>& destinations) {
    if (sources.size() != destinations.size())
        return sources;
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::string target = freePathFor(destinations[i], exists);
        std::error_code error;
        if (!std::filesystem::copy_file(sources[i], target, error) || error)
            failed.push_back(sources[i]);
    }
    return failed;
}

bool QtShell::renameFile(const std::string& from, const std::string& to, std::string& finalPath) {
    finalPath = from;
    if (from == to)
        return true;
    if (!exists(from))
        return false;
    // The file's own name is no collision: "Song (3)" renamed to a taken "Song" may stay.
    const std::string target =
        freePathFor(to, [&](const std::string& path) { return path != from && exists(path); });
    std::error_code error;
    std::filesystem::rename(from, target, error);
    if (error)
        return false;
    finalPath = target;
    return true;
}

bool QtShell::pickFolder(const std::string& title, std::string& folder) {
    const QString chosen =
        QFileDialog::getExistingDirectory(QApplication::activeWindow(), toQString(title),
                                          toQString(folder), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    folder = toBytes(chosen);
    return true;
}

} // namespace tonvert
