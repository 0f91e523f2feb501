#pragma once

#include <functional>
#include <string_view>

namespace vornu {

// At most this many directories of one walk are open at once, however deep the tree.
inline constexpr std::size_t max_open_directories = 10;

// True if the last component of `path` has the extension "py" exactly: the part after
// its last full stop, where a name that starts with its only full stop has none.
bool has_python_extension(std::string_view path);

// Calls `visit` with an open descriptor of every Python source file under `root`: every
// regular file (a symbolic link to one counts) whose extension is "py". `root` is used
// exactly as given and may itself be such a file, or a symbolic link to a directory;
// links below it are never descended into. Walks depth first without recursion. Every
// error of the walk is dropped: what cannot be listed, inspected or opened is skipped.
// The descriptor belongs to the walk and is closed when `visit` returns.
void for_each_python_file(std::string_view root, const std::function<void(int fd)>& visit);

}  // namespace vornu
