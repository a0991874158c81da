#include "store/backup.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "store/schema.h"
#include "store/sqliteDatabase.h"
#include "store/sqliteStore.h"

namespace tonvert::service {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDatabase = "tonvert.sqlite";
constexpr const char* kManifest = "manifest.txt";
constexpr const char* kManifestTitle = "tonvert-service backup";

std::runtime_error systemError(const std::string& what, const fs::path& path) {
    return std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

// The folder named without a trailing separator, so that a sibling can be named after it.
fs::path folderPath(const std::string& text) {
    fs::path path = fs::path(text).lexically_normal();
    return path.has_filename() || !path.has_parent_path() ? path : path.parent_path();
}

fs::path partialOf(const fs::path& folder) {
    return fs::path(folder.string() + ".partial");
}

bool emptyOrAbsent(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error))
        return !error;
    return fs::is_directory(folder, error) && fs::is_empty(folder, error);
}

void syncPath(const fs::path& path, bool folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0 || ::fsync(fd) != 0) {
        const auto failure = systemError("cannot sync", path);
        if (fd >= 0)
            ::close(fd);
        throw failure;
    }
    ::close(fd);
}

// A folder of the caller's alone, with the bodies' two folders in it. One already there is
// another backup's or restore's, under way or cut short: it is not ours to touch.
void makeBodyFolders(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0)
        throw errno == EEXIST
            ? std::runtime_error(folder.string() + " is there: another backup or restore is "
                                                   "under way, or one was cut short (remove it)")
            : systemError("cannot make", folder);
    for (const char* kind : {"midi", "audio"})
        if (::mkdir((folder / kind).c_str(), 0700) != 0)
            throw systemError("cannot make", folder / kind);
}

void syncBodyFolders(const fs::path& folder) {
    for (const char* kind : {"midi", "audio"})
        syncPath(folder / kind, true);
    syncPath(folder, true);
}

// Renames the whole folder into place: an empty folder there is replaced, a full one refused.
void putInPlace(const fs::path& partial, const fs::path& folder) {
    syncBodyFolders(partial);
    if (::rename(partial.c_str(), folder.c_str()) != 0)
        throw systemError("cannot rename " + partial.string() + " to", folder);
    syncPath(folder.has_parent_path() ? folder.parent_path() : fs::path("."), true);
}

void copyWhole(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to);
    syncPath(to, false);
}

// A hard link where both lie on one file system (a body never changes in place); a copy
// where they do not.
void linkOrCopy(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0)
        return;
    if (errno != EXDEV && errno != EPERM && errno != EMLINK)
        throw systemError("cannot link " + from.string() + " as", to);
    copyWhole(from, to);
}

// A body the database names: its file under the data folder, and its size by its row.
struct NamedBody {
    std::string name;
    std::int64_t size = 0;
};

std::vector<NamedBody> namedBodies(SqlTransaction& db) {
    std::vector<NamedBody> bodies;
    for (const SqlRow& row : db.query("SELECT id, size FROM midi_records ORDER BY id"))
        bodies.push_back({midiBodyName(row.integer(0)), row.integer(1)});
    for (const SqlRow& row : db.query("SELECT id, size FROM audio_files ORDER BY id"))
        bodies.push_back({audioBodyName(row.integer(0)), row.integer(1)});
    return bodies;
}

void countRows(SqlTransaction& db, BackupResult& result) {
    const auto count = [&db](const std::string& table) {
        return db.queryOne("SELECT COUNT(*) FROM " + table)->integer(0);
    };
    const auto version = db.queryOne("SELECT version FROM schema_version");
    result.schemaVersion = version ? static_cast<int>(version->integer(0)) : 0;
    result.accounts = count("accounts");
    result.ledgerLines = count("ledger");
    result.midiFiles = count("midi_records");
    result.audioFiles = count("audio_files");
}

// The counts a manifest lists, by their names there.
std::map<std::string, std::int64_t> countsOf(const BackupResult& result) {
    return {{"schema_version", result.schemaVersion}, {"accounts", result.accounts},
            {"ledger_lines", result.ledgerLines},     {"midi_files", result.midiFiles},
            {"audio_files", result.audioFiles},       {"body_bytes", result.bodyBytes}};
}

void writeManifest(const fs::path& path, const BackupResult& result) {
    std::ofstream out(path);
    out << kManifestTitle << "\n";
    for (const auto& [name, value] : countsOf(result))
        out << name << " " << value << "\n";
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    syncPath(path, false);
}

std::map<std::string, std::int64_t> readManifest(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line != kManifestTitle)
        throw std::runtime_error(path.parent_path().string() +
                                 " holds no backup of the service (no readable " + kManifest + ")");
    std::map<std::string, std::int64_t> counts;
    std::string name;
    std::int64_t value = 0;
    while (in >> name >> value)
        counts[name] = value;
    return counts;
}

