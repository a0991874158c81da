#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tonvert {

// One section of the settings file: its name as it stood between the brackets and its
// entry lines, each "key=value", in the order the entries were first added.
struct TSection {
    std::string name;
    std::vector<std::string> values;
};

// The program's own settings file. The whole file is read when the object is made; reads
// and writes work on that copy, and the file is rewritten when the object goes away, if
// anything was written. An object lives for one batch of settings work.
// A file that cannot be written (no write permission for its owner, or none for the user)
// stays as it is: that batch's changes are lost without a message. A file in a folder that
// allows no new file beside it is overwritten in place. A symbolic link is written through.
class TPortableIniFile {
public:
    explicit TPortableIniFile(std::string fileName);
    virtual ~TPortableIniFile();

    TPortableIniFile(const TPortableIniFile&) = delete;
    TPortableIniFile& operator=(const TPortableIniFile&) = delete;

    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Storing an empty value removes the key; the section is created either way. A carriage
    // return or line feed in the section, key or value would start a line of its own in the
    // file: such a write is refused, stores nothing and gives false.
    bool writeString(const std::string& section, const std::string& key, const std::string& value);

    std::int32_t readInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;
    void writeInteger(const std::string& section, const std::string& key, std::int32_t value);

    virtual bool readBool(const std::string& section, const std::string& key,
                          bool defaultValue) const;
    virtual void writeBool(const std::string& section, const std::string& key, bool value);

    // Appends the section's "key=value" lines to `lines`, which is not cleared first.
    void readSectionValues(const std::string& section, std::vector<std::string>& lines) const;
    void eraseSection(const std::string& section);

    bool modified() const { return modified_; }
    const std::string& fileName() const { return fileName_; }
    const std::vector<std::unique_ptr<TSection>>& sections() const { return sections_; }

private:
    void load();
    void save() const;
    void clear();
    int indexOfSection(const std::string& name) const;
    TSection* findSection(const std::string& name) const;
    TSection* addSection(const std::string& name);

    bool modified_ = false;
    std::string fileName_;
    std::vector<std::unique_ptr<TSection>> sections_;
};

// The sections of a settings file's text, read as TPortableIniFile reads its file: a line
// ends at a carriage return, a line feed or the pair of them, and Ctrl-Z ends the text;
// lines before the first "[name]" and lines without a key are passed over; a value loses the
// blanks around it and then one pair of double quotes around it; an empty value is no entry.
std::vector<std::unique_ptr<TSection>> readSettingsText(const std::string& text);

// The text TPortableIniFile writes its sections as, every line ended by CR LF. A value that
// reading would not give back as it stands (blanks or double quotes around it, or a line
// that would read as a section's header) is written in double quotes.
std::string settingsFileText(const std::vector<std::unique_ptr<TSection>>& sections);

// Whether a text can be kept in the settings file as it is: no line break and no Ctrl-Z.
bool fitsSettingsFile(const std::string& text);

// The run-time's integer syntax: leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits after "$" or "0x". Anything else, or a value that does not fit 32
// bits, gives nothing.
std::optional<std::int32_t> parseInteger(const std::string& text);

} // namespace tonvert
