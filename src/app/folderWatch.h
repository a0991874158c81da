#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QTimer;

namespace tonvert {

// Tells when the entries of one folder change (files created, renamed or removed there by
// any program) or one of the files it was given is written to. A burst of changes (a copy of many
// files) is told once, when the folder has been quiet for a moment; a steady stream of changes is
// still told at least once a second.
//
// A missing folder cannot be watched itself: its nearest existing parent is watched instead,
// and the folder's appearance is told as a change, after which the folder itself is watched.
class FolderWatch : public QObject {
    Q_OBJECT
public:
    explicit FolderWatch(QObject* parent = nullptr);

    // Watches this folder (the system's bytes, with or without the trailing separator; empty
    // is the current folder) and these files in it from now on. The same folder again only
    // makes sure the watch still holds, as after the folder was removed and made again.
    void watch(const std::string& folder, const std::vector<std::string>& fileNames = {});
    const std::string& folder() const { return folder_; }

    // How long the folder must stay quiet, and the longest a change waits to be told.
    static constexpr int kQuietMs = 250;
    static constexpr int kLongestWaitMs = 800;

signals:
    void changed();

private:
    void arm();
    void watchFiles(const std::vector<std::string>& fileNames);
    void seen(const QString& path);
    void note();

    QFileSystemWatcher* watcher_;
    QTimer* quiet_;
    QElapsedTimer burst_; // since the first change not told yet
    std::string folder_;
    bool present_ = false; // the watcher holds the folder itself, not a parent of it
};

} // namespace tonvert
