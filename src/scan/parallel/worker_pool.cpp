// The workers' loop, sleeping and waking, and the queue of offered jobs.
#include "scan/parallel/worker_pool.hpp"

#include <time.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "scan/call_stop.hpp"

namespace vornu {
namespace {

// A condition variable whose timed waits run on the monotonic clock through
// pthread_cond_timedwait, which every glibc has: std::condition_variable's timed waits
// call pthread_cond_clockwait, of glibc 2.30, newer than what the wheels may refer to.
class MonotonicBell {
public:
    MonotonicBell() noexcept {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cond_, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~MonotonicBell() { pthread_cond_destroy(&cond_); }
    MonotonicBell(const MonotonicBell&) = delete;
    MonotonicBell& operator=(const MonotonicBell&) = delete;

    void notify_one() noexcept { pthread_cond_signal(&cond_); }
    void wait(std::unique_lock<std::mutex>& held) noexcept {
        pthread_cond_wait(&cond_, held.mutex()->native_handle());
    }
    // Returns false once the monotonic clock has reached `deadline`.
    bool wait_until(std::unique_lock<std::mutex>& held, const timespec& deadline) noexcept {
        return pthread_cond_timedwait(&cond_, held.mutex()->native_handle(), &deadline) != ETIMEDOUT;
    }

private:
    pthread_cond_t cond_;
};

}  // namespace

struct OutsideWaiter {
    OutsideWaiter(const WorkerPool* waited_on, const OutsideWaiter* enclosing) noexcept
        : pool(waited_on), outer(enclosing) {}