// Hard links under the data folder to the bodies the snapshot names, gone with the backup.
class Staging {
public:
    explicit Staging(const fs::path& dataFolder)
        : folder_(dataFolder / (".backup-" + std::to_string(::getpid()))) {
        makeBodyFolders(folder_);
    }
    ~Staging() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    const fs::path& folder() const { return folder_; }

private:
    fs::path folder_;
};

// Begins the snapshot the backup copies, and links the bodies it names into the staging
// folder. The service renames a body into place before the commit of the row that names it,
// and removes it only after the commit of the row's removal. A read transaction alone does
// not keep such a commit from happening (WAL: writers never wait for readers), so a body the
// snapshot names could go before it is linked. The write lock is held instead while the
// snapshot begins and its bodies are linked: no removal commits in between, and every body
// it names is there. Links are quick, so writers wait only that long; the database itself is
// copied after, from the snapshot, with writers going on.
std::vector<NamedBody> stageBodies(const fs::path& dataFolder, SqliteConnection& snapshot,
                                   const fs::path& staging, BackupResult& result) {
    SqliteConnection writers((dataFolder / kDatabase).string());
    writers.execute("BEGIN IMMEDIATE");
    const auto start = std::chrono::steady_clock::now();
    snapshot.execute("BEGIN");
    const std::vector<NamedBody> bodies = namedBodies(snapshot);
    for (const NamedBody& body : bodies)
        if (::link((dataFolder / body.name).c_str(), (staging / body.name).c_str()) != 0)
            throw systemError("cannot link the body", dataFolder / body.name);
    writers.execute("ROLLBACK");
    result.writersHeld = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    return bodies;
}

// The online backup, from the snapshot the connection holds. That snapshot stays one
// consistent read for every step, however the service writes meanwhile; the steps keep each
// call short.
void copyDatabase(SqliteConnection& snapshot, const fs::path& to, const BackupOptions& options) {
    sqlite3* opened = nullptr;
    const int status =
        sqlite3_open_v2(to.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> copy(opened, sqlite3_close);
    if (status != SQLITE_OK)
        throw std::runtime_error("cannot make " + to.string() + ": " + sqlite3_errstr(status));
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", snapshot.handle(), "main");
    if (backup == nullptr)
        throw std::runtime_error("cannot copy the database: " +
                                 std::string(sqlite3_errmsg(copy.get())));
    int step = SQLITE_OK;
    while (step == SQLITE_OK) {
        step = sqlite3_backup_step(backup, options.pagesPerStep);
        const int pages = sqlite3_backup_pagecount(backup);
        if (options.progress && step == SQLITE_OK)
            options.progress(pages - sqlite3_backup_remaining(backup), pages);
    }
    sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE)
        throw std::runtime_error("cannot copy the database: " + std::string(sqlite3_errstr(step)));
}

void backUp(const fs::path& data, const fs::path& partial, const BackupOptions& options,
            BackupResult& result) {
    const Staging staging(data);
    SqliteConnection snapshot((data / kDatabase).string());
    const std::vector<NamedBody> bodies = stageBodies(data, snapshot, staging.folder(), result);
    countRows(snapshot, result);
    copyDatabase(snapshot, partial / kDatabase, options);
    snapshot.execute("COMMIT");
    result.databaseBytes = static_cast<std::int64_t>(fs::file_size(partial / kDatabase));
    for (const NamedBody& body : bodies) {
        linkOrCopy(staging.folder() / body.name, partial / body.name);
        result.bodyBytes += static_cast<std::int64_t>(fs::file_size(partial / body.name));
    }
    writeManifest(partial / kManifest, result);
}

// Copies the bodies the restored database names, each there with its row's size.
void restoreBodies(const fs::path& backup, const fs::path& partial, BackupResult& result) {
    std::vector<NamedBody> bodies;
    {
        SqliteConnection db((partial / kDatabase).string());
        const auto check = db.queryOne("PRAGMA quick_check");
        if (!check || check->text(0) != "ok")
            throw std::runtime_error("the backup's database is damaged: " +
                                     (check ? check->text(0) : std::string("no answer")));
        countRows(db, result);
        if (result.schemaVersion > latestSchemaVersion())
            throw std::runtime_error(
                "the backup's schema is of version " + std::to_string(result.schemaVersion) +
                ", newer than this program's " + std::to_string(latestSchemaVersion()) +
                ": restore it with the service that made it, or a newer one");
        bodies = namedBodies(db);
    }
    for (const NamedBody& body : bodies) {
        std::error_code missing;
        const auto size = fs::file_size(backup / body.name, missing);
        if (missing || static_cast<std::int64_t>(size) != body.size)
            throw std::runtime_error("the backup lacks " + body.name + " whole (" +
                                     std::to_string(body.size) +
                                     " bytes), which its database names");
        copyWhole(backup / body.name, partial / body.name);
        result.bodyBytes += body.size;
    }
}

