#include "fileIo.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tonvert {

bool readWholeFile(const std::string& path, std::string& text) {
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
    text.resize(static_cast<std::size_t>(size));
    in.read(text.data(), size);
    return in.good() && in.gcount() == size;
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    const bool written = out.good();
    out.close();
    return written && !out.fail();
}

} // namespace tonvert
