#include "scan/parallel/worker_pool.hpp"

#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <new>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "scan/parallel/pool_size.hpp"

namespace vornu {

struct Worker {
    WorkerPool* pool = nullptr;
    // Sleeping: the worker waits on its own condition variable (under the pool's lock) until
    // someone hands it a reason to look again, so a wake-up can be aimed at one thread.
    std::condition_variable wake;
    bool signaled = false;
    bool idle = false;
    Worker* prev_idle = nullptr;
    Worker* next_idle = nullptr;
};

struct OutsideWaiter {
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
};

struct WorkerPool {
    explicit WorkerPool(std::size_t n) : threads(n), workers(new Worker[n]) {
        for (std::size_t i = 0; i < n; ++i) workers[i].pool = this;
    }

    std::mutex lock;
    PoolJob* head = nullptr;  // oldest pending job
    PoolJob* tail = nullptr;  // newest pending job
    Worker* idle = nullptr;   // sleeping workers, most recent first
    bool stopping = false;
    const std::size_t threads;
    const std::unique_ptr<Worker[]> workers;
};

namespace {

constexpr std::size_t worker_stack_size = 2 * 1024 * 1024;

thread_local Worker* this_worker = nullptr;

using Lock = std::unique_lock<std::mutex>;

void push_back(WorkerPool& pool, PoolJob& job) {
    job.prev = pool.tail;
    job.next = nullptr;
    (pool.tail ? pool.tail->next : pool.head) = &job;
    pool.tail = &job;
    job.queued = true;
}

void unlink(WorkerPool& pool, PoolJob& job) {
    (job.prev ? job.prev->next : pool.head) = job.next;
    (job.next ? job.next->prev : pool.tail) = job.prev;
    job.prev = job.next = nullptr;
    job.queued = false;
}

void unlink_idle(WorkerPool& pool, Worker& w) {
    (w.prev_idle ? w.prev_idle->next_idle : pool.idle) = w.next_idle;
    if (w.next_idle) w.next_idle->prev_idle = w.prev_idle;
    w.prev_idle = w.next_idle = nullptr;
    w.idle = false;
}

void signal(WorkerPool& pool, Worker& w) {
    if (w.idle) unlink_idle(pool, w);
    w.signaled = true;
    w.wake.notify_one();
}

void wake_one(WorkerPool& pool) {
    if (pool.idle) signal(pool, *pool.idle);
}

// Returns once another thread has signalled `self`; the caller re-examines the pool.
void sleep(WorkerPool& pool, Worker& self, Lock& held) {
    self.signaled = false;
    self.idle = true;
    self.prev_idle = nullptr;
    self.next_idle = pool.idle;
    if (pool.idle) pool.idle->prev_idle = &self;
    pool.idle = &self;
    self.wake.wait(held, [&] { return self.signaled; });
}

// Runs a job taken from the queue (lock released meanwhile) and reports it done.
void execute(WorkerPool& pool, Worker& self, PoolJob& job, Lock& held) {
    held.unlock();
    job.run(job, self, job.offered_by != &self);
    if (OutsideWaiter* outside = job.outside) {
        // The caller's frame, job included, may vanish as soon as it sees `done`; nothing
        // of the job or the waiter is touched after the notification and the unlock.
        {
            std::lock_guard<std::mutex> guard(outside->lock);
            outside->done = true;
            outside->wake.notify_one();
        }
        held.lock();
        return;
    }
    held.lock();
    job.done = true;
    if (job.waiter) signal(pool, *job.waiter);
}

void work_loop(Worker& self) noexcept {
    WorkerPool& pool = *self.pool;
    Lock held(pool.lock);
    for (;;) {
        if (pool.stopping) return;
        if (PoolJob* job = pool.head) {
            // The oldest job is the largest piece of work left.
            unlink(pool, *job);
            execute(pool, self, *job, held);
            continue;
        }
        sleep(pool, self, held);
    }
}

void* worker_main(void* arg) {
    auto& self = *static_cast<Worker*>(arg);
    this_worker = &self;
    work_loop(self);
    return nullptr;
}

struct ThreadAttr {
    pthread_attr_t attr;
    int error;
    ThreadAttr() : error(pthread_attr_init(&attr)) {
        if (error == 0) error = pthread_attr_setstacksize(&attr, worker_stack_size);
        if (error == 0) error = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    }
    ~ThreadAttr() { pthread_attr_destroy(&attr); }
    ThreadAttr(const ThreadAttr&) = delete;
    ThreadAttr& operator=(const ThreadAttr&) = delete;
};

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

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

PoolBuild build_worker_pool(std::size_t threads, StartThread start) noexcept {
    // Deliberately never freed: detached workers use it for as long as the process lives.
    auto* pool = new WorkerPool(threads);
    ThreadAttr attr;
    int error = attr.error;
    for (std::size_t i = 0; error == 0 && i < threads; ++i) {
        pthread_t id;
        error = start(&id, &attr.attr, &worker_main, &pool->workers[i]);
    }
    if (error == 0) return {pool, 0};
    {
        Lock held(pool->lock);
        pool->stopping = true;
        while (pool->idle) signal(*pool, *pool->idle);
    }
    // Workers that were told to stop may still be reading the pool on their way out, so it
    // is kept, and kept reachable, for the rest of the process.
    static std::mutex abandoned_lock;
    static auto* const abandoned = new (std::nothrow) std::vector<WorkerPool*>();
    std::lock_guard<std::mutex> guard(abandoned_lock);
    try {
        if (abandoned) abandoned->push_back(pool);
    } catch (...) {
        // Without room to remember it, the pool is simply never freed.
    }
    return {nullptr, error};
}

WorkerPool& global_worker_pool() {
    // One pool per process. A child made by fork() is a new process whose copy of the
    // pool has no threads left (work handed to it would never run), so the child makes a
    // pool of its own at its first call, as any process does.
    struct Global {
        std::mutex lock;
        pid_t owner = 0;  // the process that made `pool`, or failed to
        WorkerPool* pool = nullptr;
    };
    static Global global;
    std::lock_guard<std::mutex> guard(global.lock);
    const pid_t self = ::getpid();
    if (global.owner == self) {
        if (global.pool) return *global.pool;
        throw std::runtime_error(pool_already_failed());
    }
    global.owner = self;
    const PoolBuild build = build_worker_pool(pool_thread_count());
    global.pool = build.pool;
    if (global.pool) return *global.pool;
    throw std::runtime_error(pool_start_failure(build.os_error));
}

std::size_t pool_size(const WorkerPool& pool) noexcept { return pool.threads; }

Worker* current_worker(const WorkerPool& pool) noexcept {
    return this_worker && this_worker->pool == &pool ? this_worker : nullptr;
}

void run_from_outside(WorkerPool& pool, PoolJob& job) noexcept {
    OutsideWaiter waiter;
    job.outside = &waiter;
    job.offered_by = nullptr;
    {
        Lock held(pool.lock);
        push_back(pool, job);
        wake_one(pool);
    }
    Lock held(waiter.lock);
    waiter.wake.wait(held, [&] { return waiter.done; });
}

void offer(Worker& self, PoolJob& job) noexcept {
    WorkerPool& pool = *self.pool;
    job.offered_by = &self;
    Lock held(pool.lock);
    push_back(pool, job);
    wake_one(pool);
}

void finish(Worker& self, PoolJob& job) noexcept {
    WorkerPool& pool = *self.pool;
    Lock held(pool.lock);
    if (job.queued) {
        unlink(pool, job);
        held.unlock();
        job.run(job, self, false);
        return;
    }
    while (!job.done) {
        if (PoolJob* other = pool.tail) {
            // The newest job is the smallest, so helping delays our own return the least.
            unlink(pool, *other);
            execute(pool, self, *other, held);
            continue;
        }
        job.waiter = &self;
        sleep(pool, self, held);
        job.waiter = nullptr;
    }
    // A wake-up meant for queued work may have reached us; pass it on.
    if (pool.head) wake_one(pool);
}

}  // namespace vornu
