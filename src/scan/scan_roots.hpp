#pragma once

#include <span>
#include <string>

#include "scan/name_set.hpp"

namespace vornu {

// The union of `scan_root` over all roots. Throws std::exception (with a descriptive
// what()) only for internal failures, such as a worker pool that cannot be started.
NameSet scan_roots(std::span<const std::string> roots);

}  // namespace vornu
