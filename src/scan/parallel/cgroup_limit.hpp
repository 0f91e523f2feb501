// The CPU quota of the process's control group, read from /proc and the group's files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vornu {

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
// mount point, or nullopt when none is set or none can be read. Every path is read below
// `fs_root` ("" for the real system), so a fake /proc and /sys tree can stand in for it.
std::optional<std::uint64_t> cgroup_cpu_limit(const std::string& fs_root) noexcept;

}  // namespace vornu
