#include "store/store.h"

#include <ctime>
#include <filesystem>
#include <limits>

#include "store/randomHex.h"

namespace tonvert::service {

namespace {

// The data folder holds the process's scratch files and mail (and, for SQLite, the accounts
// and their files): for the service's own user only, also when an older service made it
// readable to all.
std::string prepareFolder(const std::string& folder) {
    for (const char* part : {"", "/scratch", "/outbox"}) {
        std::filesystem::create_directories(folder + part);
        std::filesystem::permissions(folder + part, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
    }
    // Scratch files are uploads and renders that never made it into a row.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/scratch", ignored))
        std::filesystem::remove(entry.path(), ignored);
    return folder;
}

} // namespace

std::int64_t feeFor(std::int64_t base, std::int64_t perMb, std::uint64_t bytes) {
    const std::uint64_t megabytes = (bytes + (1u << 20) - 1) >> 20;
    return base + perMb * static_cast<std::int64_t>(megabytes);
}

Store::Store(const std::string& dataFolder, StoreOptions options)
    : folder_(prepareFolder(dataFolder))
    , options_(std::move(options)) {
    if (!options_.clock)
        options_.clock = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

std::string Store::scratchPath() const {
    return folder_ + "/scratch/" + randomHex(12);
}

std::uint64_t Store::scratchRoom() const {
    std::error_code error;
    const auto space = std::filesystem::space(folder_ + "/scratch", error);
    return error ? std::numeric_limits<std::uint64_t>::max() : space.available;
}

void Store::removeFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace tonvert::service
