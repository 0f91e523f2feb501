// The scan of one root and of many, put together from the rooms below.
#include "scan/scan.hpp"

#include "scan/fs/file_scan.hpp"
#include "scan/fs/tree_walk.hpp"
#include "scan/parallel/global_pool.hpp"
#include "scan/parallel/parallel_scan.hpp"

namespace vornu {

void scan_root_into(std::string_view root, ScanScratch& scratch, NameCollector& names) {
    const SearchKernel& kernel = active_search_kernel();
    for_each_python_file(
        root, scratch.listings,
        [&](int fd, std::uint64_t size) {
            scratch.stop();
            scan_python_file(fd, names, scratch, kernel, size);
        },
        [&] { scratch.stop(); });
}

NameSet scan_root(std::string_view root, ScanScratch& scratch) {
    NameCollector names;
    scan_root_into(root, scratch, names);
    return names.take();
}

NameSet scan_root(std::string_view root) {
    ScanScratch scratch;
    return scan_root(root, scratch);
}

NameSet scan_roots(std::span<const std::string> roots, CallStop* stop) {
    active_search_kernel();  // throws here, on the caller's thread, for an override that cannot be obeyed
    WorkerPool& pool = global_worker_pool();
    return scan_roots_with(roots, &scan_root_into, pool, nullptr, stop);
}

}  // namespace vornu
