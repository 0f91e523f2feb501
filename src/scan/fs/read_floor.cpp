#include "scan/fs/read_floor.hpp"

#include "scan/fs/file_scan.hpp"
#include "scan/fs/system_calls.hpp"
#include "scan/fs/tree_walk.hpp"

namespace vornu {

std::uint64_t read_python_files(std::string_view root) {
    FileScratch& scratch = thread_scratch();
    if (scratch.capacity < scratch.chunk) {
        scratch.buffer = std::make_unique_for_overwrite<unsigned char[]>(scratch.chunk);
        scratch.capacity = scratch.chunk;
    }
    std::uint64_t total = 0;
    for_each_python_file(root, [&](int fd) {
        for (long n; (n = sys::read(fd, scratch.buffer.get(), scratch.chunk)) > 0;)
            total += static_cast<std::uint64_t>(n);
    });
    return total;
}

}  // namespace vornu
