#include "chmArchive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include <chm_lib.h>

#include "asciiText.h"

namespace tonvert {

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int collectFile(chmFile*, chmUnitInfo* info, void* context) {
    std::string path = info->path;
    if (!path.empty() && path.back() != '/')
        static_cast<std::vector<std::string>*>(context)->push_back(std::move(path));
    return CHM_ENUMERATOR_CONTINUE;
}

std::uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// No object of a manual comes near this; a larger length is a damaged directory.
constexpr std::uint64_t kLargestObject = 64u << 20;

int tryObject(chmFile* file, chmUnitInfo* info, void*) {
    if (info->length > kLargestObject)
        return CHM_ENUMERATOR_FAILURE;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(info->length));
    if (info->length > 0 &&
        chm_retrieve_object(file, info, bytes.data(), 0, static_cast<LONGINT64>(info->length)) !=
            static_cast<LONGINT64>(info->length))
        return CHM_ENUMERATOR_FAILURE;
    return CHM_ENUMERATOR_CONTINUE;
}

// The library trusts the file's headers and crashes on some damaged ones. So a file is read
// whole in a child process first, which only dies when the file is bad; after that the same
// reads are safe here. A manual is small: this costs a few milliseconds.
bool soundHelpFile(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(20); // a file the library loops on is bad too
        chmFile* file = chm_open(path.c_str());
        const bool whole =
            file != nullptr && chm_enumerate(file, CHM_ENUMERATE_ALL, tryObject, nullptr) != 0;
        ::_exit(whole ? 0 : 1);
    }
    if (child < 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

ChmArchive::ChmArchive(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) || !soundHelpFile(path))
        return;
    file_ = chm_open(path.c_str());
    if (file_ == nullptr)
        return;
    chm_enumerate(file_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collectFile, &files_);
}

ChmArchive::~ChmArchive() {
    if (file_ != nullptr)
        chm_close(file_);
}

bool ChmArchive::read(const std::string& objectPath, std::string& bytes) const {
    bytes.clear();
    chmUnitInfo info{};
    if (file_ == nullptr ||
        chm_resolve_object(file_, objectPath.c_str(), &info) != CHM_RESOLVE_SUCCESS)
        return false;
    if (info.length > kLargestObject)
        return false;
    bytes.resize(static_cast<std::size_t>(info.length));
    if (info.length == 0)
        return true;
    const auto got =
        chm_retrieve_object(file_, &info, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                            static_cast<LONGINT64>(info.length));
    if (got != static_cast<LONGINT64>(info.length)) {
        bytes.clear();
        return false;
    }
    return true;
}

// The map is /#IVB (a byte count, then pairs of context number and offset into /#STRINGS);
// the strings hold each topic's path as the compiler saw it, often the absolute path of the
// build, so the topic is the archive file whose path is the longest tail of it.
std::string ChmArchive::topicOfContext(std::uint32_t context) const {
    std::string ivb, strings;
    if (!read("/#IVB", ivb) || !read("/#STRINGS", strings) || ivb.size() < 4)
        return {};
    const std::size_t end = std::min<std::size_t>(ivb.size(), 4 + littleEndian32(ivb, 0));
    for (std::size_t at = 4; at + 8 <= end; at += 8) {
        if (littleEndian32(ivb, at) != context)
            continue;
        const std::size_t offset = littleEndian32(ivb, at + 4);
        if (offset >= strings.size())
            return {};
        std::string source = strings.c_str() + offset;
        std::replace(source.begin(), source.end(), '\\', '/');
        if (source.empty() || source.front() != '/')
            source = "/" + source;
        source = ascii::toLower(source);
        std::string best;
        for (const auto& file : files_)
            if (file.size() > best.size() && endsWith(source, ascii::toLower(file)))
                best = file;
        return best;
    }
    return {};
}

std::string ChmArchive::contentsFile() const {
    for (const auto& file : files_)
        if (endsWith(ascii::toLower(file), ".hhc"))
            return file;
    return {};
}

bool helpFileReadable(const std::string& path) {
    return ChmArchive(path).isOpen();
}

