#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct chmFile;

namespace tonvert {

// A compiled HTML help file opened for reading. Object paths start with "/".
class ChmArchive {
public:
    explicit ChmArchive(const std::string& path);
    ~ChmArchive();
    ChmArchive(const ChmArchive&) = delete;
    ChmArchive& operator=(const ChmArchive&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // The whole object; false when the archive has no such object or it cannot be read.
    bool read(const std::string& objectPath, std::string& bytes) const;
    // Every ordinary file the archive holds (no folders, no internal objects), in its order.
    const std::vector<std::string>& files() const { return files_; }
    // The topic the file's own map gives a context number, empty when it maps none.
    std::string topicOfContext(std::uint32_t context) const;
    // The table of contents (the first ".hhc" file), empty when there is none.
    std::string contentsFile() const;

private:
    chmFile* file_ = nullptr;
    std::vector<std::string> files_;
};

// True when the file exists and opens as a compiled help file.
bool helpFileReadable(const std::string& path);

// One entry of a sitemap (table of contents): its name, its page and how deep it sits (0 for
// the top level).
struct SitemapEntry {
    std::string name;
    std::string local;
    int level = 0;
};
std::vector<SitemapEntry> parseSitemap(const std::string& html);

// The text of an HTML page's <title>, empty when it has none.
std::string htmlTitle(const std::string& html);
// The page's text without tags, scripts, styles and the common entities.
std::string htmlPlainText(const std::string& html);
// Case-insensitive (ASCII) search.
bool containsNoCase(const std::string& text, const std::string& needle);

} // namespace tonvert
