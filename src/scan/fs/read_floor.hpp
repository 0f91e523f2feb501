#pragma once

#include <cstdint>
#include <string_view>

namespace vornu {

// Reads every Python file under `root` to its end, found exactly as the scan finds them,
// without looking at the bytes: the cost of the walk and the reads alone, the floor any
// scan of the same files stands on. Returns the number of bytes read.
std::uint64_t read_python_files(std::string_view root);

}  // namespace vornu
