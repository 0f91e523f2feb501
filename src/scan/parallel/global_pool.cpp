// The process-wide pool: made once per process, remade in a child of fork().
#include "scan/parallel/global_pool.hpp"

#include <pthread.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "scan/parallel/pool_size.hpp"

namespace vornu {
namespace {

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

// A process's own pool is told from one inherited through fork() by the generation that
// made it. Every child of fork() counts one generation more, even where it reuses the pid
// of the process that made the pool, which a comparison of pids would not notice.
struct GlobalPool {
    std::mutex lock;
    std::uint64_t generation = 1;  // of this process
    std::uint64_t made_in = 0;     // the generation that made (or failed to make) `pool`
    WorkerPool* pool = nullptr;
};

GlobalPool& global() {
    static GlobalPool state;
    return state;
}

// The lock is held across fork(), so the child never inherits it locked by a thread that
// does not exist there.
void before_fork() noexcept { global().lock.lock(); }
void after_fork_in_parent() noexcept { global().lock.unlock(); }
void after_fork_in_child() noexcept {
    ++global().generation;
    global().lock.unlock();
}

int watch_forks() noexcept {
    static const int error = pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child);
    return error;
}

}  // namespace

std::string pool_start_failure(int os_error) {
    return std::string(not_initialized) + ": ThreadPoolBuildError { kind: IOError, error: \"" +
           std::system_category().message(os_error) + " (os error " + std::to_string(os_error) +
           ")\" }";
}

std::string pool_already_failed() {
    return std::string(not_initialized) +
           ": ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }";
}

WorkerPool& global_worker_pool(StartThread start) {
    // Registered before any pool exists, so no fork can come between a pool and its watch.
    const int watch_error = watch_forks();
    GlobalPool& state = global();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.made_in == state.generation) {
        if (state.pool) return *state.pool;
        throw std::runtime_error(pool_already_failed());
    }
    state.made_in = state.generation;
    const PoolBuild build = watch_error ? PoolBuild{nullptr, watch_error} : WorkerPool::build(pool_thread_count(), start);
    state.pool = build.pool;
    if (state.pool) return *state.pool;
    throw std::runtime_error(pool_start_failure(build.os_error));
}

}  // namespace vornu
