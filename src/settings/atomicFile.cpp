#include "atomicFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#if defined(_WIN32)
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tonvert {

#if defined(_WIN32)

bool replaceFileContents(const std::string& path, const std::string& bytes,
                         [[maybe_unused]] InPlaceRewrite inPlace) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error)
        std::remove(temporary.c_str());
    return !error;
}

#else

namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a chain of symbolic links ends at, or the path itself when it is no link; a
// relative link is taken from the folder it lies in. Gives nothing for a loop.
std::optional<std::string> finalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return std::nullopt;
        target.resize(static_cast<std::size_t>(length));
        const auto slash = path.rfind('/');
        if (target.front() != '/' && slash != std::string::npos)
            target.insert(0, path, 0, slash + 1);
        path = std::move(target);
    }
    return std::nullopt;
}

// Overwrites the file's own bytes and cuts off what is left of the old ones: as long as the
// text does not grow, that needs no new room on the disk.
bool overwrite(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
              ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

// Only root may give a file away; anyone may keep its group when a member of it.
bool takeOwnerAndMode(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // The new file stays in the user's own group.
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

} // namespace

bool replaceFileContents(const std::string& path, const std::string& bytes,
                         InPlaceRewrite inPlace) {
    const std::optional<std::string> target = finalTarget(path);
    if (!target)
        return false;
    struct stat old {};
    const bool exists = ::stat(target->c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return false;
    // The rename needs only the folder's permission, so a read-only file is told by its
    // mode bits, which bind root too, and by access(2) for everyone else.
    if (exists && (!S_ISREG(old.st_mode) || (old.st_mode & S_IWUSR) == 0 ||
                   ::access(target->c_str(), W_OK) != 0))
        return false;

    std::string temporary = *target + ".XXXXXX";
    // mkstemp creates the file with mode 0600.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        const bool folderRefuses = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
        return folderRefuses && exists && inPlace == InPlaceRewrite::whenNoTemporaryFile &&
               overwrite(*target, bytes);
    }
    bool ok = (!exists || takeOwnerAndMode(fd, old)) && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), target->c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

#endif

} // namespace tonvert
