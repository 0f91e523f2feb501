// A fixed set of worker threads that take pieces of work from a shared queue and from one
// another; the mechanism only, with no idea of what the work is.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "scan/parallel/intrusive_list.hpp"

namespace vornu {

struct CallStop;
struct WorkerPool;
struct OutsideWaiter;

// One thread of a pool. A sleeping worker waits on its own bell (under the pool's lock),
// so that a wake-up can be aimed at one thread.
struct Worker {
    WorkerPool* pool = nullptr;
    std::condition_variable bell;
    bool rung = false;
    ListLink<Worker> idle_link;
};

// A unit of work offered to a pool. It lives in the frame of the thread that offers it, and
// that thread does not leave the frame before the job is done (or taken back), so the pool
// may hold a plain pointer to it while it is queued.
struct PoolJob {
    // Runs the job on `worker`. `moved` is true when `worker` is not the thread that offered
    // the job (always true for a job handed in from outside the pool).
    using Body = void (*)(PoolJob& job, Worker& worker, bool moved) noexcept;

    explicit PoolJob(Body run) noexcept : body(run) {}
    PoolJob(const PoolJob&) = delete;
    PoolJob& operator=(const PoolJob&) = delete;

    const Body body;

private:
    friend struct WorkerPool;
    // Guarded by the pool's lock.
    ListLink<PoolJob> queue_link;
    bool done = false;
    Worker* offered_by = nullptr;
    Worker* waiter = nullptr;          // the offering worker, while it sleeps until `done`
    OutsideWaiter* outside = nullptr;  // set for a job handed in from outside the pool
};

using StartThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct PoolBuild {
    WorkerPool* pool = nullptr;
    int os_error = 0;
};

struct WorkerPool {
    // Starts a pool of `threads` workers. When a worker cannot be started, or the pool's
    // records cannot be allocated (ENOMEM), the workers already started are told to stop
    // and the error comes back with a null pool. A pool, once started, is never shut down:
    // its workers are detached and its state is never freed.
    static PoolBuild build(std::size_t threads, StartThread start = &pthread_create) noexcept;

    std::size_t size() const noexcept { return threads_; }

    // The calling thread's worker record when it is a worker of this pool, else null.
    Worker* current_worker() const noexcept;

    // From a thread outside the pool: hands `job` in and blocks on the caller's own mutex
    // and condition variable until it is done. With a `stop` that is not stopped yet, the
    // wait wakes every poll_interval_ms to poll it (with no lock held: its hook may make
    // calls of its own); once it is stopped, the wait goes on to the job's end, since the
    // job lives in the caller's frame. Telling the job's work to stop is the job's business.
    void run_from_outside(PoolJob& job, CallStop* stop = nullptr) noexcept;

    // True while the calling thread waits in run_from_outside of this pool, as a stop's
    // hook does when it runs.
    bool awaited_by_this_thread() const noexcept;

    // On a worker: queues `job` and wakes an idle worker to take it.
    void offer(Worker& self, PoolJob& job) noexcept;

    // On the worker that offered `job`: runs it here if nobody has taken it yet, or else
    // takes up other pending jobs (sleeping when there are none) until it is done.
    // Afterwards the job's results may be read.
    void finish(Worker& self, PoolJob& job) noexcept;

private:
    using Lock = std::unique_lock<std::mutex>;

    explicit WorkerPool(std::size_t threads);
    static void* worker_main(void* worker) noexcept;
    void work_loop(Worker& self) noexcept;
    void execute(Worker& self, PoolJob& job, Lock& held) noexcept;
    void sleep_until_rung(Worker& self, Lock& held) noexcept;
    void ring(Worker& worker) noexcept;
    void ring_an_idle_worker() noexcept;
    void stop_started_workers() noexcept;

    std::mutex lock_;
    IntrusiveList<PoolJob, &PoolJob::queue_link> queue_;  // oldest first
    IntrusiveList<Worker, &Worker::idle_link> idle_;      // most recently asleep first
    bool stopping_ = false;
    const std::size_t threads_;
    const std::unique_ptr<Worker[]> workers_;
    WorkerPool* next_abandoned_ = nullptr;
};

}  // namespace vornu
