#pragma once

#include <string>

namespace tonvert {

class Prompts;
class Shell;

// Opening with the desktop's programs, telling the user when that fails. The failure may be
// told after the call returns (the opener runs on), so the prompts and the shell must live as
// long as the program.

// Opens a web address in the browser. A failure names the address and why, and offers to copy
// the address to the clipboard, to be opened by hand.
void openUrlOrSay(Prompts& prompts, Shell& shell, const std::string& url);

// Opens a file with the desktop's program for its type. A failure names the file and why.
void playFileOrSay(Prompts& prompts, Shell& shell, const std::string& path);

} // namespace tonvert
