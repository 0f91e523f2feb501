// The depth-first walk of one root that finds its Python source files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "scan/fs/directory_stack.hpp"

namespace vornu {

// True if the last component of `path` has the extension "py" exactly: the part after
// its last full stop, where a name that starts with its only full stop has none.
bool has_python_extension(std::string_view path);

// The type of the entry `name` of the directory open at `dir_fd` (or, when that is -1, at
// `path`, the entry's whole path), as its listing gave it (`listed_type`), or found out with
// a look at the entry itself where the listing did not say (DT_UNKNOWN). DT_UNKNOWN when
// the entry cannot be inspected.
unsigned char entry_type(int dir_fd, const char* name, const std::string& path, unsigned char listed_type);

// Calls `visit` with an open descriptor of every Python source file under `root`: every
// regular file (a symbolic link to one counts) whose extension is "py". `root` is used
// exactly as given and may itself be such a file, or a symbolic link to a directory;
// links below it are never descended into. Walks depth first without recursion. Every
// error of the walk is dropped: what cannot be listed, inspected or opened is skipped.
// The descriptor belongs to the walk and is closed when `visit` returns; `size` is the
// file's size when it was opened.
// `every_few_entries`, when given, is called once every few hundred entries of the walk, so
// that a caller can stop a walk of a large tree even where it holds no Python file; it may
// throw, which ends the walk.
using VisitFile = std::function<void(int fd, std::uint64_t size)>;
void for_each_python_file(std::string_view root, ListingBuffers& listings, const VisitFile& visit,
                          const std::function<void()>& every_few_entries = {});

}  // namespace vornu
