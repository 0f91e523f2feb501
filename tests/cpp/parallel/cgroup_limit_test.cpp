#include "scan/parallel/cgroup_limit.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "support/temp_tree.hpp"

namespace vornu {
namespace {

constexpr std::optional<std::uint64_t> none = std::nullopt;

struct QuotaCase {
    const char* text;
    std::optional<std::uint64_t> limit;
};

TEST(CgroupQuota, Version2CpuMax) {
    const std::vector<QuotaCase> cases = {
        {"max 100000\n", none},
        {"max 100000", none},
        {"200000 100000\n", 2},
        {"400000 100000\n", 4},
        {"150000 100000\n", 1},  // rounded down
        {"250000 100000\n", 2},
        {"50000 100000\n", 1},   // at least 1
        {"1 100000\n", 1},
        {"0 100000\n", 1},
        {"100000 0\n", none},
        {"", none},
        {"garbage\n", none},
        {"-1 100000\n", none},
    };
    for (const QuotaCase& c : cases) EXPECT_EQ(parse_cpu_max(c.text), c.limit) << c.text;
}

TEST(CgroupQuota, Version1CfsQuota) {
    struct Case {
        const char* quota;
        const char* period;
        std::optional<std::uint64_t> limit;
    };
    const std::vector<Case> cases = {
        {"-1\n", "100000\n", none},
        {"200000\n", "100000\n", 2},
        {"150000\n", "100000\n", 1},
        {"350000\n", "100000\n", 3},
        {"20000\n", "100000\n", 1},
        {"300000\n", "0\n", none},
        {"", "100000\n", none},
        {"200000\n", "", none},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_cfs_quota(c.quota, c.period), c.limit) << c.quota;
}

TEST(ProcCgroup, CpuControllerOfVersion1WinsOverUnifiedLine) {
    const auto both = parse_proc_cgroup(
        "12:pids:/x\n4:cpu,cpuacct:/grp/sub\n0::/unified/path\n");
    ASSERT_TRUE(both);
    EXPECT_TRUE(both->v1);
    EXPECT_EQ(both->path, "/grp/sub");

    const auto unified_first = parse_proc_cgroup("0::/u\n2:cpu:/v\n");
    ASSERT_TRUE(unified_first);
    EXPECT_TRUE(unified_first->v1);
    EXPECT_EQ(unified_first->path, "/v");

    const auto only_v2 = parse_proc_cgroup("0::/user.slice/app\n");
    ASSERT_TRUE(only_v2);
    EXPECT_FALSE(only_v2->v1);
    EXPECT_EQ(only_v2->path, "/user.slice/app");

    // "cpuacct" and "cpuset" are other controllers, not "cpu".
    const auto no_cpu = parse_proc_cgroup("3:cpuacct:/a\n2:cpuset:/b\n");
    EXPECT_FALSE(no_cpu);

    const auto colon_in_path = parse_proc_cgroup("0::/a:b\n");
    ASSERT_TRUE(colon_in_path);
    EXPECT_EQ(colon_in_path->path, "/a:b");

    EXPECT_FALSE(parse_proc_cgroup(""));
}

TEST(Mountinfo, FindsTheHierarchyByTypeAndSuperOptions) {
    const std::string text =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "33 31 0:30 / /sys/fs/cgroup/cpuacct rw,relatime - cgroup cgroup rw,cpuacct\n"
        "32 31 0:29 /outer /sys/fs/cgroup/cpu\\040x rw,relatime shared:9 master:2 - cgroup "
        "cgroup rw,cpu,cpuacct\n"
        "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
    const auto v1 = parse_mountinfo(text, true);
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->root, "/outer");
    EXPECT_EQ(v1->mount_point, "/sys/fs/cgroup/cpu x");
    const auto v2 = parse_mountinfo(text, false);
    ASSERT_TRUE(v2);
    EXPECT_EQ(v2->root, "/");
    EXPECT_EQ(v2->mount_point, "/sys/fs/cgroup/unified");

    EXPECT_FALSE(parse_mountinfo("33 31 0:30 / /c rw - cgroup cgroup rw,cpuacct\n", true));
    EXPECT_FALSE(parse_mountinfo("33 31 0:30 / /c rw - tmpfs cgroup rw,cpu\n", true));
}

// A fake /proc and /sys under a temporary directory.
struct FakeSystem {
    TempTree tree;

