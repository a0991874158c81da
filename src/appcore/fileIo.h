#pragma once

#include <cstddef>
#include <string>

namespace tonvert {

// Reads the whole file as raw bytes into `text` (cleared first). True only when the file
// opened and every byte of its size was read.
bool readWholeFile(const std::string& path, std::string& text);

// Reads the first `maxBytes` bytes of the file (all of it when shorter) into `text`
// (cleared first). True only when the file opened and that many bytes were read.
bool readFileHead(const std::string& path, std::size_t maxBytes, std::string& text);

// Replaces the file with one holding the text as it is, adding no line end: the text goes to
// a new file beside it, renamed over the old one, so a failure leaves the old file whole.
// A symbolic link is written through, an existing file keeps its mode and a read-only one is
// left alone (see replaceFileContents). True only when all of that succeeded.
bool writeTextFile(const std::string& path, const std::string& text);

} // namespace tonvert
