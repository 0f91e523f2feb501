// The early end of one call: asked for by whoever made the call, seen by every thread that
// scans for it.
#pragma once

#include <time.h>

#include <atomic>
#include <exception>

namespace vornu {

// How often, at least, the thread that made a call asks its hook whether to go on. Well
// under the tenth of a second in which a person expects Ctrl-C to act, and rare enough
// that the asking costs nothing measurable.
inline constexpr long poll_interval_ms = 20;

// `from` moved on by `ms` milliseconds, and the order of two times of one clock.
timespec later_by(timespec from, long ms) noexcept;
bool is_before(const timespec& a, const timespec& b) noexcept;

// Asked on the thread that made the call, never on a worker: it may run the caller's own
// code (an interpreter's signal handlers), which may make calls of its own. Returns true
// when the call is to stop.
struct StopHook {
    bool (*function)(void* context) noexcept = nullptr;
    void* context = nullptr;
};

// One per call, never shared between calls: calls nest (a hook may make a call) and run
// from several threads at once, and stopping one must leave the others alone.
struct CallStop {
    std::atomic<bool> requested{false};
    StopHook hook;

    // Only a flag: the results are dropped and the threads meet again under the pool's
    // locks, so nothing else needs to be ordered by it.
    bool stopped() const noexcept { return requested.load(std::memory_order_relaxed); }

    // On the thread that made the call: asks the hook, and marks the call stopped if it says so.
    bool poll() noexcept {
        if (hook.function == nullptr || !hook.function(hook.context)) return false;
        requested.store(true, std::memory_order_relaxed);
        return true;
    }
};

// Thrown through the scan once its call has been stopped. The scan's frames unwind like for
// any other failure, so descriptors close and memory goes back, and no result comes out.
struct ScanStopped : std::exception {
    const char* what() const noexcept override { return "the scan was stopped before its end"; }
};

// The look at the call's stop that a scanning frame takes at each file and each piece of
// reading. Costs a test of a null pointer where no call can be stopped, and a load of the
// flag on a worker; the thread that made the call also asks the hook when it is due, by a
// clock that reads shared memory rather than entering the kernel.
struct StopCheck {
    CallStop* call = nullptr;
    bool polls = false;  // this frame runs on the thread that made the call
    timespec next_poll{};

    // Throws ScanStopped once the call is to stop.
    void operator()() {
        if (call != nullptr) check();
    }

private:
    void check();
};

}  // namespace vornu
