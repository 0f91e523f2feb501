#include "scan/parallel/parallel_scan.hpp"

#include <algorithm>
#include <exception>

namespace vornu {
namespace {

struct Call {
    ScanOne scan_one;
    std::size_t threads;
    ScanStats* stats;
};

void count(const Call& call, std::atomic<std::size_t> ScanStats::*counter) {
    if (call.stats) (call.stats->*counter).fetch_add(1, std::memory_order_relaxed);
}

NameSet scan_in_sequence(std::span<const std::string> roots, const Call& call) {
    count(call, &ScanStats::pieces);
    NameSet names;
    for (const std::string& root : roots) merge_names(names, call.scan_one(root));
    return names;
}

NameSet scan_piece(Worker& self, std::span<const std::string> roots, std::size_t splits,
                   bool moved, const Call& call);

// The right half of a division, offered to the other workers.
struct RightHalf {
    std::span<const std::string> roots;
    std::size_t splits;
    bool moved;  // forced for the halves of a list handed in from outside the pool
    const Call* call;
    NameSet names;
    std::exception_ptr failure;
    PoolJob job;
};

void run_right_half(PoolJob& job, Worker& self, bool moved) noexcept {
    auto& half = *static_cast<RightHalf*>(job.data);
    if (moved) count(*half.call, &ScanStats::moved);
    try {
        half.names = scan_piece(self, half.roots, half.splits, moved || half.moved, *half.call);
    } catch (...) {
        half.failure = std::current_exception();
    }
}

NameSet divide(Worker& self, std::span<const std::string> left_roots,
               std::span<const std::string> right_roots, std::size_t splits, bool halves_moved,
               const Call& call) {
    RightHalf right{right_roots, splits, halves_moved, &call, {}, {}, {}};
    right.job.run = &run_right_half;
    right.job.data = &right;
    offer(self, right.job);

    // Whatever happens on the left, the right half must be done before this frame ends.
    NameSet names;
    std::exception_ptr failure;
    try {
        names = scan_piece(self, left_roots, splits, halves_moved, call);
    } catch (...) {
        failure = std::current_exception();
    }
    finish(self, right.job);
    if (failure) std::rethrow_exception(failure);
    if (right.failure) std::rethrow_exception(right.failure);
    merge_names(names, std::move(right.names));
    return names;
}

NameSet scan_piece(Worker& self, std::span<const std::string> roots, std::size_t splits,
                   bool moved, const Call& call) {
    if (should_divide(roots.size(), splits, moved, call.threads)) {
        count(call, &ScanStats::divisions);
        const std::size_t middle = roots.size() / 2;
        return divide(self, roots.first(middle), roots.subspan(middle), splits, false, call);
    }
    return scan_in_sequence(roots, call);
}

// The two halves of the first division, handed into the pool as one job by a thread outside
// it; both count as moved.
struct FirstDivision {
    std::span<const std::string> left;
    std::span<const std::string> right;
    const Call* call;
    NameSet names;
    std::exception_ptr failure;
    PoolJob job;
};

void run_first_division(PoolJob& job, Worker& self, bool) noexcept {
    auto& list = *static_cast<FirstDivision*>(job.data);
    try {
        list.names = divide(self, list.left, list.right, list.call->threads, true, *list.call);
    } catch (...) {
        list.failure = std::current_exception();
    }
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

NameSet scan_roots_with(std::span<const std::string> roots, ScanOne scan_one, WorkerPool& pool,
                        ScanStats* stats) {
    const Call call{scan_one, pool_size(pool), stats};
    if (roots.size() < 2) return scan_in_sequence(roots, call);
    count(call, &ScanStats::divisions);
    const std::size_t middle = roots.size() / 2;
    const auto left = roots.first(middle);
    const auto right = roots.subspan(middle);
    if (Worker* self = current_worker(pool)) {
        return divide(*self, left, right, call.threads, true, call);  // called from a scan
    }

    FirstDivision list{left, right, &call, {}, {}, {}};
    list.job.run = &run_first_division;
    list.job.data = &list;
    run_from_outside(pool, list.job);
    if (list.failure) std::rethrow_exception(list.failure);
    return std::move(list.names);
}

}  // namespace vornu
