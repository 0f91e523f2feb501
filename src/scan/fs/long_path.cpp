// Opening and inspecting paths of any length, a piece at a time past PATH_MAX.
#include "scan/fs/long_path.hpp"

#include <limits.h>

#include "scan/fs/system_calls.hpp"
#include "scan/fs/unique_fd.hpp"

namespace vornu {

int open_long_path(const std::string& path, int flags) {
    if (path.size() < PATH_MAX) return sys::open_at(AT_FDCWD, path.c_str(), flags);
    UniqueFd dir;
    std::size_t start = 0;
    while (path.size() - start >= PATH_MAX) {
        const std::size_t slash = path.rfind('/', start + PATH_MAX - 2);
        if (slash == std::string::npos || slash < start) return -ENAMETOOLONG;
        const std::string piece = path.substr(start, slash - start + 1);
        const int next = sys::open_at(dir ? dir.get() : AT_FDCWD, piece.c_str(),
                                      O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) return next;
        dir.reset(next);
        start = slash + 1;
    }
    const char* rest = start == path.size() ? "." : path.c_str() + start;
    return sys::open_at(dir.get(), rest, flags);
}

bool stat_entry(int dir_fd, const char* name, const std::string& path, struct stat& status,
                int flags) {
    if (dir_fd >= 0) return sys::stat_at(dir_fd, name, status, flags);
    if (path.size() < PATH_MAX) return sys::stat_at(AT_FDCWD, path.c_str(), status, flags);
    const int no_follow = (flags & AT_SYMLINK_NOFOLLOW) ? O_NOFOLLOW : 0;
    const UniqueFd fd(open_long_path(path, O_PATH | O_CLOEXEC | no_follow));
    return fd && sys::fstat(fd.get(), status);
}

int open_entry(int dir_fd, const char* name, const std::string& path, int flags) {
    if (dir_fd >= 0) return sys::open_at(dir_fd, name, flags);
    return open_long_path(path, flags);
}

}  // namespace vornu