namespace {

// The value of an attribute inside one tag's text (lower-cased name), quoted or bare.
std::string attribute(const std::string& tag, const std::string& name) {
    const std::string low = ascii::toLower(tag);
    std::size_t at = 0;
    while ((at = low.find(name, at)) != std::string::npos) {
        const bool startsWord = at > 0 && std::isspace(static_cast<unsigned char>(low[at - 1]));
        std::size_t p = at + name.size();
        at = p;
        while (p < low.size() && std::isspace(static_cast<unsigned char>(low[p])))
            ++p;
        if (!startsWord || p >= low.size() || low[p] != '=')
            continue;
        ++p;
        while (p < low.size() && std::isspace(static_cast<unsigned char>(low[p])))
            ++p;
        if (p >= tag.size())
            return {};
        if (tag[p] == '"' || tag[p] == '\'') {
            const auto close = tag.find(tag[p], p + 1);
            return tag.substr(p + 1,
                              close == std::string::npos ? std::string::npos : close - p - 1);
        }
        auto stop = p;
        while (stop < tag.size() && !std::isspace(static_cast<unsigned char>(tag[stop])) &&
               tag[stop] != '>')
            ++stop;
        return tag.substr(p, stop - p);
    }
    return {};
}

std::string tagName(const std::string& tag) {
    std::size_t stop = 1;
    if (stop < tag.size() && tag[stop] == '/')
        ++stop;
    while (stop < tag.size() && std::isalnum(static_cast<unsigned char>(tag[stop])))
        ++stop;
    return ascii::toLower(tag.substr(1, stop - 1));
}

std::string decodeEntities(const std::string& text) {
    static const std::pair<const char*, const char*> entities[] = {{"&amp;", "&"}, {"&lt;", "<"},
                                                                   {"&gt;", ">"},  {"&quot;", "\""},
                                                                   {"&#39;", "'"}, {"&nbsp;", " "}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&')
            for (const auto& [entity, plain] : entities)
                if (text.compare(i, std::strlen(entity), entity) == 0) {
                    out += plain;
                    i += std::strlen(entity);
                    replaced = true;
                    break;
                }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

} // namespace

std::vector<SitemapEntry> parseSitemap(const std::string& html) {
    std::vector<SitemapEntry> entries;
    int depth = 0;
    bool inSitemap = false;
    SitemapEntry current;
    for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at)) {
        const auto close = html.find('>', at);
        if (close == std::string::npos)
            break;
        const std::string tag = html.substr(at, close - at + 1);
        at = close + 1;
        const std::string name = tagName(tag);
        if (name == "ul") {
            ++depth;
        } else if (name == "/ul") {
            depth = std::max(0, depth - 1);
        } else if (name == "object") {
            inSitemap = ascii::toLower(attribute(tag, "type")) == "text/sitemap";
            current = {};
            current.level = std::max(0, depth - 1);
        } else if (name == "param" && inSitemap) {
            const std::string param = ascii::toLower(attribute(tag, "name"));
            if (param == "name" && current.name.empty())
                current.name = decodeEntities(attribute(tag, "value"));
            else if (param == "local" && current.local.empty())
                current.local = attribute(tag, "value");
        } else if (name == "/object") {
            if (inSitemap && !current.name.empty())
                entries.push_back(current);
            inSitemap = false;
        }
    }
    return entries;
}

std::string htmlTitle(const std::string& html) {
    const std::string low = ascii::toLower(html);
    const auto open = low.find("<title");
    if (open == std::string::npos)
        return {};
    const auto start = low.find('>', open);
    const auto stop = low.find("</title", open);
    if (start == std::string::npos || stop == std::string::npos || stop < start)
        return {};
    std::string title = decodeEntities(html.substr(start + 1, stop - start - 1));
    const auto first = title.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return title.substr(first, title.find_last_not_of(" \t\r\n") - first + 1);
}

std::string htmlPlainText(const std::string& html) {
    std::string text;
    std::string skipUntil;
    for (std::size_t at = 0; at < html.size();) {
        if (html[at] != '<') {
            const auto next = html.find('<', at);
            if (skipUntil.empty())
                text += html.substr(at, next - at);
            if (next == std::string::npos)
                break;
            at = next;
            continue;
        }
        const auto close = html.find('>', at);
        if (close == std::string::npos)
            break;
        const std::string name = tagName(html.substr(at, close - at + 1));
        if (!skipUntil.empty()) {
            if (name == skipUntil)
                skipUntil.clear();
        } else if (name == "script" || name == "style" || name == "title") {
            skipUntil = "/" + name;
        } else {
            text += ' ';
        }
        at = close + 1;
    }
    return decodeEntities(text);
}

bool containsNoCase(const std::string& text, const std::string& needle) {
    return ascii::toLower(text).find(ascii::toLower(needle)) != std::string::npos;
}

} // namespace tonvert
