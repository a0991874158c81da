// libFuzzer target for the settings file reader. The input is the text of a settings file:
// - loaded by the class from a file, its sections keep the reader's promises: names and
//   entries without a line break or Ctrl-Z, every entry a key and a non-empty value, no
//   section name twice and no key twice in a section without regard to case;
// - readString finds the entries' values;
// - with a value taken from the input written into it, the class rewrites the file, and
//   reading that file again gives the same sections, keys and values, the written value
//   among them as it was written.

#include "fuzzSupport.h"
#include "portableIniFiles.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tonvert::TSection;
using tonvert::fuzz::check;
using Sections = std::vector<std::unique_ptr<TSection>>;

const tonvert::fuzz::ScratchFile& scratchFile() {
    static const tonvert::fuzz::ScratchFile file("settingsFileFuzz");
    return file;
}

bool sameSections(const Sections& a, const Sections& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x->name == y->name && x->values == y->values;
    });
}

Sections copyOf(const Sections& sections) {
    Sections copy;
    for (const auto& section : sections)
        copy.push_back(std::make_unique<TSection>(*section));
    return copy;
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string keyOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

void checkPromises(const Sections& sections) {
    std::set<std::string_view> names;
    for (const auto& section : sections) {
        check(!section->name.empty(), "a section without a name");
        check(tonvert::fitsSettingsFile(section->name), "a line break in a section name");
        check(names.insert(section->name).second, "a section read twice");
        std::set<std::string> keys;
        for (const std::string& entry : section->values) {
            const std::size_t equals = entry.find('=');
            check(equals != std::string::npos && equals > 0, "an entry without a key");
            check(equals + 1 < entry.size(), "an entry without a value");
            check(static_cast<unsigned char>(entry[0]) > 32, "a key that starts with a blank");
            check(tonvert::fitsSettingsFile(entry), "a line break in an entry");
            check(keys.insert(lowerCase(keyOf(entry))).second, "a key read twice");
        }
    }
}

// readString finds what was read. The first entries of each section: a look-up walks the
// section, so all of them would cost the square of its length for nothing more.
void checkLookUps(const tonvert::TPortableIniFile& ini) {
    for (const auto& s : ini.sections())
        for (std::size_t i = 0; i < std::min<std::size_t>(s->values.size(), 8); ++i)
            check(ini.readString(s->name, keyOf(s->values[i]), "\x1A") ==
                      s->values[i].substr(s->values[i].find('=') + 1),
                  "readString misses an entry");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& path = scratchFile().path();
    scratchFile().write(data, size);

    // The value is the input's last line: one that fits the file, whatever it holds.
    const std::string value = text.substr(text.find_last_of("\r\n\x1A") + 1);
    std::string section = "Fuzz";
    std::string key = "Key";
    Sections written;
    {
        tonvert::TPortableIniFile ini(path);
        const Sections& sections = ini.sections();
        checkPromises(sections);
        checkLookUps(ini);

        if (!sections.empty()) {
            // An entry of a section the input picks, replaced in place.
            const TSection& picked = *sections[text.size() % sections.size()];
            section = picked.name;
            if (!picked.values.empty())
                key = keyOf(picked.values[value.size() % picked.values.size()]);
        }
        check(ini.writeString(section, key, value), "a value that fits the file refused");
        written = copyOf(ini.sections());
    }
    // The object rewrote the file as it went away: every section it read, with one value
    // written, must read back as it was.
    const tonvert::TPortableIniFile again(path);
    check(sameSections(again.sections(), written), "written and read again, the sections changed");
    check(again.readString(section, key, "\x1A") == (value.empty() ? "\x1A" : value),
          "a written value did not come back");
    return 0;
}
