// The cost of finding and reading the files alone: the floor under any scan of them.
#pragma once

#include <cstdint>
#include <string_view>

#include "scan/scan_scratch.hpp"

namespace vornu {

// Reads every Python file under `root`, found exactly as the scan finds them and read
// through the same buffer, without looking at the bytes; returns the bytes read. The plain
// floor reads each file until a read finds its end; the lean one stops, as the scan does,
// once the size the file was opened with has come.
enum class Floor { plain, lean };
std::uint64_t read_without_scanning(std::string_view root, ScanScratch& scratch, Floor floor);

}  // namespace vornu
