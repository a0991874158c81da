#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <sys/stat.h>

#include "log/log.h"
#include "store/pgStore.h"
#include "store/sqliteStore.h"

namespace tonvert::service {

bool isPostgresUrl(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

bool urlHasPassword(const std::string& url) {
    if (!isPostgresUrl(url))
        return false;
    const std::string rest = url.substr(url.find("://") + 3);
    const std::string authority = rest.substr(0, rest.find_first_of("/?"));
    const auto at = authority.rfind('@');
    return at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos;
}

void useDatabasePasswordFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw std::runtime_error("the database password file " + path + " cannot be read");
    if ((status.st_mode & 077) != 0)
        throw std::runtime_error("the database password file " + path +
                                 " may be read by others: make it its owner's alone (chmod 600)");
    std::ifstream in(path);
    std::string password;
    if (!std::getline(in, password) || password.empty())
        throw std::runtime_error("the database password file " + path + " holds no password");
    ::setenv("PGPASSWORD", password.c_str(), 1);
}

void openingStore(const std::string& location, const std::string& passwordFile) {
    if (!passwordFile.empty())
        useDatabasePasswordFile(passwordFile);
    if (urlHasPassword(location))
        logWarning() << "the database password in --store is on the command line, for every user "
                        "of this machine to read: give it in PGPASSWORD, ~/.pgpass or "
                        "--store-password-file instead";
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
