#include "qtShell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>
#include <QUrl>
#include <filesystem>

#include "fileNames.h"
#include "textCodec.h"

namespace tonvert {

namespace {

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

void QtShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(toQString(url), QUrl::TolerantMode));
}

bool QtShell::playFile(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(path)));
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
    const QString chosen = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), toQString(title), QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    folder = toBytes(chosen);
    return true;
}

} // namespace tonvert
