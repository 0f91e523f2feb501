// Two pieces of work run side by side on a pool: the fork-join that every division uses.
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "scan/parallel/worker_pool.hpp"

namespace vornu {

// A function run as a pool job; it keeps the function's result or its failure.
template <class Function>
struct FunctionJob : PoolJob {
    using Result = std::invoke_result_t<Function&, Worker&, bool>;

    explicit FunctionJob(Function& wrapped) noexcept : PoolJob(&run), function(wrapped) {}

    // The result, or the failure rethrown on the thread that asks.
    Result take() {
        if (failure) std::rethrow_exception(failure);
        return std::move(*result);
    }

    Function& function;
    std::optional<Result> result;
    std::exception_ptr failure;

private:
    static void run(PoolJob& job, Worker& worker, bool moved) noexcept {
        auto& self = static_cast<FunctionJob&>(job);
        try {
            self.result.emplace(self.function(worker, moved));
        } catch (...) {
            self.failure = std::current_exception();
        }
    }
};

// On worker `self`: offers `right` to the other workers, runs `left` here, then finishes
// `right` (here, if nobody took it). Both always run to their end; a failure of the left
// is rethrown first, else one of the right. `left` is called with `self`, `right` with the
// worker that ran it and whether that is another thread than `self`.
template <class Left, class Right>
auto fork_join(Worker& self, Left&& left, Right&& right) {
    FunctionJob<Right> right_job(right);
    self.pool->offer(self, right_job);
    std::optional<std::invoke_result_t<Left&, Worker&>> left_result;
    std::exception_ptr left_failure;
    try {
        left_result.emplace(left(self));
    } catch (...) {
        left_failure = std::current_exception();
    }
    self.pool->finish(self, right_job);
    if (left_failure) std::rethrow_exception(left_failure);
    return std::pair(std::move(*left_result), right_job.take());
}

// From a thread outside `pool`: runs `function` on one of its workers and waits for it,
// asking `stop` (if any) meanwhile. Its failure is rethrown here.
template <class Function>
auto run_in_pool(WorkerPool& pool, CallStop* stop, Function&& function) {
    FunctionJob<Function> job(function);
    pool.run_from_outside(job, stop);
    return job.take();
}

template <class Function>
auto run_in_pool(WorkerPool& pool, Function&& function) {
    return run_in_pool(pool, nullptr, std::forward<Function>(function));
}

}  // namespace vornu
