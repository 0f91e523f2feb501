// Parsing of /proc/self/cgroup, /proc/self/mountinfo and the quota files.
#include "scan/parallel/cgroup_limit.hpp"

#include <algorithm>
#include <new>
#include <vector>

#include "scan/fs/system_calls.hpp"
#include "scan/fs/unique_fd.hpp"
#include "scan/parallel/pool_size.hpp"

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

// The text of a small regular file, or nothing when it cannot be read whole. Opened
// without blocking and read only when it is a regular file, so a fifo or a device put in
// a quota file's place is never waited on. Files of /proc report a size of 0, so the
// reading goes on until the end rather than stopping at the reported size.
std::optional<std::string> read_file(const std::string& path) {
    constexpr std::size_t max_size = 16 << 20;
    const UniqueFd fd(sys::open_at(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (!fd || !sys::fstat(fd.get(), status) || !S_ISREG(status.st_mode)) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const long n = sys::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > max_size) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
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

}  // namespace

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

std::optional<std::uint64_t> cgroup_cpu_limit(const std::string& fs_root) noexcept try {
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
} catch (const std::bad_alloc&) {
    return std::nullopt;  // the limit only narrows a default; without memory there is none to narrow
}

}  // namespace vornu
