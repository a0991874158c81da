#pragma once

#include <string>

namespace tonvert {

// What to do when no temporary file can be made beside an existing file, because the
// folder may not be written or the temporary name would be too long for it.
enum class InPlaceRewrite {
    never,               // give up; the old file stays whole
    whenNoTemporaryFile, // overwrite the file itself, which may be left half-written
};

// Replaces the file's contents as one step: the bytes go to a new file beside it, which is
// then renamed over the old one, so a failure never leaves a half-written file.
// On POSIX:
// - a symbolic link is followed and its final target replaced; the link stays a link;
// - an existing file keeps its permission bits and, as far as the user may, its owner and
//   group; a new file is readable and writable by its owner only;
// - a file without write permission for its owner, or one the user may not write, is not
//   replaced, even though its folder would allow the rename.
// Gives false when anything failed; the old file is then untouched, except when it was
// being rewritten in place.
bool replaceFileContents(const std::string& path, const std::string& bytes,
                         InPlaceRewrite inPlace = InPlaceRewrite::never);

} // namespace tonvert
