#pragma once

#include <pthread.h>

#include <cstddef>
#include <string>

namespace vornu {

struct WorkerPool;
struct Worker;
struct OutsideWaiter;

// A unit of work offered to a pool. It lives in the frame of the thread that offers it, and
// that thread does not leave the frame before the job is done (or taken back), so the pool
// may hold a plain pointer to it while it is queued.
struct PoolJob {
    // Runs the job on `worker`. `moved` is true when `worker` is not the thread that offered
    // the job (always true for a job handed in from outside the pool). Must not throw.
    void (*run)(PoolJob& job, Worker& worker, bool moved) noexcept = nullptr;
    void* data = nullptr;

    // Bookkeeping of the pool, guarded by its lock.
    PoolJob* prev = nullptr;
    PoolJob* next = nullptr;
    bool queued = false;
    bool done = false;
    Worker* offered_by = nullptr;
    Worker* waiter = nullptr;           // the offering worker, while it sleeps until `done`
    OutsideWaiter* outside = nullptr;   // set for a job handed in from outside the pool
};

// The process-wide pool, created by the first call with the size the environment asks for
// (see pool_thread_count). Throws std::runtime_error when the pool could not be started,
// then and on every later call; creation is never retried.
WorkerPool& global_worker_pool();

// Text of the failures of global_worker_pool.
std::string pool_start_failure(int os_error);
std::string pool_already_failed();

using StartThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// Starts a pool of `threads` workers. On failure to start one, the workers already started
// are told to stop and the OS error is returned with a null pool. A pool, once started, is
// never shut down: its workers are detached and its state is never freed.
struct PoolBuild {
    WorkerPool* pool = nullptr;
    int os_error = 0;
};
PoolBuild build_worker_pool(std::size_t threads, StartThread start = &pthread_create) noexcept;

std::size_t pool_size(const WorkerPool& pool) noexcept;

// The calling thread's worker record when it is a worker of `pool`, else null.
Worker* current_worker(const WorkerPool& pool) noexcept;

// From a thread outside `pool`: hands `job` in and blocks on the caller's own mutex and
// condition variable until it is done.
void run_from_outside(WorkerPool& pool, PoolJob& job) noexcept;

// On a worker: queues `job` and wakes an idle worker to take it.
void offer(Worker& self, PoolJob& job) noexcept;

// On the worker that offered `job`: runs it here if nobody has taken it yet, or else takes
// up other pending jobs (sleeping when there are none) until it is done. Afterwards the
// job's results may be read.
void finish(Worker& self, PoolJob& job) noexcept;

}  // namespace vornu
