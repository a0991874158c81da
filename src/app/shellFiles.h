#pragma once

#include <string>
#include <vector>

namespace tonvert {

class Prompts;
class Shell;

// File operations of the desktop on behalf of the panes: deleting asks the user first and
// moves the files to the trash; copies and renames take a fresh name when the target is
// taken. Each is true only when everything was done; what was not done is told.
bool shellDeleteFiles(Prompts& prompts, Shell& shell, const std::vector<std::string>& paths);
bool shellCopyFiles(Prompts& prompts, Shell& shell, const std::vector<std::string>& sources,
                    const std::vector<std::string>& destinations);
bool shellRenameFile(Shell& shell, const std::string& from, const std::string& to,
                     std::string& finalPath);
// Opens the file with the desktop's program for its type; tells the user when that fails.
void shellPlayFile(Prompts& prompts, Shell& shell, const std::string& path);

} // namespace tonvert
