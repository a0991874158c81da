#pragma once

#include <string>
#include <vector>

namespace tonvert {

// What the program asks of the desktop: web pages and files opened with the programs the user
// chose for them, and file operations as a file manager does them. The application uses the
// desktop's; tests record the requests.
class Shell {
public:
    virtual ~Shell() = default;

    // Opens a web address in the user's browser. The outcome is not reported.
    virtual void openUrl(const std::string& url) = 0;

    // Opens a file with the desktop's program for its type. False when no program could be
    // started for it.
    virtual bool playFile(const std::string& path) = 0;

    // Moves the files to the desktop's trash. Gives the paths that did not go there.
    virtual std::vector<std::string> trashFiles(const std::vector<std::string>& paths) = 0;

    // Copies each source to the destination at the same position; a destination that exists
    // is left alone and the copy takes a fresh name beside it ("name (2).ext"). Gives the
    // sources that were not copied.
    virtual std::vector<std::string> copyFiles(const std::vector<std::string>& sources,
                                               const std::vector<std::string>& destinations) = 0;

    // Renames a file; when the new name is taken the file takes a fresh one beside it.
    // `finalPath` tells where it went. True when the file was renamed (or already had the name).
    virtual bool renameFile(const std::string& from, const std::string& to,
                            std::string& finalPath) = 0;

    // Lets the user choose a folder of the file system under the given title. False when
    // the user chose none.
    virtual bool pickFolder(const std::string& title, std::string& folder) = 0;
};

} // namespace tonvert
