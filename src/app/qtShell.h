#pragma once

#include <QObject>
#include <QString>

#include "shell.h"

namespace tonvert {

// The desktop's own handlers for web addresses and files (its opener, xdg-open, found in PATH
// at each call), its clipboard and trash, and file copies and renames that never overwrite.
class QtShell : public Shell {
public:
    void openUrl(const std::string& url, OpenFailed onFailure) override;
    void playFile(const std::string& path, OpenFailed onFailure) override;
    void copyToClipboard(const std::string& text) override;
    std::vector<std::string> trashFiles(const std::vector<std::string>& paths) override;
    std::vector<std::string> copyFiles(const std::vector<std::string>& sources,
                                       const std::vector<std::string>& destinations) override;
    bool renameFile(const std::string& from, const std::string& to,
                    std::string& finalPath) override;
    bool pickFolder(const std::string& title, std::string& folder) override;

private:
    void startOpener(const QString& target, OpenFailed onFailure);

    // What an opener reports is delivered through this object: openers still running when
    // the shell goes tell nobody.
    QObject reports_;
};

} // namespace tonvert
