// Memory that one scanning thread reuses from root to root and from file to file.
#pragma once

#include "scan/call_stop.hpp"
#include "scan/fs/line_buffer.hpp"
#include "scan/fs/tree_walk.hpp"
#include "scan/names/name_collector.hpp"
#include "scan/search/candidate.hpp"

namespace vornu {

// Owned by the frame that scans (a piece of a call, on whichever thread runs it), never by
// the thread itself: per-thread storage of a shared library is allocated lazily, and glibc
// ends the process when that allocation fails.
struct ScanScratch {
    explicit ScanScratch(std::size_t chunk = LineBuffer::default_chunk) : lines(chunk) {}

    LineBuffer lines;
    Heads heads;             // names found in the current piece of a file
    NameCollector pending;   // new names of a file that has not yet proved valid
    ListingBuffers listings;
    StopCheck stop;          // of the call that the frame scans for; none by default
};

}  // namespace vornu
