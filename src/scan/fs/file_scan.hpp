// The names imported by one open Python source file, read in pieces.
#pragma once

#include <cstdint>

#include "scan/scan_scratch.hpp"
#include "scan/names/name_collector.hpp"
#include "scan/search/kernel.hpp"

namespace vornu {

// Adds the names imported by the Python source open at `fd` to `names`. The file is read
// from its start to its end, or up to `size` bytes where that is the size it was opened
// with (0 when not known), in pieces of `scratch.lines.chunk()` bytes; of the line that a
// piece cuts, only a few bytes that stand for what still matters are carried to the next,
// and every byte is looked at a bounded number of times however the pieces fall. A name
// that pieces cut is read back (pread) once it is taken, so no line costs more memory than
// the piece, however long. If any byte of the file is not valid UTF-8, or reading (or
// reading back) fails, the file adds nothing. Throws ScanStopped, between pieces, once the
// call of `scratch.stop` is to stop: a file that never ends can still be left.
void scan_python_file(int fd, NameCollector& names, ScanScratch& scratch,
                      const SearchKernel& kernel = active_search_kernel(), std::uint64_t size = 0);

}  // namespace vornu
