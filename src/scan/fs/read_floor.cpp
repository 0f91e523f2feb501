#include "scan/fs/read_floor.hpp"

#include <unistd.h>

#include <cerrno>

#include "scan/fs/file_scan.hpp"
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
        for (;;) {
            const ssize_t n = ::read(fd, scratch.buffer.get(), scratch.chunk);
            if (n > 0) total += static_cast<std::uint64_t>(n);
            else if (n == 0 || errno != EINTR) break;
        }
    });
    return total;
}

}  // namespace vornu
