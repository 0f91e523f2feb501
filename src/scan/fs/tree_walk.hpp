// The depth-first walk of one root that finds its Python source files.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace vornu {

// At most this many directories of one walk are open at once, however deep the tree.
inline constexpr std::size_t max_open_directories = 10;

// Directory listings, one buffer for each directory that may be open at once, reused from
// walk to walk by the same scanning frame: a walk allocates nothing per directory.
struct ListingBuffers {
    static constexpr std::size_t size = 16 * 1024;
    ListingBuffers();
    ~ListingBuffers();
    unsigned char* slot(std::size_t index);

private:
    std::unique_ptr<unsigned char[]> slots[max_open_directories];
};

// True if the last component of `path` has the extension "py" exactly: the part after
// its last full stop, where a name that starts with its only full stop has none.
bool has_python_extension(std::string_view path);

// Calls `visit` with an open descriptor of every Python source file under `root`: every
// regular file (a symbolic link to one counts) whose extension is "py". `root` is used
// exactly as given and may itself be such a file, or a symbolic link to a directory;
// links below it are never descended into. Walks depth first without recursion. Every
// error of the walk is dropped: what cannot be listed, inspected or opened is skipped.
// The descriptor belongs to the walk and is closed when `visit` returns.
void for_each_python_file(std::string_view root, ListingBuffers& listings,
                          const std::function<void(int fd)>& visit);

}  // namespace vornu
