// How many workers the pool gets: the sizing variables, else the CPUs the process may use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vornu {

// Largest pool the process will ever ask for.
inline constexpr std::size_t max_pool_threads = 65535;

// A count as the sizing variables accept it: ASCII digits with at most one leading '+',
// value within 64 bits. Nothing is trimmed, so " 4", "4 " and "0x10" are rejected.
std::optional<std::uint64_t> parse_count(std::string_view text);

// The thread count asked for by the two sizing variables (either may be null when unset),
// or 0 when they leave it to the default. A valid 0 in the first variable means "default"
// and stops the second from being consulted.
std::uint64_t requested_threads(const char* num_threads, const char* rs_num_cpus);

// The default count from already-measured inputs (0 = not available): affinity CPUs, else
// online processors, else 1; capped by `limit`.
std::uint64_t default_threads(std::uint64_t affinity_cpus, std::uint64_t online_cpus,
                              std::optional<std::uint64_t> limit);

// The number of CPUs in the calling thread's affinity mask (a 1024-CPU mask), 0 if unknown.
std::uint64_t affinity_cpu_count();

// The pool size for this process, from its environment and its CPUs, in [1, 65535].
std::size_t pool_thread_count() noexcept;

}  // namespace vornu
