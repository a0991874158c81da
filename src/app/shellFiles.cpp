#include "shellFiles.h"

#include <memory>

#include "busyCursor.h"
#include "fileNames.h"
#include "openers.h"
#include "prompts.h"
#include "shell.h"

namespace tonvert {

namespace {

// Tells which files an operation left undone, one name a line.
bool reportUndone(Prompts& prompts, const char* lead, const std::vector<std::string>& undone) {
    if (undone.empty())
        return true;
    std::string names;
    for (const std::string& path : undone)
        names += "\n" + fileNameOf(path);
    prompts.show(PromptKind::error, "", lead + names, PromptButtons::ok);
    return false;
}

} // namespace

bool shellDeleteFiles(Prompts& prompts, Shell& shell, const std::vector<std::string>& paths) {
    if (paths.empty())
        return false;
    const std::string question =
        paths.size() == 1 ? "Move \"" + fileNameOf(paths.front()) + "\" to the trash?"
                          : "Move these " + std::to_string(paths.size()) + " files to the trash?";
    if (prompts.show(PromptKind::confirmation, "Delete files", question, PromptButtons::yesNo) !=
        PromptAnswer::yes)
        return false;
    auto busy = std::make_unique<BusyCursor>();
    const std::vector<std::string> undone = shell.trashFiles(paths);
    busy.reset();
    return reportUndone(prompts, "These files could not be moved to the trash:\n", undone);
}

bool shellCopyFiles(Prompts& prompts, Shell& shell, const std::vector<std::string>& sources,
                    const std::vector<std::string>& destinations) {
    if (sources.empty())
        return false;
    auto busy = std::make_unique<BusyCursor>();
    const std::vector<std::string> undone = shell.copyFiles(sources, destinations);
    busy.reset();
    return reportUndone(prompts, "These files could not be copied:\n", undone);
}

bool shellRenameFile(Shell& shell, const std::string& from, const std::string& to,
                     std::string& finalPath) {
    return shell.renameFile(from, to, finalPath);
}

void shellPlayFile(Prompts& prompts, Shell& shell, const std::string& path) {
    playFileOrSay(prompts, shell, path);
}

} // namespace tonvert
