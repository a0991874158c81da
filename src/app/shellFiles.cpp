#include "shellFiles.h"

#include "busyCursor.h"
#include "fileNames.h"
#include "prompts.h"
#include "shell.h"

namespace tonvert {

bool shellDeleteFiles(Prompts& prompts, Shell& shell, const std::vector<std::string>& paths) {
    if (paths.empty())
        return false;
    const std::string question =
        paths.size() == 1 ? "Move \"" + fileNameOf(paths.front()) + "\" to the trash?"
                          : "Move these " + std::to_string(paths.size()) + " files to the trash?";
    if (prompts.show(PromptKind::confirmation, "Delete files", question, PromptButtons::yesNo) !=
        PromptAnswer::yes)
        return false;
    BusyCursor busy;
    return shell.trashFiles(paths);
}

bool shellCopyFiles(Shell& shell, const std::vector<std::string>& sources,
                    const std::vector<std::string>& destinations) {
    if (sources.empty())
        return false;
    BusyCursor busy;
    return shell.copyFiles(sources, destinations);
}

bool shellRenameFile(Shell& shell, const std::string& from, const std::string& to,
                     std::string& finalPath) {
    return shell.renameFile(from, to, finalPath);
}

} // namespace tonvert
