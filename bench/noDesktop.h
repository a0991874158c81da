#pragma once

#include <string>
#include <vector>

#include "shell.h"

namespace tonvert::bench {

// A desktop that opens nothing and leaves every file as it is: the benchmarks' windows ask
// nothing of it unless something goes wrong.
class NoDesktop : public Shell {
public:
    void openUrl(const std::string&, OpenFailed) override {}
    void playFile(const std::string&, OpenFailed) override {}
    void copyToClipboard(const std::string&) override {}
    std::vector<std::string> trashFiles(const std::vector<std::string>& paths) override {
        return paths;
    }
    std::vector<std::string> copyFiles(const std::vector<std::string>& sources,
                                       const std::vector<std::string>&) override {
        return sources;
    }
    bool renameFile(const std::string&, const std::string&, std::string&) override { return false; }
    bool pickFolder(const std::string&, std::string&) override { return false; }
};

} // namespace tonvert::bench
