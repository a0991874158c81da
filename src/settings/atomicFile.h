#pragma once

#include <string>

namespace tonvert {

// Replaces the file's contents as one step: the bytes go to a new file beside it, which is
// then renamed over the old one, so a failure never leaves a half-written file. On POSIX
// the file is readable and writable by its owner only. Gives false when anything failed;
// the old file is then untouched.
bool replaceFileContents(const std::string& path, const std::string& bytes);

} // namespace tonvert
