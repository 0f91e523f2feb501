// The pool-size count rule and the control-group parsers on arbitrary text: no crash, no
// hang, and what can be said of their results without repeating them.
//
// The input is read whole by every parser, and also cut at its zero bytes into fields for
// the calls that take several texts: the two sizing variables, a version 1 quota and period,
// and a fake /proc/self/cgroup, mountinfo and quota files for the whole limit lookup.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.hpp"
#include "scan/parallel/cgroup_limit.hpp"
#include "scan/parallel/pool_size.hpp"

namespace {

using Count = std::optional<std::uint64_t>;

// The count rule, written out another way: digits compared as text with the largest
// 64-bit value rather than accumulated with an overflow test.
Count count_of_digits(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
    constexpr std::string_view largest = "18446744073709551615";
    if (digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest)) return std::nullopt;
    return std::stoull(std::string(digits));
}

Count expected_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    return count_of_digits(text);
}

std::uint64_t expected_request(const char* num_threads, const char* rs_num_cpus) {
    for (const char* variable : {num_threads, rs_num_cpus})
        if (variable != nullptr)
            if (const Count n = expected_count(variable)) return *n;
    return 0;
}

std::string_view first_line(std::string_view text) { return text.substr(0, text.find('\n')); }

Count expected_limit(Count quota, Count period) {
    if (!quota || !period || *period == 0) return std::nullopt;
    return std::max<std::uint64_t>(*quota / *period, 1);
}

// "quota period" of plain decimals, a space between; anything else ("max 100000" too)
// sets no limit.
Count expected_cpu_max(std::string_view text) {
    const std::string_view line = first_line(text);
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    return expected_limit(count_of_digits(line.substr(0, space)), count_of_digits(line.substr(space + 1)));
}

void check_count_rule(std::string_view text, const std::vector<std::string>& fields) {
    fuzz::check(vornu::parse_count(text) == expected_count(text), "parse_count");
    const char* first = fields[0].c_str();
    const char* second = fields.size() > 1 ? fields[1].c_str() : nullptr;
    using Variables = std::pair<const char*, const char*>;
    for (const auto& [a, b] : {Variables{first, second}, {second, first}, {first, nullptr}, {nullptr, first}})
        fuzz::check(vornu::requested_threads(a, b) == expected_request(a, b), "requested_threads");
}

void check_quota_parsers(std::string_view text, const std::vector<std::string>& fields) {
    const Count v2 = vornu::parse_cpu_max(text);
    fuzz::check(v2 == expected_cpu_max(text), "parse_cpu_max");
    const std::string& period = fields.size() > 1 ? fields[1] : fields[0];
    const Count v1 = vornu::parse_cfs_quota(fields[0], period);
    fuzz::check(v1 == expected_limit(count_of_digits(first_line(fields[0])), count_of_digits(first_line(period))),
                "parse_cfs_quota");
    fuzz::check(v1 != 0u && v2 != 0u, "a quota parser gave a limit of 0");
}

// Numbers of every size, written as the kernel writes them, and the default count.
void check_numbers(const std::uint8_t* data, std::size_t size) {
    if (size < 24) return;
    std::uint64_t q, p, l;
    std::memcpy(&q, data, 8);
    std::memcpy(&p, data + 8, 8);
    std::memcpy(&l, data + 16, 8);
    const Count limit = p == 0 ? Count{} : Count{std::max<std::uint64_t>(q / p, 1)};
    const std::string quota = std::to_string(q), period = std::to_string(p);
    fuzz::check(vornu::parse_cpu_max(quota + " " + period + "\n") == limit, "parse_cpu_max of plain decimals");
    fuzz::check(vornu::parse_cfs_quota(quota + "\n", period + "\n") == limit, "parse_cfs_quota of plain decimals");
    fuzz::check(vornu::parse_count("+" + quota) == q, "parse_count of a written number");

    // Affinity CPUs, else online processors, else 1; capped by the limit; never 0.
    for (const Count cap : {Count{}, Count{l}, Count{l % 8}}) {
        const std::uint64_t count = vornu::default_threads(q % 4096, p % 4096, cap);
        const std::uint64_t measured = q % 4096 != 0 ? q % 4096 : p % 4096;
        const std::uint64_t expected = measured == 0 ? 1 : std::max<std::uint64_t>(std::min(measured, cap.value_or(measured)), 1);
        fuzz::check(count == expected, "default_threads");
    }
}

