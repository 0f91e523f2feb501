// Opening and inspecting paths of any length, relative to an open directory where there is one.
#pragma once

#include <sys/stat.h>

#include <string>

namespace vornu {

// open(2) for a path of any length. A path too long for one system call (PATH_MAX) is
// resolved a piece at a time, each piece relative to the directory the last one reached,
// so a deep tree can be read to the bottom. Returns minus the error number on failure.
int open_long_path(const std::string& path, int flags);

// fstatat(2) relative to `dir_fd` when the caller holds that directory open, and through
// `path` otherwise. `flags` is 0 or AT_SYMLINK_NOFOLLOW.
bool stat_entry(int dir_fd, const char* name, const std::string& path, struct stat& status,
                int flags);

// openat(2) relative to `dir_fd` when the caller holds that directory open, and through
// `path` otherwise.
int open_entry(int dir_fd, const char* name, const std::string& path, int flags);

}  // namespace vornu