    void cgroup(std::string_view text) const { tree.write("proc/self/cgroup", text); }
    void mountinfo(std::string_view text) const { tree.write("proc/self/mountinfo", text); }
    void cpu_max(std::string_view dir, std::string_view text) const {
        tree.write(std::string(dir) + "/cpu.max", text);
    }
    void cfs(std::string_view dir, std::string_view quota, std::string_view period) const {
        tree.write(std::string(dir) + "/cpu.cfs_quota_us", quota);
        tree.write(std::string(dir) + "/cpu.cfs_period_us", period);
    }
    std::optional<std::uint64_t> limit() const { return cgroup_cpu_limit(tree.path()); }
};

constexpr const char* v2_mount = "30 1 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
constexpr const char* v1_mount = "32 31 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n";

TEST(CgroupLimit, Version2Group) {
    FakeSystem sys;
    sys.cgroup("0::/app\n");
    sys.mountinfo(v2_mount);
    sys.cpu_max("sys/fs/cgroup/app", "300000 100000\n");
    EXPECT_EQ(sys.limit(), 3u);
}

TEST(CgroupLimit, Version2MaxMeansNoLimit) {
    FakeSystem sys;
    sys.cgroup("0::/app\n");
    sys.mountinfo(v2_mount);
    sys.cpu_max("sys/fs/cgroup/app", "max 100000\n");
    EXPECT_EQ(sys.limit(), none);
}

TEST(CgroupLimit, FractionalQuotaRoundsDownToAtLeastOne) {
    FakeSystem sys;
    sys.cgroup("0::/app\n");
    sys.mountinfo(v2_mount);
    sys.cpu_max("sys/fs/cgroup/app", "50000 100000\n");
    EXPECT_EQ(sys.limit(), 1u);
    sys.cpu_max("sys/fs/cgroup/app", "250000 100000\n");
    EXPECT_EQ(sys.limit(), 2u);
}

TEST(CgroupLimit, NestedGroupsTakeTheMinimumUpToTheMountPoint) {
    FakeSystem sys;
    sys.cgroup("0::/a/b/c\n");
    sys.mountinfo(v2_mount);
    sys.cpu_max("sys/fs/cgroup/a/b/c", "800000 100000\n");
    sys.cpu_max("sys/fs/cgroup/a/b", "max 100000\n");
    sys.cpu_max("sys/fs/cgroup/a", "200000 100000\n");
    sys.cpu_max("sys/fs/cgroup", "600000 100000\n");
    EXPECT_EQ(sys.limit(), 2u);
    sys.cpu_max("sys/fs/cgroup", "100000 100000\n");  // the mount point's own group counts
    EXPECT_EQ(sys.limit(), 1u);
    // Nothing above the mount point is read.
    sys.cpu_max("sys/fs", "100000 100000\n");
    sys.cpu_max("sys/fs/cgroup", "max 100000\n");
    EXPECT_EQ(sys.limit(), 2u);
}

TEST(CgroupLimit, Version1QuotaMinusOneMeansNoLimit) {
    FakeSystem sys;
    sys.cgroup("9:name=systemd:/\n1:cpu:/\n0::/\n");
    sys.mountinfo(std::string(v1_mount) +
                  "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");
    sys.cfs("sys/fs/cgroup/cpu", "-1\n", "100000\n");
    sys.cpu_max("sys/fs/cgroup/unified", "100000 100000\n");  // not the governing hierarchy
    EXPECT_EQ(sys.limit(), none);
}

TEST(CgroupLimit, Version1NestedQuota) {
    FakeSystem sys;
    sys.cgroup("4:cpu,cpuacct:/job/task\n0::/\n");
    sys.mountinfo("32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n");
    sys.cfs("sys/fs/cgroup/cpu,cpuacct/job/task", "-1\n", "100000\n");
    sys.cfs("sys/fs/cgroup/cpu,cpuacct/job", "350000\n", "100000\n");
    sys.cfs("sys/fs/cgroup/cpu,cpuacct", "-1\n", "100000\n");
    EXPECT_EQ(sys.limit(), 3u);
}

TEST(CgroupLimit, MountRootIsStrippedFromTheGroupPath) {
    FakeSystem sys;
    // The hierarchy is mounted from /docker/c1, so the group /docker/c1/inner lives in
    // <mount point>/inner.
    sys.cgroup("0::/docker/c1/inner\n");
    sys.mountinfo("30 1 0:26 /docker/c1 /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
    sys.cpu_max("sys/fs/cgroup/inner", "200000 100000\n");
    sys.cpu_max("sys/fs/cgroup/docker/c1/inner", "100000 100000\n");  // must not be read
    EXPECT_EQ(sys.limit(), 2u);
}

TEST(CgroupLimit, GroupOutsideTheMountedRootHasNoVisibleLimit) {
    FakeSystem sys;
    sys.cgroup("0::/elsewhere\n");
    sys.mountinfo("30 1 0:26 /docker/c1 /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
    sys.cpu_max("sys/fs/cgroup", "100000 100000\n");
    sys.cpu_max("sys/fs/cgroup/elsewhere", "100000 100000\n");
    EXPECT_EQ(sys.limit(), none);
    // A path that merely shares the mount root's leading characters is outside it too.
    sys.cgroup("0::/docker/c10\n");
    EXPECT_EQ(sys.limit(), none);
}

TEST(CgroupLimit, MissingOrUnreadableFilesMeanNoLimit) {
    FakeSystem sys;
    EXPECT_EQ(sys.limit(), none);
    sys.cgroup("0::/app\n");
    EXPECT_EQ(sys.limit(), none);
    sys.mountinfo(v2_mount);
    EXPECT_EQ(sys.limit(), none);
    // A quota file that is a directory cannot be read, and one that is a fifo must not be
    // waited on: neither sets a limit, nor hides the limits of the other levels.
    sys.tree.mkdir("sys/fs/cgroup/app/cpu.max");
    EXPECT_EQ(sys.limit(), none);
    sys.cpu_max("sys/fs/cgroup", "200000 100000\n");
    EXPECT_EQ(sys.limit(), 2u);
    const std::string top = sys.tree.path("sys/fs/cgroup/cpu.max");
    ASSERT_EQ(::unlink(top.c_str()), 0);
    ASSERT_EQ(::mkfifo(top.c_str(), 0600), 0);
    EXPECT_EQ(sys.limit(), none);

    FakeSystem v1;
    v1.cgroup("4:cpu:/job\n");
    v1.mountinfo(v1_mount);
    v1.tree.mkdir("sys/fs/cgroup/cpu/job/cpu.cfs_quota_us");
    v1.tree.write("sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n");
    v1.cfs("sys/fs/cgroup/cpu", "300000\n", "100000\n");
    EXPECT_EQ(v1.limit(), 3u);
}

}  // namespace
}  // namespace vornu