    const WorkerPool* pool;
    const OutsideWaiter* outer;  // of a call whose hook made this one, on the same thread
    std::mutex lock;
    MonotonicBell bell;
    bool done = false;
};

namespace {

// The calls that this thread waits for, innermost first.
__attribute__((tls_model("initial-exec"))) thread_local const OutsideWaiter* waiting_here = nullptr;

timespec poll_deadline() noexcept {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return later_by(now, poll_interval_ms);
}

constexpr std::size_t worker_stack_size = 2 * 1024 * 1024;

// In the initial-exec model the pointer lives in the static block that every thread gets
// when it starts; the default model for a shared library allocates per-thread storage
// lazily on first touch, and glibc ends the process when that allocation fails.
__attribute__((tls_model("initial-exec"))) thread_local Worker* this_worker = nullptr;

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

// Pools whose start failed. Workers that were told to stop may still be reading such a
// pool on their way out, so it is never freed; it is kept reachable (for leak checkers)
// on a list that needs neither a lock nor memory.
std::atomic<WorkerPool*> abandoned_pools{nullptr};

}  // namespace

WorkerPool::WorkerPool(std::size_t threads) : threads_(threads), workers_(new Worker[threads]) {
    for (std::size_t i = 0; i < threads; ++i) workers_[i].pool = this;
}

PoolBuild WorkerPool::build(std::size_t threads, StartThread start) noexcept {
    WorkerPool* pool = nullptr;
    try {
        pool = new WorkerPool(threads);
    } catch (const std::bad_alloc&) {
        return {nullptr, ENOMEM};
    }
    ThreadAttr attr;
    int error = attr.error;
    for (std::size_t i = 0; error == 0 && i < threads; ++i) {
        pthread_t id;
        error = start(&id, &attr.attr, &worker_main, &pool->workers_[i]);
    }
    if (error == 0) return {pool, 0};
    pool->stop_started_workers();
    pool->next_abandoned_ = abandoned_pools.load();
    while (!abandoned_pools.compare_exchange_weak(pool->next_abandoned_, pool)) {
    }
    return {nullptr, error};
}

void WorkerPool::stop_started_workers() noexcept {
    Lock held(lock_);
    stopping_ = true;
    while (Worker* idle = idle_.front()) ring(*idle);
}

Worker* WorkerPool::current_worker() const noexcept {
    return this_worker && this_worker->pool == this ? this_worker : nullptr;
}

void* WorkerPool::worker_main(void* worker) noexcept {
    auto& self = *static_cast<Worker*>(worker);
    this_worker = &self;
    self.pool->work_loop(self);
    return nullptr;
}

void WorkerPool::work_loop(Worker& self) noexcept {
    Lock held(lock_);
    for (;;) {
        if (stopping_) return;
        if (PoolJob* job = queue_.front()) {
            // The oldest job is the largest piece of work left.
            queue_.remove(*job);
            execute(self, *job, held);
            continue;
        }
        sleep_until_rung(self, held);
    }
}

// Runs a job taken from the queue (lock released meanwhile) and reports it done.
void WorkerPool::execute(Worker& self, PoolJob& job, Lock& held) noexcept {
    held.unlock();
    job.body(job, self, job.offered_by != &self);
    if (OutsideWaiter* outside = job.outside) {
        // The caller's frame, job included, may vanish as soon as it sees `done`; nothing
        // of the job or the waiter is touched after the notification and the unlock.
        {
            std::lock_guard<std::mutex> guard(outside->lock);
            outside->done = true;
            outside->bell.notify_one();
        }
        held.lock();
        return;
    }
    held.lock();
    job.done = true;
    if (job.waiter) ring(*job.waiter);
}

// Returns once another thread has rung `self`; the caller re-examines the pool.
void WorkerPool::sleep_until_rung(Worker& self, Lock& held) noexcept {
    self.rung = false;
    idle_.push_front(self);
    self.bell.wait(held, [&] { return self.rung; });
}

void WorkerPool::ring(Worker& worker) noexcept {
    if (idle_.contains(worker)) idle_.remove(worker);
    worker.rung = true;
    worker.bell.notify_one();
}

void WorkerPool::ring_an_idle_worker() noexcept {
    if (Worker* idle = idle_.front()) ring(*idle);
}

void WorkerPool::run_from_outside(PoolJob& job, CallStop* stop) noexcept {
    OutsideWaiter waiter{this, waiting_here};
    waiting_here = &waiter;
    job.outside = &waiter;
    job.offered_by = nullptr;
    {
        Lock held(lock_);
        queue_.push_back(job);
        ring_an_idle_worker();
    }
    Lock held(waiter.lock);
    timespec next_poll = poll_deadline();
    while (!waiter.done) {
        if (stop == nullptr || stop->stopped()) {
            waiter.bell.wait(held);
        } else if (!waiter.bell.wait_until(held, next_poll)) {
            held.unlock();
            stop->poll();
            held.lock();
            next_poll = poll_deadline();
        }
    }
    waiting_here = waiter.outer;
}

bool WorkerPool::awaited_by_this_thread() const noexcept {
    for (const OutsideWaiter* waiter = waiting_here; waiter != nullptr; waiter = waiter->outer)
        if (waiter->pool == this) return true;
    return false;
}

void WorkerPool::offer(Worker& self, PoolJob& job) noexcept {
    job.offered_by = &self;
    Lock held(lock_);
    queue_.push_back(job);
    ring_an_idle_worker();
}

void WorkerPool::finish(Worker& self, PoolJob& job) noexcept {
    Lock held(lock_);
    if (queue_.contains(job)) {
        queue_.remove(job);
        held.unlock();
        job.body(job, self, false);
        return;
    }
    while (!job.done) {
        if (PoolJob* other = queue_.back()) {
            // The newest job is the smallest, so helping delays our own return the least.
            queue_.remove(*other);
            execute(self, *other, held);
            continue;
        }
        job.waiter = &self;
        sleep_until_rung(self, held);
        job.waiter = nullptr;
    }
    // A wake-up meant for queued work may have reached us; pass it on.
    if (!queue_.empty()) ring_an_idle_worker();
}

}  // namespace vornu
