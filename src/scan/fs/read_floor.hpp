// The cost of finding and reading the files alone: the floor under any scan of them.
#pragma once

#include <cstdint>
#include <string_view>

#include "scan/fs/scan_scratch.hpp"

namespace vornu {

// Reads every Python file under `root` to its end, found exactly as the scan finds them and
// read through the same buffer, without looking at the bytes. Returns the bytes read.
std::uint64_t read_without_scanning(std::string_view root, ScanScratch& scratch);

}  // namespace vornu
