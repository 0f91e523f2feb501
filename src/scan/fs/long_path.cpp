#include "scan/fs/long_path.hpp"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include "scan/fs/unique_fd.hpp"

namespace vornu {
namespace {

int open_retrying(int dir_fd, const char* path, int flags) {
    int fd;
    do {
        fd = ::openat(dir_fd, path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int open_long_path(const std::string& path, int flags) {
    if (path.size() < PATH_MAX) return open_retrying(AT_FDCWD, path.c_str(), flags);
    UniqueFd dir;
    std::size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
        const std::size_t slash = path.rfind('/', start + PATH_MAX - 2);
        if (slash == std::string::npos || slash < start) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string piece = path.substr(start, slash - start + 1);
        const int next = open_retrying(dir ? dir.get() : AT_FDCWD, piece.c_str(),
                                       O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) return -1;
        dir.reset(next);
        start = slash + 1;
    }
    const char* rest = start == path.size() ? "." : path.c_str() + start;
    return open_retrying(dir.get(), rest, flags);
}

bool stat_entry(int dir_fd, const char* name, const std::string& path, struct stat& status,
                int flags) {
    if (dir_fd >= 0) return ::fstatat(dir_fd, name, &status, flags) == 0;
    if (path.size() < PATH_MAX) return ::fstatat(AT_FDCWD, path.c_str(), &status, flags) == 0;
    const int no_follow = (flags & AT_SYMLINK_NOFOLLOW) ? O_NOFOLLOW : 0;
    const UniqueFd fd(open_long_path(path, O_PATH | O_CLOEXEC | no_follow));
    return fd && ::fstat(fd.get(), &status) == 0;
}

int open_entry(int dir_fd, const char* name, const std::string& path, int flags) {
    if (dir_fd >= 0) return open_retrying(dir_fd, name, flags);
    return open_long_path(path, flags);
}

}  // namespace vornu
