#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/names/name_collector.hpp"

namespace vornu {

// Memory that one thread reuses from file to file, so that reading a file allocates
// nothing once the first file is done.
struct FileScratch {
    // Small enough that the buffer stays clear of the allocator's separately mapped blocks,
    // which reads into were measured to make markedly slower; large enough that a file
    // of tens of MB costs few system calls.
    static constexpr std::size_t default_chunk = 64 * 1024;

    explicit FileScratch(std::size_t chunk = default_chunk) : chunk(chunk) {}

    std::size_t chunk;                       // bytes asked of the file per piece
    std::unique_ptr<unsigned char[]> buffer; // kept line start + one chunk
    std::size_t capacity = 0;
    std::vector<std::string_view> heads;     // names found in the current piece
    std::vector<std::string> pending;        // new names of a file that is not yet validated
};

// The scratch of the calling thread.
FileScratch& thread_scratch();

// Adds the names imported by the Python source open at `fd` to `names`. The file is read
// to its end in pieces of `scratch.chunk` bytes; only the line that a piece cuts is kept
// over to the next one. If any byte of the file is not valid UTF-8, or reading fails, the
// file adds nothing.
void scan_python_file(int fd, NameCollector& names, FileScratch& scratch);

}  // namespace vornu