// Lines that other lines cannot hide: the first line naming the cpu controller of version
// 1 wins, else the first unified ("0::") line.
void check_proc_cgroup(const std::string& text) {
    const auto found = vornu::parse_proc_cgroup(text);
    if (found) fuzz::check(found->path.find('\n') == std::string::npos, "parse_proc_cgroup: path across lines");
    const auto same = [](const std::optional<vornu::CgroupRef>& a, const std::optional<vornu::CgroupRef>& b) {
        return a.has_value() == b.has_value() && (!a || (a->v1 == b->v1 && a->path == b->path));
    };
    fuzz::check(same(vornu::parse_proc_cgroup("5:memory,pids:/m\n1:cpuset:/s\n" + text), found),
                "parse_proc_cgroup: a line of other controllers changed the result");
    const auto with_v1 = vornu::parse_proc_cgroup(text + "\n3:cpuacct,cpu:/late");
    fuzz::check(same(with_v1, found && found->v1 ? found : vornu::CgroupRef{true, "/late"}),
                "parse_proc_cgroup: a later cpu line");
    const auto with_v2 = vornu::parse_proc_cgroup(text + "\n0::/late");
    fuzz::check(same(with_v2, found ? found : vornu::CgroupRef{false, "/late"}),
                "parse_proc_cgroup: a later unified line");
}

// The first line of the wanted hierarchy wins; its fields are the text's own, decoded.
void check_mountinfo(const std::string& text) {
    const bool plain = text.find('\\') == std::string::npos;
    for (const bool v1 : {false, true}) {
        const auto found = vornu::parse_mountinfo(text, v1);
        const auto same = [](const std::optional<vornu::CgroupMount>& a, const std::optional<vornu::CgroupMount>& b) {
            return a.has_value() == b.has_value() && (!a || (a->root == b->root && a->mount_point == b->mount_point));
        };
        if (found && plain)
            fuzz::check(text.find(" " + found->root + " " + found->mount_point + " ") != std::string::npos,
                        "parse_mountinfo: fields not found in the text");
        const std::string other = v1 ? "7 1 0:7 / /o rw - cgroup2 cgroup2 rw\n7 1 0:7 / /o rw - cgroup cgroup rw,cpuset\n"
                                     : "7 1 0:7 / /o rw - cgroup cgroup rw,cpu\n7 1 0:7 / /o rw - tmpfs tmpfs rw\n";
        fuzz::check(same(vornu::parse_mountinfo(other + text, v1), found),
                    "parse_mountinfo: a line of another hierarchy changed the result");
        const std::string late = v1 ? "\n8 1 0:8 /r\\040s /m\\134p rw shared:1 - cgroup cgroup rw,cpuacct,cpu"
                                    : "\n8 1 0:8 /r\\040s /m\\134p rw shared:1 - cgroup2 cgroup2 rw";
        fuzz::check(same(vornu::parse_mountinfo(text + late, v1), found ? found : vornu::CgroupMount{"/r s", "/m\\p"}),
                    "parse_mountinfo: a later matching line");
    }
}

// A fake system below a temporary folder: /proc/self/cgroup, /proc/self/mountinfo and the
// quota files of the group /sys/fs/cgroup and of its subgroup "a" come from the fields.
void check_whole_lookup(const std::vector<std::string>& fields) {
    if (fields.size() < 3) return;
    // Never destroyed, so that the folder is still known when the process exits.
    static const std::filesystem::path& root = *[] {
        // In memory where there is room: rewriting a file on ext4 waits for the disk.
        const std::filesystem::path shm = "/dev/shm";
        const bool in_memory = ::access(shm.c_str(), W_OK) == 0;
        std::string pattern = ((in_memory ? shm : std::filesystem::temp_directory_path()) / "vornu-fuzz-XXXXXX").string();
        fuzz::check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
        auto* made = new std::filesystem::path(pattern);
        std::filesystem::create_directories(*made / "proc/self");
        std::filesystem::create_directories(*made / "sys/fs/cgroup/a");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        });
        return made;
    }();
    const auto write = [](const char* relative, const std::string& text) {
        const int fd = ::open((root / relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        fuzz::check(fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
                    "writing the fake system failed");
        ::close(fd);
    };
    write("proc/self/cgroup", fields[0]);
    write("proc/self/mountinfo", fields[1]);
    write("sys/fs/cgroup/cpu.max", fields[2]);
    write("sys/fs/cgroup/a/cpu.max", fields.back());
    write("sys/fs/cgroup/a/cpu.cfs_quota_us", fields[2]);
    write("sys/fs/cgroup/a/cpu.cfs_period_us", fields.back());
    fuzz::check(vornu::cgroup_cpu_limit(root.string()) != 0u, "cgroup_cpu_limit gave a limit of 0");
}

std::vector<std::string> fields_of(std::string_view text) {
    std::vector<std::string> fields;
    for (;;) {
        const std::size_t zero = text.find('\0');
        fields.emplace_back(text.substr(0, zero));
        if (zero == std::string_view::npos) return fields;
        text.remove_prefix(zero + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> fields = fields_of(text);
    check_count_rule(text, fields);
    check_quota_parsers(text, fields);
    check_numbers(data, size);
    // The dearer checks take turns, chosen by the first byte.
    switch (size == 0 ? 0 : data[0] % 3) {
        case 0: check_proc_cgroup(text); break;
        case 1: check_mountinfo(text); break;
        case 2: check_whole_lookup(fields); break;
    }
    return 0;
}