// Runs the work into a ".partial" folder beside `folder`, then renames it into place; on a
// failure, removes what it made and says why.
template <typename Work>
BackupResult intoPartial(const fs::path& folder, const std::string& notEmpty, Work&& work) {
    BackupResult result;
    const fs::path partial = partialOf(folder);
    bool made = false;
    try {
        if (!emptyOrAbsent(folder))
            throw std::runtime_error(folder.string() + " is not empty: " + notEmpty);
        if (folder.has_parent_path())
            fs::create_directories(folder.parent_path());
        makeBodyFolders(partial);
        made = true;
        work(partial, result);
        putInPlace(partial, folder);
        result.ok = true;
    } catch (const std::exception& failure) {
        result.ok = false;
        result.error = failure.what();
        std::error_code ignored;
        if (made)
            fs::remove_all(partial, ignored);
    }
    return result;
}

} // namespace

BackupResult backupSqliteStore(const std::string& dataFolder, const std::string& target,
                               BackupOptions options) {
    const fs::path data = folderPath(dataFolder);
    if (!fs::is_regular_file(data / kDatabase)) {
        BackupResult result;
        result.error = "no SQLite store in " + data.string() + " (no " + kDatabase + ")";
        return result;
    }
    return intoPartial(folderPath(target), "a backup goes into an empty or new folder",
                       [&](const fs::path& partial, BackupResult& result) {
                           backUp(data, partial, options, result);
                       });
}

BackupResult restoreSqliteStore(const std::string& backup, const std::string& dataFolder) {
    const fs::path from = folderPath(backup);
    return intoPartial(
        folderPath(dataFolder), "a backup is restored into an empty or new data folder only",
        [&](const fs::path& partial, BackupResult& result) {
            const auto listed = readManifest(from / kManifest);
            copyWhole(from / kDatabase, partial / kDatabase);
            restoreBodies(from, partial, result);
            if (countsOf(result) != listed)
                throw std::runtime_error("the backup's database and bodies do not match its " +
                                         std::string(kManifest));
            result.databaseBytes = static_cast<std::int64_t>(fs::file_size(partial / kDatabase));
        });
}

namespace {

const char* const kPostgresProcedure =
    "tonvert-service: --backup and --restore copy the SQLite store of a data folder.\n"
    "A PostgreSQL store keeps everything, the files' bodies too, in its database: back it up\n"
    "with PostgreSQL's own tools while the services run,\n"
    "    pg_dump -Fc -f tonvert.dump postgresql://USER@HOST/DB\n"
    "and restore it into an empty database before starting the services on it:\n"
    "    pg_restore --no-owner --single-transaction --exit-on-error \\\n"
    "        -d postgresql://USER@HOST/NEWDB tonvert.dump\n";

std::string megabytes(std::int64_t bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / 1e6 << " MB";
    return text.str();
}

void describe(std::ostream& out, const BackupResult& result) {
    out << "the database (schema version " << result.schemaVersion << ", " << result.accounts
        << " accounts, " << result.ledgerLines << " ledger lines, " << result.midiFiles
        << " MIDI files, " << result.audioFiles << " audio files; "
        << megabytes(result.databaseBytes) << ") and " << result.midiFiles + result.audioFiles
        << " bodies (" << megabytes(result.bodyBytes) << ")";
}

} // namespace

int runBackupCommand(const std::string& backup, const std::string& restore,
                     const std::string& dataFolder, const std::string& storeUrl, std::ostream& out,
                     std::ostream& err) {
    if (!backup.empty() && !restore.empty()) {
        err << "tonvert-service: --backup and --restore go one at a time\n";
        return 2;
    }
    if (!storeUrl.empty()) {
        err << kPostgresProcedure;
        return 2;
    }
    const bool backingUp = !backup.empty();
    const BackupResult result =
        backingUp ? backupSqliteStore(dataFolder, backup) : restoreSqliteStore(restore, dataFolder);
    if (!result.ok) {
        err << "tonvert-service: " << (backingUp ? "backup" : "restore")
            << " failed: " << result.error << "\n";
        return 1;
    }
    out << (backingUp ? "backed up " : "restored ") << (backingUp ? dataFolder : restore)
        << " into " << (backingUp ? backup : dataFolder) << ": ";
    describe(out, result);
    if (backingUp)
        out << "; the service's writers waited " << result.writersHeld.count() / 1000.0 << " ms\n";
    else
        out << ", all there; start the service with --data " << dataFolder << "\n";
    return 0;
}

} // namespace tonvert::service
