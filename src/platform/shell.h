#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tonvert {

// Why the desktop did not open an address or a file.
struct OpenFailure {
    bool noProgram = false; // the desktop has no program for it
    std::string reason;     // one or two sentences for the user
};

// Told at most once, on the GUI thread, and only when the opening failed. The program that
// opens may run on (a browser started in the foreground), so it may come long after the call.
using OpenFailed = std::function<void(const OpenFailure&)>;

// What the program asks of the desktop: web pages and files opened with the programs the user
// chose for them, the clipboard, and file operations as a file manager does them. The
// application uses the desktop's; tests record the requests.
class Shell {
public:
    virtual ~Shell() = default;

    // Opens a web address in the user's browser.
    virtual void openUrl(const std::string& url, OpenFailed onFailure) = 0;

    // Opens a file with the desktop's program for its type.
    virtual void playFile(const std::string& path, OpenFailed onFailure) = 0;

    // Puts the text on the clipboard, to be pasted elsewhere.
    virtual void copyToClipboard(const std::string& text) = 0;

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

    // Lets the user choose a folder of the file system under the given title, starting in
    // `folder` (when it is one) and setting it to the choice. False when the user chose none.
    virtual bool pickFolder(const std::string& title, std::string& folder) = 0;
};

} // namespace tonvert
