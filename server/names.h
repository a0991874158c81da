#pragma once

#include <string>
#include <vector>

namespace tonvert::service {

// A file name as the client can read it back from a list: a root of at least one character
// with no dot, tab, line break, path separator or other control character, a dot, and an
// extension of exactly three such characters.
enum class NameCheck { good, noRoot, noExtension, badExtension };

NameCheck checkFileName(const std::string& name);

// The root and the extension of a good name.
std::string rootOf(const std::string& name);
std::string extensionOf(const std::string& name);

// The audio file's name for a MIDI file's name and the format's letters, made unique among
// `taken` ("Song.mp3", "Song-2.mp3"...).
std::string audioNameFor(const std::string& midiName, const std::string& extension,
                         const std::vector<std::string>& taken);

} // namespace tonvert::service
