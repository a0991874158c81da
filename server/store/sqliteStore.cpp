#include "store/sqliteStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "asciiText.h"
#include "store/schema.h"

namespace tonvert::service {

namespace {

// Writes the bytes and has them on the disk before it returns: a row that names the file is
// committed only after that.
bool writeWhole(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    written = written && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

// Has a file written by someone else (the renderer) on the disk.
bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Has a folder's entries (a file renamed into it) on the disk.
void syncFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot sync " + path + ": " + std::strerror(error));
    }
    ::close(fd);
}

// The row number in a body's file name ("12.mid"), or 0 for a name of something else.
std::int64_t rowOfBody(const std::filesystem::path& file, const char* extension) {
    if (file.extension() != extension)
        return 0;
    const std::string stem = file.stem().string();
    if (!ascii::allDigits(stem) || stem.size() > 18)
        return 0;
    return std::stoll(stem);
}

} // namespace

namespace {

// The database file, made or kept readable and writable by its owner only; SQLite gives its
// journal files the same permissions.
std::string ownerOnlyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    const bool tightened = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!tightened)
        throw std::runtime_error("cannot make " + path + " private: " + std::strerror(errno));
    return path;
}

// The folders of the bodies, private like the data folder.
std::string withBodyFolders(const std::string& folder) {
    for (const char* kind : {"/midi", "/audio"}) {
        std::filesystem::create_directories(folder + kind);
        std::filesystem::permissions(folder + kind, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
    }
    return folder;
}

// A body file opened while it was sure to be there: removing it after takes nothing from
// the reader.
class FileBody final : public BodySource {
public:
    explicit FileBody(const std::string& path)
        : file_(path, std::ios::binary) {}
    bool isOpen() const { return static_cast<bool>(file_); }
    std::size_t read(std::uint64_t offset, char* buffer, std::size_t size) override {
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(buffer, static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(std::max<std::streamsize>(file_.gcount(), 0));
    }

private:
    std::ifstream file_;
};

} // namespace

SqliteStore::SqliteStore(const std::string& dataFolder, StoreOptions options)
    : SqlStore(withBodyFolders(dataFolder), std::move(options),
               {.nextLease = "(SELECT MAX(lease) FROM midi_records) + 1",
                .nextTurn = "(SELECT MAX(last_served) FROM accounts) + 1"})
    , pool_([path = ownerOnlyFile(folder() + "/tonvert.sqlite")] {
        return std::make_unique<SqliteConnection>(path);
    }) {
    runWrite([](SqlTransaction& db) { migrateSchema(db); });
    keepFormKey();
    sweepOrphanBodies();
}

void SqliteStore::runWrite(const Transaction& work) {
    // The write lock is taken first, so that a transaction never has to give up a snapshot it
    // read.
    pool_.run("BEGIN IMMEDIATE", work);
}

void SqliteStore::runRead(const Transaction& work) {
    pool_.run("BEGIN", work);
}

std::string SqliteStore::sameName(const std::string& column, const std::string& parameter) const {
    return column + " = " + parameter;
}

std::int64_t SqliteStore::leaseEnd(std::int64_t) const {
    return std::numeric_limits<std::int64_t>::max();
}

std::string midiBodyName(std::int64_t record) {
    return "midi/" + std::to_string(record) + ".mid";
}

std::string audioBodyName(std::int64_t file) {
    return "audio/" + std::to_string(file) + ".bin";
}

std::string SqliteStore::midiPath(std::int64_t record) const {
    return folder() + "/" + midiBodyName(record);
}

std::string SqliteStore::audioPath(std::int64_t file) const {
    return folder() + "/" + audioBodyName(file);
}

std::string SqliteStore::bodyPath(BodyKind kind, std::int64_t row) const {
    return kind == BodyKind::midi ? midiPath(row) : audioPath(row);
}

// A service killed between a commit and the removal of a body leaves the body without its
// row; nothing will ever name it again.
void SqliteStore::sweepOrphanBodies() {
    struct Kind {
        const char* folder;
        const char* extension;
        const char* table;
    };
    for (const Kind kind :
         {Kind{"/midi", ".mid", "midi_records"}, Kind{"/audio", ".bin", "audio_files"}}) {
        std::vector<std::pair<std::int64_t, std::filesystem::path>> bodies;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder() + kind.folder, error))
            if (const std::int64_t row = rowOfBody(entry.path(), kind.extension); row != 0)
                bodies.emplace_back(row, entry.path());
        const std::string sql = std::string("SELECT 1 FROM ") + kind.table + " WHERE id = $1";
        for (const auto& [row, path] : bodies)
            if (!read([&](SqlTransaction& db) { return db.queryOne(sql, {row}).has_value(); }))
                removeFile(path.string());
    }
}

SqlStore::NewBody SqliteStore::keepBody(std::string_view bytes) {
    NewBody body{0, scratchPath(), static_cast<std::int64_t>(bytes.size()), ""};
    if (!writeWhole(body.path, bytes)) {
        removeFile(body.path);
        throw std::runtime_error("cannot write " + body.path);
    }
    return body;
}

std::optional<SqlStore::NewBody> SqliteStore::keepBodyOfFile(const std::string& path) {
    std::error_code unreadable;
    const auto size = std::filesystem::file_size(path, unreadable);
    if (unreadable)
        return std::nullopt;
    if (!syncFile(path))
        throw std::runtime_error("cannot sync " + path);
    return NewBody{0, path, static_cast<std::int64_t>(size), ""};
}

void SqliteStore::placeBody(SqlTransaction&, BodyKind kind, std::int64_t row, NewBody& body) {
    body.placedPath = bodyPath(kind, row);
    std::filesystem::rename(body.path, body.placedPath);
    syncFolder(std::filesystem::path(body.placedPath).parent_path().string());
}

void SqliteStore::dropBody(const NewBody& body) noexcept {
    removeFile(body.path);
    if (!body.placedPath.empty())
        removeFile(body.placedPath);
}

void SqliteStore::bodyReleased(BodyKind kind, std::int64_t row) {
    removeFile(bodyPath(kind, row));
}

std::shared_ptr<BodySource> SqliteStore::openBody(const SqlRow& file) {
    auto body = std::make_shared<FileBody>(audioPath(file.integer(0)));
    return body->isOpen() ? body : nullptr;
}

bool SqliteStore::fetchMidi(std::int64_t record, const std::string& localPath) {
    std::error_code error;
    std::filesystem::copy_file(midiPath(record), localPath,
                               std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

void SqliteStore::requeueUnfinished() {
    runWrite([](SqlTransaction& db) {
        // The service died while rendering these, maybe of one of them: each counts a failure.
        db.execute("UPDATE midi_records SET state = 'waiting', attempts = attempts + 1 "
                   "WHERE state = 'rendering'");
    });
}

} // namespace tonvert::service
