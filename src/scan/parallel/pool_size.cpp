#include "scan/parallel/pool_size.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace vornu {
namespace {

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

bool contains(const std::vector<std::string_view>& items, std::string_view wanted) {
    return std::find(items.begin(), items.end(), wanted) != items.end();
}

// Kernel files end in a newline; a quota file is one line.
std::string_view first_line(std::string_view text) { return text.substr(0, text.find('\n')); }

// Plain unsigned decimal, no sign, no spaces: the format the kernel writes quotas in.
std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    if (text.empty() || text.front() == '+') return std::nullopt;
    return parse_count(text);
}

std::optional<std::uint64_t> limit_of(std::uint64_t quota, std::uint64_t period) {
    if (period == 0) return std::nullopt;
    return std::max<std::uint64_t>(quota / period, 1);
}

// mountinfo escapes space, tab, newline and backslash in paths as \ooo.
std::string unescape_octal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) &&
            octal(text[i + 2]) && octal(text[i + 3])) {
            out.push_back(static_cast<char>(((text[i + 1] - '0') << 6) |
                                            ((text[i + 2] - '0') << 3) | (text[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return text;
}

std::optional<std::uint64_t> group_limit(const std::string& dir, bool v1) {
    if (v1) {
        const auto quota = read_file(dir + "/cpu.cfs_quota_us");
        if (!quota) return std::nullopt;
        const auto period = read_file(dir + "/cpu.cfs_period_us");
        if (!period) return std::nullopt;
        return parse_cfs_quota(*quota, *period);
    }
    const auto max = read_file(dir + "/cpu.max");
    if (!max) return std::nullopt;
    return parse_cpu_max(*max);
}

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

std::optional<CgroupRef> parse_proc_cgroup(std::string_view contents) {
    std::optional<CgroupRef> unified;
    for (const std::string_view line : split(contents, '\n')) {
        // "id:controllers:path"; the path itself may hold ':'.
        const std::size_t first = line.find(':');
        if (first == std::string_view::npos) continue;
        const std::size_t second = line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view id = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (contains(split(controllers, ','), "cpu")) {
            // The cpu controller's own v1 hierarchy governs, even where a v2 one is mounted too.
            return CgroupRef{true, std::string(path)};
        }
        if (id == "0" && controllers.empty() && !unified) unified = CgroupRef{false, std::string(path)};
    }
    return unified;
}

std::optional<CgroupMount> parse_mountinfo(std::string_view contents, bool v1) {
    for (const std::string_view line : split(contents, '\n')) {
        const std::vector<std::string_view> fields = split(line, ' ');
        if (fields.size() < 5) continue;
        // Optional fields run up to a lone "-"; fs type, source and super options follow.
        const auto dash = std::find(fields.begin() + 5, fields.end(), "-");
        if (fields.end() - dash < 4) continue;
        const std::string_view fs_type = dash[1];
        const std::string_view super_options = dash[3];
        const bool match = v1 ? fs_type == "cgroup" && contains(split(super_options, ','), "cpu")
                              : fs_type == "cgroup2";
        if (match) return CgroupMount{unescape_octal(fields[3]), unescape_octal(fields[4])};
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parse_cpu_max(std::string_view contents) {
    const std::vector<std::string_view> parts = split(first_line(contents), ' ');
    if (parts.size() != 2) return std::nullopt;
    if (parts[0] == "max") return std::nullopt;
    const auto quota = parse_decimal(parts[0]);
    const auto period = parse_decimal(parts[1]);
    if (!quota || !period) return std::nullopt;
    return limit_of(*quota, *period);
}

std::optional<std::uint64_t> parse_cfs_quota(std::string_view quota, std::string_view period) {
    // "-1" (no quota) and anything else that is not a plain count mean no limit.
    const auto q = parse_decimal(first_line(quota));
    const auto p = parse_decimal(first_line(period));
    if (!q || !p) return std::nullopt;
    return limit_of(*q, *p);
}

std::optional<std::uint64_t> cgroup_cpu_limit(const std::string& fs_root) {
    const auto cgroup_text = read_file(fs_root + "/proc/self/cgroup");
    if (!cgroup_text) return std::nullopt;
    const auto group = parse_proc_cgroup(*cgroup_text);
    if (!group) return std::nullopt;
    const auto mountinfo_text = read_file(fs_root + "/proc/self/mountinfo");
    if (!mountinfo_text) return std::nullopt;
    const auto mount = parse_mountinfo(*mountinfo_text, group->v1);
    if (!mount) return std::nullopt;

    // The group path is relative to the hierarchy's root; the mount shows only the part
    // below its own root, so a group outside it cannot be seen from here.
    std::string_view relative = group->path;
    std::string_view mount_root = mount->root;
    while (!mount_root.empty() && mount_root.back() == '/') mount_root.remove_suffix(1);
    if (relative.substr(0, mount_root.size()) != mount_root) return std::nullopt;
    relative.remove_prefix(mount_root.size());
    if (!relative.empty() && relative.front() != '/') return std::nullopt;
    while (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);

    // A group may not use more than any of its ancestors allows.
    std::optional<std::uint64_t> limit;
    const std::string base = fs_root + mount->mount_point;
    for (;;) {
        if (const auto level = group_limit(base + std::string(relative), group->v1)) {
            limit = limit ? std::min(*limit, *level) : *level;
        }
        if (relative.empty()) break;
        relative = relative.substr(0, relative.rfind('/'));
    }
    return limit;
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

std::size_t pool_thread_count() {
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
