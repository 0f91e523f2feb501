// The scan of many roots on a worker pool: recursive halving of the root list, each piece
// scanned in order, the pieces' names merged pairwise.
#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "scan/call_stop.hpp"
#include "scan/scan_scratch.hpp"
#include "scan/names/name_collector.hpp"
#include "scan/names/name_set.hpp"
#include "scan/parallel/worker_pool.hpp"

namespace vornu {

// The scan of one root, with the scratch of the piece that runs it, adding the root's names
// to the names of the piece: a piece of many roots builds one set, not one set per root
// merged into the next.
using ScanOne = void (*)(std::string_view root, ScanScratch& scratch, NameCollector& names);

// Counters of how a call was divided; for tests and benchmarks.
struct ScanStats {
    std::atomic<std::size_t> pieces{0};     // runs of roots scanned in sequence
    std::atomic<std::size_t> divisions{0};
    std::atomic<std::size_t> moved{0};      // pieces run on another thread than their divider's
};

// The split budget of one piece of `length` roots. Returns whether the piece is divided and
// updates `splits`, which both halves inherit. A piece that moved to another thread gets a
// fresh budget of at least `threads`, so work keeps being split where threads are idle.
bool should_divide(std::size_t length, std::size_t& splits, bool moved,
                   std::size_t threads) noexcept;

// The union of `scan_one` over `roots`, computed on `pool` (0 or 1 root: on the calling
// thread alone). An exception thrown by `scan_one` or a merge reaches the caller after the
// rest of the work has ended; no partial result is returned then. With a `stop`, each
// piece looks at it before each root and hands it to `scan_one` in its scratch; once it is
// to stop, the call waits for the work already under way to notice and throws ScanStopped.
// Its hook is asked on the calling thread only (see WorkerPool::run_from_outside).
NameSet scan_roots_with(std::span<const std::string> roots, ScanOne scan_one, WorkerPool& pool,
                        ScanStats* stats = nullptr, CallStop* stop = nullptr);

}  // namespace vornu
