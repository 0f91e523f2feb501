#include "scan/scan.hpp"

#include "scan/fs/file_scan.hpp"
#include "scan/fs/tree_walk.hpp"
#include "scan/parallel/parallel_scan.hpp"

namespace vornu {

NameSet scan_root(std::string_view root) {
    NameCollector names;
    FileScratch& scratch = thread_scratch();
    for_each_python_file(root, [&](int fd) { scan_python_file(fd, names, scratch); });
    return std::move(names.names);
}

NameSet scan_roots(std::span<const std::string> roots) {
    WorkerPool& pool = global_worker_pool();
    return scan_roots_with(roots, &scan_root, pool);
}

}  // namespace vornu
