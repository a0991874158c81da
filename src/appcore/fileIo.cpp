#include "fileIo.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

#include "atomicFile.h"

namespace tonvert {

bool readWholeFile(const std::string& path, std::string& text) {
    return readFileHead(path, std::numeric_limits<std::size_t>::max(), text);
}

bool readFileHead(const std::string& path, std::size_t maxBytes, std::string& text) {
    text.clear();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    in.seekg(0);
    text.resize(std::min(maxBytes, static_cast<std::size_t>(size)));
    if (text.empty())
        return true;
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return !in.bad() && static_cast<std::size_t>(in.gcount()) == text.size();
}

bool writeTextFile(const std::string& path, const std::string& text) {
    return replaceFileContents(path, text);
}

} // namespace tonvert
