// Private worker pools for tests parameterised over the pool size.
#pragma once

#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "scan/parallel/global_pool.hpp"
#include "scan/parallel/worker_pool.hpp"

// The sizes that tests run their pools at: one worker, as many as this kind of machine has
// cores, and more threads than cores by far.
inline const std::vector<std::size_t> pool_sizes = {1, 2, 8, 64};

// One private pool per size, kept for the whole test run like the process-wide one.
inline vornu::WorkerPool& pool_of(std::size_t threads) {
    static std::mutex lock;
    static std::map<std::size_t, vornu::WorkerPool*> pools;
    std::lock_guard<std::mutex> guard(lock);
    vornu::WorkerPool*& pool = pools[threads];
    if (!pool) {
        const vornu::PoolBuild build = vornu::WorkerPool::build(threads);
        if (!build.pool) throw std::runtime_error(vornu::pool_start_failure(build.os_error));
        pool = build.pool;
    }
    return *pool;
}
