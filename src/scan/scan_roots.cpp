// Provisional sequential version; replaced by the worker-pool scan.
#include "scan/scan_roots.hpp"

#include "scan/scan_root.hpp"

namespace vornu {

NameSet scan_roots(std::span<const std::string> roots) {
    NameSet names;
    for (const std::string& root : roots) merge_names(names, scan_root(root));
    return names;
}

}  // namespace vornu
