#pragma once

#include "shell.h"

namespace tonvert {

// The desktop's own handlers for web addresses and files, its trash, and file copies and
// renames that never overwrite.
class QtShell : public Shell {
public:
    void openUrl(const std::string& url) override;
    bool playFile(const std::string& path) override;
    std::vector<std::string> trashFiles(const std::vector<std::string>& paths) override;
    std::vector<std::string> copyFiles(const std::vector<std::string>& sources,
                                       const std::vector<std::string>& destinations) override;
    bool renameFile(const std::string& from, const std::string& to,
                    std::string& finalPath) override;
    bool pickFolder(const std::string& title, std::string& folder) override;
};

} // namespace tonvert
