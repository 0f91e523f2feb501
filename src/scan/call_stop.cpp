// The look at a call's stop from inside the scan.
#include "scan/call_stop.hpp"

namespace vornu {

timespec later_by(timespec from, long ms) noexcept {
    constexpr long second = 1'000'000'000;
    from.tv_sec += ms / 1000;
    from.tv_nsec += ms % 1000 * 1'000'000;
    if (from.tv_nsec >= second) {
        from.tv_nsec -= second;
        ++from.tv_sec;
    }
    return from;
}

bool is_before(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

void StopCheck::check() {
    if (call->stopped()) throw ScanStopped();
    if (!polls) return;
    // The coarse clock ticks every few milliseconds, which is plenty for an interval of tens.
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    if (is_before(now, next_poll)) return;
    next_poll = later_by(now, poll_interval_ms);
    if (call->poll()) throw ScanStopped();
}

}  // namespace vornu
