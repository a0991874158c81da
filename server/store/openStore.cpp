#include <stdexcept>

#include "store/pgStore.h"
#include "store/sqliteStore.h"

namespace tonvert::service {

bool isPostgresUrl(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> openStore(const std::string& location, const std::string& dataFolder,
                                 StoreOptions options) {
    if (isPostgresUrl(location))
        return std::make_unique<PgStore>(location, dataFolder, std::move(options));
    if (!location.empty())
        throw std::invalid_argument("the store \"" + location +
                                    "\" is no postgresql:// or postgres:// URL");
    return std::make_unique<SqliteStore>(dataFolder, std::move(options));
}

} // namespace tonvert::service
