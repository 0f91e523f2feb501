#include "scan/parallel/pool_size.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "scan/parallel/cgroup_limit.hpp"

namespace vornu {
namespace {

constexpr std::optional<std::uint64_t> none = std::nullopt;

// Sets (or, with null, unsets) a variable for one scope and restores it afterwards.
struct ScopedEnv {
    std::string name;
    std::optional<std::string> saved;
    ScopedEnv(const char* n, const char* value) : name(n) {
        if (const char* old = std::getenv(n)) saved = old;
        if (value) ::setenv(n, value, 1); else ::unsetenv(n);
    }
    ~ScopedEnv() {
        if (saved) ::setenv(name.c_str(), saved->c_str(), 1); else ::unsetenv(name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};

struct CountCase {
    const char* text;
    std::optional<std::uint64_t> value;
};

TEST(ParseCount, AcceptsDigitsWithOneOptionalPlusAndNothingElse) {
    const std::vector<CountCase> cases = {
        {"0", 0},
        {"1", 1},
        {"4", 4},
        {"+4", 4},
        {"007", 7},
        {"100000", 100000},
        {"18446744073709551615", 18446744073709551615ull},
        {"+18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", none},
        {"99999999999999999999", none},
        {"abc", none},
        {" 4", none},
        {"4 ", none},
        {"4\n", none},
        {"+", none},
        {"++4", none},
        {"-1", none},
        {"-0", none},
        {"0x10", none},
        {"", none},
        {"4a", none},
        {"\xd9\xa4", none},  // a non-ASCII digit
    };
    for (const CountCase& c : cases) EXPECT_EQ(parse_count(c.text), c.value) << '"' << c.text << '"';
}

struct RequestCase {
    const char* num_threads;
    const char* rs_num_cpus;
    std::uint64_t requested;  // 0: the default count
};

TEST(RequestedThreads, FirstValidVariableDecidesAndZeroMeansDefault) {
    const std::vector<RequestCase> cases = {
        {nullptr, nullptr, 0},
        {"4", nullptr, 4},
        {"4", "3", 4},
        {"+4", "3", 4},
        {"007", nullptr, 7},
        {"0", "3", 0},  // 0 is valid: the default, and the second variable is not consulted
        {"abc", "3", 3},
        {" 4", "3", 3},
        {"4 ", "3", 3},
        {"+", "3", 3},
        {"-1", "3", 3},
        {"0x10", "3", 3},
        {"", "3", 3},
        {nullptr, "3", 3},
        {nullptr, "0", 0},
        {nullptr, "abc", 0},
        {"abc", "abc", 0},
        {"100000", nullptr, 100000},
        {"18446744073709551616", "2", 2},
    };
    for (const RequestCase& c : cases) {
        EXPECT_EQ(requested_threads(c.num_threads, c.rs_num_cpus), c.requested)
            << (c.num_threads ? c.num_threads : "(unset)") << " / "
            << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
    }
}

TEST(DefaultThreads, AffinityThenOnlineThenOneCappedByQuota) {
    struct Case {
        std::uint64_t affinity, online;
        std::optional<std::uint64_t> limit;
        std::uint64_t expected;
    };
    const std::vector<Case> cases = {
        {8, 16, none, 8}, {8, 16, 3u, 3}, {2, 16, 4u, 2}, {0, 6, none, 6},
        {0, 6, 2u, 2},    {0, 0, none, 1}, {0, 0, 4u, 1}, {1, 1, 1u, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(default_threads(c.affinity, c.online, c.limit), c.expected)
            << c.affinity << ' ' << c.online;
    }
}

TEST(PoolThreadCount, ThisMachine) {
    // The real /proc and /sys: the process's own cgroup must be readable without surprises.
    const auto limit = cgroup_cpu_limit("");
    const std::uint64_t affinity = affinity_cpu_count();
    EXPECT_GE(affinity, 1u);
    if (limit) {
        EXPECT_GE(*limit, 1u);
    }
    const std::size_t expected = default_threads(affinity, 0, limit);

    ScopedEnv a("RAYON_NUM_THREADS", nullptr), b("RAYON_RS_NUM_CPUS", nullptr);
    EXPECT_EQ(pool_thread_count(), expected);
    {
        ScopedEnv n("RAYON_NUM_THREADS", "100000");
        EXPECT_EQ(pool_thread_count(), max_pool_threads);
    }
    {
        ScopedEnv n("RAYON_NUM_THREADS", "0"), m("RAYON_RS_NUM_CPUS", "3");
        EXPECT_EQ(pool_thread_count(), expected);
    }
    {
        ScopedEnv n("RAYON_NUM_THREADS", " 4"), m("RAYON_RS_NUM_CPUS", "3");
        EXPECT_EQ(pool_thread_count(), 3u);
    }
}

}  // namespace
}  // namespace vornu
