#include "folderWatch.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>
#include <filesystem>

namespace tonvert {

namespace {

// The folder as an absolute path without a trailing separator.
std::filesystem::path absoluteFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path =
        std::filesystem::absolute(folder.empty() ? "." : folder, error).lexically_normal();
    if (!path.has_filename() && path.has_relative_path())
        path = path.parent_path();
    return path;
}

// The folder itself when it exists, else its nearest parent that does; empty when none does.
std::filesystem::path nearestExisting(std::filesystem::path folder) {
    std::error_code error;
    while (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::path up = folder.parent_path();
        if (up.empty() || up == folder)
            return {};
        folder = std::move(up);
    }
    return folder;
}

} // namespace

FolderWatch::FolderWatch(QObject* parent)
    : QObject(parent)
    , watcher_(new QFileSystemWatcher(this))
    , quiet_(new QTimer(this)) {
    quiet_->setSingleShot(true);
    connect(quiet_, &QTimer::timeout, this, &FolderWatch::changed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderWatch::seen);
    // Writing to a file is no change of the folder's entries: a copy still being written,
    // or a file saved over, is seen through the file itself.
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
        if (present_)
            note();
    });
}

void FolderWatch::watch(const std::string& folder, const std::vector<std::string>& fileNames) {
    folder_ = folder;
    arm();
    watchFiles(fileNames);
}

// Points the watcher at the folder, or at its nearest existing parent while it is missing.
// The watcher drops a folder that was removed or moved away, so this also puts it back.
void FolderWatch::arm() {
    const std::filesystem::path target = absoluteFolder(folder_);
    const std::filesystem::path existing = nearestExisting(target);
    present_ = !existing.empty() && existing == target;
    const QStringList held = watcher_->directories();
    const QString path = QFile::decodeName(QByteArray::fromStdString(existing.native()));
    if (existing.empty() ? held.isEmpty() : held == QStringList{path})
        return;
    if (!held.isEmpty())
        watcher_->removePaths(held);
    if (!existing.empty() && !watcher_->addPath(path)) {
        present_ = false;
        qWarning("Changes in the folder \"%s\" are not shown until the list is refreshed: the "
                 "system does not watch it.",
                 existing.c_str());
    }
}

// Files that cannot be watched (gone meanwhile, or beyond the system's limit) still show
// their comings and goings through the folder.
void FolderWatch::watchFiles(const std::vector<std::string>& fileNames) {
    QSet<QString> wanted;
    if (present_) {
        const std::string prefix = absoluteFolder(folder_).native() + '/';
        for (const std::string& name : fileNames)
            wanted.insert(QFile::decodeName(QByteArray::fromStdString(prefix + name)));
    }
    QStringList gone;
    for (const QString& path : watcher_->files())
        if (!wanted.remove(path))
            gone << path;
    if (!gone.isEmpty())
        watcher_->removePaths(gone);
    if (!wanted.isEmpty())
        watcher_->addPaths(QStringList(wanted.begin(), wanted.end()));
}

void FolderWatch::seen(const QString&) {
    const bool wasPresent = present_;
    arm();
    // A change beside a missing folder matters only when it made the folder.
    if (wasPresent || present_)
        note();
}

// The first change of a burst starts the wait; later ones restart it until the first has
// waited nearly as long as any may.
void FolderWatch::note() {
    if (!quiet_->isActive()) {
        burst_.start();
        quiet_->start(kQuietMs);
    } else if (burst_.elapsed() + kQuietMs <= kLongestWaitMs) {
        quiet_->start(kQuietMs);
    }
}

} // namespace tonvert
