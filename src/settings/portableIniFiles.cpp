#include "portableIniFiles.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <string_view>

#include "asciiText.h"
#include "atomicFile.h"

namespace tonvert {

namespace {

// The text without the characters of codes 0 to 32 at both ends.
std::string_view trimmed(std::string_view text) {
    return ascii::trimmed(text);
}

// The position of the entry line whose key equals `key` without regard to case.
std::vector<std::string>::iterator findEntry(std::vector<std::string>& lines,
                                             std::string_view key) {
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        const auto equals = line.find('=');
        return equals != std::string::npos &&
               ascii::equalIgnoringCase(std::string_view(line).substr(0, equals), key);
    });
}

void storeEntry(TSection& section, std::string_view key, std::string_view value) {
    auto found = findEntry(section.values, key);
    if (value.empty()) {
        if (found != section.values.end())
            section.values.erase(found);
        return;
    }
    std::string entry;
    entry.reserve(key.size() + 1 + value.size());
    entry.append(key).append(1, '=').append(value);
    if (found != section.values.end())
        *found = std::move(entry);
    else
        section.values.push_back(std::move(entry));
}

// Splits the file's text into lines: a carriage return, a line feed or the pair of them ends
// a line, so a file edited with either convention reads line by line; Ctrl-Z ends the text.
std::vector<std::string_view> splitLines(const std::string& text) {
    const std::string_view all(text.data(), std::min(text.find('\x1A'), text.size()));
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < all.size()) {
        const std::size_t end = std::min(all.find_first_of("\r\n", at), all.size());
        lines.push_back(all.substr(at, end - at));
        if (end == all.size())
            break;
        const bool pair = all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n';
        at = end + (pair ? 2 : 1);
    }
    return lines;
}

using Sections = std::vector<std::unique_ptr<TSection>>;

// A value as its line holds it, in double quotes where reading would otherwise not give it
// back: blanks around it would be trimmed away, quotes around it taken off, and a line that
// starts with "[" and ends with "]" read as a section's header.
std::string valueText(const std::string& key, const std::string& value) {
    const bool quoted =
        !value.empty() &&
        (ascii::isBlankOrControl(value.front()) || ascii::isBlankOrControl(value.back()) ||
         (value.size() >= 2 && value.front() == '"' && value.back() == '"') ||
         (!key.empty() && key.front() == '[' && value.back() == ']'));
    return quoted ? "\"" + value + "\"" : value;
}

int indexIn(const Sections& sections, const std::string& name) {
    for (std::size_t i = 0; i < sections.size(); ++i)
        if (sections[i]->name == name)
            return static_cast<int>(i);
    return -1;
}

TSection* addSectionTo(Sections& sections, const std::string& name) {
    const int index = indexIn(sections, name);
    if (index >= 0)
        return sections[static_cast<std::size_t>(index)].get();
    sections.push_back(std::make_unique<TSection>(TSection{name, {}}));
    return sections.back().get();
}

std::optional<std::int64_t> digitsValue(const std::string& text, std::size_t at, int base) {
    if (at >= text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const int digit = ascii::hexValue(text[at]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::int32_t> parseInteger(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';

    int base = 10;
    if (at < text.size() && text[at] == '$') {
        base = 16;
        at += 1;
    } else if (at + 1 < text.size() && text[at] == '0' &&
               (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    const auto magnitude = digitsValue(text, at, base);
    if (!magnitude)
        return std::nullopt;

    std::int64_t value = negative ? -*magnitude : *magnitude;
    if (base == 16) {
        // Hexadecimal spells the 32 bits themselves: $FFFFFFFF is -1.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

TPortableIniFile::TPortableIniFile(std::string fileName)
    : fileName_(std::move(fileName)) {
    load();
}

TPortableIniFile::~TPortableIniFile() {
    if (modified_)
        save();
}

void TPortableIniFile::clear() {
    sections_.clear();
}

int TPortableIniFile::indexOfSection(const std::string& name) const {
    return indexIn(sections_, name);
}

TSection* TPortableIniFile::findSection(const std::string& name) const {
    const int index = indexOfSection(name);
    return index < 0 ? nullptr : sections_[static_cast<std::size_t>(index)].get();
}

TSection* TPortableIniFile::addSection(const std::string& name) {
    return addSectionTo(sections_, name);
}

std::vector<std::unique_ptr<TSection>> readSettingsText(const std::string& text) {
    Sections sections;
    TSection* current = nullptr;
    for (const std::string_view raw : splitLines(text)) {
        const std::string_view line = trimmed(raw);
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            current = addSectionTo(sections, std::string(line.substr(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr)
            continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        std::string_view value = trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        storeEntry(*current, line.substr(0, equals), value);
    }
    return sections;
}

std::string settingsFileText(const std::vector<std::unique_ptr<TSection>>& sections) {
    std::string text;
    for (const auto& section : sections) {
        text += "[" + section->name + "]\r\n";
        for (const auto& line : section->values) {
            const std::size_t equals = line.find('=');
            text += line.substr(0, equals + 1) +
                    valueText(line.substr(0, equals), line.substr(equals + 1)) + "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

void TPortableIniFile::load() {
    clear();
    modified_ = false;

    std::ifstream in(fileName_, std::ios::binary);
    if (!in)
        return;
    sections_ = readSettingsText(
        std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
}

void TPortableIniFile::save() const {
    // A failed rewrite loses this batch's changes without a word.
    replaceFileContents(fileName_, settingsFileText(sections_),
                        InPlaceRewrite::whenNoTemporaryFile);
}

std::string TPortableIniFile::readString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue) const {
    TSection* found = findSection(section);
    if (found == nullptr)
        return defaultValue;
    auto entry = findEntry(found->values, key);
    if (entry == found->values.end())
        return defaultValue;
    return entry->substr(entry->find('=') + 1);
}

bool fitsSettingsFile(const std::string& text) {
    // A line break would make lines of its own; the reader takes Ctrl-Z for the file's end.
    return text.find_first_of("\r\n\x1A") == std::string::npos;
}

bool TPortableIniFile::writeString(const std::string& section, const std::string& key,
                                   const std::string& value) {
    for (const std::string* text : {&section, &key, &value})
        if (!fitsSettingsFile(*text))
            return false;
    storeEntry(*addSection(section), key, value);
    modified_ = true;
    return true;
}

std::int32_t TPortableIniFile::readInteger(const std::string& section, const std::string& key,
                                           std::int32_t defaultValue) const {
    return parseInteger(readString(section, key, "")).value_or(defaultValue);
}

void TPortableIniFile::writeInteger(const std::string& section, const std::string& key,
                                    std::int32_t value) {
    writeString(section, key, std::to_string(value));
}

bool TPortableIniFile::readBool(const std::string& section, const std::string& key,
                                bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TPortableIniFile::writeBool(const std::string& section, const std::string& key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

void TPortableIniFile::readSectionValues(const std::string& section,
                                         std::vector<std::string>& lines) const {
    if (TSection* found = findSection(section))
        lines.insert(lines.end(), found->values.begin(), found->values.end());
}

void TPortableIniFile::eraseSection(const std::string& section) {
    const int index = indexOfSection(section);
    if (index < 0)
        return;
    sections_.erase(sections_.begin() + index);
    modified_ = true;
}

} // namespace tonvert
