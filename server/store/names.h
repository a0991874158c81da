#pragma once

#include <string>
#include <vector>

namespace tonvert::service {

// A file name as the client can read it back from a list: a root of at least one character
// with no dot, tab, line break, path separator or other control character, a dot, and an
// extension of exactly three such characters.
enum class NameCheck { good, noRoot, noExtension, badExtension };

NameCheck checkFileName(const std::string& name);

// Whether a good name may be uploaded: text in UTF-8 (it goes into lists and mails as it is)
// with a root of at most kMaxUploadRootBytes bytes (it goes into every request's address).
constexpr std::size_t kMaxUploadRootBytes = 200;
bool fitsUploadName(const std::string& name);
// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool isUtf8(const std::string& text);

// The root and the extension of a good name.
std::string rootOf(const std::string& name);
std::string extensionOf(const std::string& name);

// The audio file's name for a MIDI file's name and the format's letters, made unique among
// `taken` ("Song.mp3", "Song-2.mp3"...).
std::string audioNameFor(const std::string& midiName, const std::string& extension,
                         const std::vector<std::string>& taken);

} // namespace tonvert::service
