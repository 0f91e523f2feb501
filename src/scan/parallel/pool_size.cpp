// The pool size from the sizing variables, the affinity mask and the quota.
#include "scan/parallel/pool_size.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "scan/parallel/cgroup_limit.hpp"

namespace vornu {
namespace {

std::optional<std::uint64_t> env_count(const char* value) {
    if (value == nullptr) return std::nullopt;
    return parse_count(value);
}

}  // namespace

std::optional<std::uint64_t> parse_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t requested_threads(const char* num_threads, const char* rs_num_cpus) {
    if (const auto n = env_count(num_threads)) return *n;  // a valid 0 ends the search too
    if (const auto n = env_count(rs_num_cpus)) return *n;
    return 0;
}

std::uint64_t default_threads(std::uint64_t affinity_cpus, std::uint64_t online_cpus,
                              std::optional<std::uint64_t> limit) {
    std::uint64_t count = affinity_cpus != 0 ? affinity_cpus : online_cpus;
    if (count == 0) return 1;
    if (limit) count = std::min(count, *limit);
    return std::max<std::uint64_t>(count, 1);
}

std::uint64_t affinity_cpu_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    return static_cast<std::uint64_t>(CPU_COUNT(&set));
}

std::size_t pool_thread_count() noexcept {
    std::uint64_t count = requested_threads(std::getenv("RAYON_NUM_THREADS"),
                                            std::getenv("RAYON_RS_NUM_CPUS"));
    if (count == 0) {
        const std::uint64_t affinity = affinity_cpu_count();
        std::uint64_t online = 0;
        if (affinity == 0) {
            const long n = sysconf(_SC_NPROCESSORS_ONLN);
            if (n > 0) online = static_cast<std::uint64_t>(n);
        }
        count = default_threads(affinity, online, cgroup_cpu_limit(""));
    }
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, max_pool_threads));
}

}  // namespace vornu
