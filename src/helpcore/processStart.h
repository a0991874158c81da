#pragma once

#include <string>
#include <vector>

namespace tonvert {

// Starts a program that runs on by itself (the program does not wait for it, nor leaves it
// behind unreaped). Gives 0, or the system's error number when it could not be started.
int startDetachedProgram(const std::string& file, const std::vector<std::string>& arguments);

} // namespace tonvert
