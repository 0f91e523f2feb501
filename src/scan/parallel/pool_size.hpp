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

// Where the process's CPU-controller group lives, as read from /proc/self/cgroup.
struct CgroupRef {
    bool v1 = false;      // found through a version 1 hierarchy with the cpu controller
    std::string path;     // the group's path within its hierarchy, e.g. "/a/b"
};
std::optional<CgroupRef> parse_proc_cgroup(std::string_view contents);

// The mount of the hierarchy that holds the group, from /proc/self/mountinfo.
struct CgroupMount {
    std::string root;         // the group of the hierarchy that is mounted (field 4)
    std::string mount_point;  // where it is mounted (field 5), escapes decoded
};
std::optional<CgroupMount> parse_mountinfo(std::string_view contents, bool v1);

// CPU limit of one group's quota files: quota / period rounded down, at least 1; nullopt when
// no quota is set or the text is not understood.
std::optional<std::uint64_t> parse_cpu_max(std::string_view contents);  // version 2
std::optional<std::uint64_t> parse_cfs_quota(std::string_view quota,
                                             std::string_view period);  // version 1

// The tightest CPU limit over the process's group and its ancestors up to the hierarchy's
// mount point, or nullopt when none is set. Every path is read below `fs_root` ("" for the
// real system), so a fake /proc and /sys tree can stand in for it.
std::optional<std::uint64_t> cgroup_cpu_limit(const std::string& fs_root);

// The default count from already-measured inputs (0 = not available): affinity CPUs, else
// online processors, else 1; capped by `limit`.
std::uint64_t default_threads(std::uint64_t affinity_cpus, std::uint64_t online_cpus,
                              std::optional<std::uint64_t> limit);

// The number of CPUs in the calling thread's affinity mask (a 1024-CPU mask), 0 if unknown.
std::uint64_t affinity_cpu_count();

// The pool size for this process, from its environment and its CPUs, in [1, 65535].
std::size_t pool_thread_count();

}  // namespace vornu
