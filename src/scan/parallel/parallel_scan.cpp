// The division of a root list into pieces on the pool and the merging of their names.
#include "scan/parallel/parallel_scan.hpp"

#include <algorithm>

#include "scan/parallel/fork_join.hpp"

namespace vornu {
namespace {

using Roots = std::span<const std::string>;

struct Call {
    ScanOne scan_one;
    std::size_t threads;
    ScanStats* stats;
    CallStop* stop;

    void count(std::atomic<std::size_t> ScanStats::*counter) const {
        if (stats) (stats->*counter).fetch_add(1, std::memory_order_relaxed);
    }
};

// `on_calling_thread`: the piece runs on the thread that made the call, which alone may
// ask the stop's hook.
NameSet scan_in_sequence(Roots roots, const Call& call, bool on_calling_thread) {
    call.count(&ScanStats::pieces);
    ScanScratch scratch;
    scratch.stop = StopCheck{call.stop, on_calling_thread};
    NameCollector names;
    for (const std::string& root : roots) {
        scratch.stop();
        call.scan_one(root, scratch, names);
    }
    return names.take();
}

NameSet divide(Worker& self, Roots roots, std::size_t splits, bool halves_moved, const Call& call);

NameSet scan_piece(Worker& self, Roots roots, std::size_t splits, bool moved, const Call& call) {
    if (!should_divide(roots.size(), splits, moved, call.threads)) return scan_in_sequence(roots, call, false);
    return divide(self, roots, splits, false, call);
}

// The left half runs here while the right half is offered to idle workers; the halves of
// the first division, handed in from outside the pool, both count as moved.
NameSet divide(Worker& self, Roots roots, std::size_t splits, bool halves_moved, const Call& call) {
    call.count(&ScanStats::divisions);
    const std::size_t middle = roots.size() / 2;
    auto [names, right_names] = fork_join(
        self, [&](Worker& worker) { return scan_piece(worker, roots.first(middle), splits, halves_moved, call); },
        [&](Worker& worker, bool moved) {
            if (moved) call.count(&ScanStats::moved);
            return scan_piece(worker, roots.subspan(middle), splits, moved || halves_moved, call);
        });
    merge_names(names, std::move(right_names));
    return names;
}

}  // namespace

bool should_divide(std::size_t length, std::size_t& splits, bool moved,
                   std::size_t threads) noexcept {
    if (length < 2) return false;
    if (moved) {
        splits = std::max(threads, splits / 2);
        return true;
    }
    if (splits == 0) return false;
    splits /= 2;
    return true;
}

NameSet scan_roots_with(Roots roots, ScanOne scan_one, WorkerPool& pool, ScanStats* stats, CallStop* stop) {
    const Call call{scan_one, pool.size(), stats, stop};
    NameSet names;
    if (roots.size() < 2 || pool.awaited_by_this_thread()) {
        // A call made while this thread waits on the pool for another call (from that
        // call's hook) would queue behind work that may go on for as long as it likes.
        names = scan_in_sequence(roots, call, true);
    } else if (Worker* self = pool.current_worker()) {
        // A scan that itself scans many roots, from inside a worker, divides in place
        // rather than waiting on the pool it occupies.
        names = divide(*self, roots, call.threads, true, call);
    } else {
        names = run_in_pool(pool, stop,
                            [&](Worker& worker, bool) { return divide(worker, roots, call.threads, true, call); });
    }
    // The last roots may have ended before they saw the stop; the result is dropped all the same.
    if (stop != nullptr && stop->stopped()) throw ScanStopped();
    return names;
}

}  // namespace vornu
