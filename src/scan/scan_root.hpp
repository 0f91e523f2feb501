#pragma once

#include <string_view>

#include "scan/name_set.hpp"

namespace vornu {

// The names imported by the Python files under `root` (a directory or a single file),
// used exactly as given. Never fails because of the file system: whatever cannot be
// listed, inspected or read contributes nothing. Safe to call from many threads at once.
NameSet scan_root(std::string_view root);

}  // namespace vornu
