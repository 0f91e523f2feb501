#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "scan/parallel/global_pool.hpp"
#include "scan/parallel/parallel_scan.hpp"
#include "scan/scan.hpp"
#include "support/pools.hpp"
#include "support/temp_tree.hpp"

namespace vornu {
namespace {

// Appending, rather than operator+ on a literal, avoids a false -Wrestrict report of GCC 12.
std::string cat(std::string_view a, std::string_view b, std::string_view c = {}) {
    std::string s(a);
    s += b;
    s += c;
    return s;
}

// A deterministic stand-in for the scan of one root: "r<n>" yields m<n>, m<n % 7> and "all".
void names_of_number(std::string_view root, ScanScratch&, NameCollector& names) {
    const std::string number(root.substr(1));
    const int n = std::atoi(number.c_str());
    for (const std::string& name : {std::string("all"), cat("m", number), cat("m", std::to_string(n % 7))})
        names.insert(name);
}

std::vector<std::string> numbered_roots(int count) {
    std::vector<std::string> roots;
    for (int i = 0; i < count; ++i) roots.push_back(cat("r", std::to_string(i)));
    return roots;
}

NameSet union_in_sequence(std::span<const std::string> roots, ScanOne scan_one) {
    NameSet names;
    for (const std::string& root : roots) {
        ScanScratch scratch;
        NameCollector own;
        scan_one(root, scratch, own);
        merge_names(names, own.take());
    }
    return names;
}

// Pieces a long list ends up in when nothing moves below the first division.
std::size_t pieces_without_moves(std::size_t length, std::size_t splits, bool moved,
                                 std::size_t threads) {
    if (!should_divide(length, splits, moved, threads)) return 1;
    return pieces_without_moves(length / 2, splits, false, threads) +
           pieces_without_moves(length - length / 2, splits, false, threads);
}

std::size_t pieces_of_list(std::size_t length, std::size_t threads) {
    if (length < 2) return 1;
    // The two halves of the first division came from outside the pool: both count as moved.
    return pieces_without_moves(length / 2, threads, true, threads) +
           pieces_without_moves(length - length / 2, threads, true, threads);
}

TEST(SplitBudget, LongListPiecesFollowThreadCount) {
    const std::vector<std::pair<std::size_t, std::size_t>> cases = {
        {1, 8}, {2, 16}, {3, 16}, {4, 32}, {8, 64}, {64, 512}, {65535, 1u << 18}};
    for (const auto& [threads, pieces] : cases) {
        EXPECT_EQ(pieces_of_list(1u << 20, threads), pieces) << "T=" << threads;
    }
}

TEST(SplitBudget, NeverMorePiecesThanRoots) {
    for (std::size_t threads : {1u, 2u, 8u, 64u}) {
        for (std::size_t length = 1; length <= 300; ++length) {
            EXPECT_LE(pieces_of_list(length, threads), length) << threads << ' ' << length;
        }
    }
}

TEST(SplitBudget, MovedPieceGetsAtLeastThreadCount) {
    std::size_t splits = 0;
    EXPECT_TRUE(should_divide(2, splits, true, 4));
    EXPECT_EQ(splits, 4u);
    splits = 20;
    EXPECT_TRUE(should_divide(2, splits, true, 4));
    EXPECT_EQ(splits, 10u);
    splits = 0;
    EXPECT_FALSE(should_divide(5, splits, false, 4));
    splits = 1;
    EXPECT_TRUE(should_divide(5, splits, false, 4));
    EXPECT_EQ(splits, 0u);
    splits = 9;
    EXPECT_FALSE(should_divide(1, splits, true, 4));
    EXPECT_EQ(splits, 9u);
}

TEST(ScanRootsWith, OneWorkerDividesIntoEightPieces) {
    // With a single worker nothing can move, so the division is fully determined.
    const auto roots = numbered_roots(1000);
    ScanStats stats;
    const NameSet names = scan_roots_with(roots, &names_of_number, pool_of(1), &stats);
    EXPECT_EQ(names, union_in_sequence(roots, &names_of_number));
    EXPECT_EQ(stats.pieces.load(), 8u);
    EXPECT_EQ(stats.divisions.load(), 7u);
    EXPECT_EQ(stats.moved.load(), 0u);
}

TEST(ScanRootsWith, SmallListsNeverSplitBelowOneRoot) {
    for (int count = 0; count <= 20; ++count) {
        const auto roots = numbered_roots(count);
        for (std::size_t threads : pool_sizes) {
            ScanStats stats;
            EXPECT_EQ(scan_roots_with(roots, &names_of_number, pool_of(threads), &stats),
                      union_in_sequence(roots, &names_of_number));
            EXPECT_LE(stats.pieces.load(), std::max<std::size_t>(roots.size(), 1));
        }
    }
}

TEST(ScanRootsWith, ResultIndependentOfOrderDuplicatesAndThreads) {
    std::mt19937 random(12345);
    std::vector<std::string> roots = numbered_roots(500);
    const std::vector<std::string> again(roots.begin(), roots.begin() + 100);
    roots.insert(roots.end(), again.begin(), again.end());  // duplicates
    const NameSet expected = union_in_sequence(roots, &names_of_number);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(roots.begin(), roots.end(), random);
        for (std::size_t threads : pool_sizes) {
            EXPECT_EQ(scan_roots_with(roots, &names_of_number, pool_of(threads)), expected)
                << "T=" << threads << " round " << round;
        }
    }
}

TEST(ScanRootsWith, RealTreesGiveTheSameSetForEveryThreadCount) {
    TempTree tree;
    std::vector<std::string> roots;
    for (int i = 0; i < 40; ++i) {
        const std::string dir = cat("pkg", std::to_string(i));
        tree.write(cat(dir, "/a.py"), cat("import os\nfrom m", std::to_string(i), " import x\n"));
        tree.write(cat(dir, "/sub/b.py"), cat("import shared_", std::to_string(i % 5), "\r\n"));
        tree.write(cat(dir, "/sub/c.txt"), "import ignored\n");
        roots.push_back(tree.path(dir));
    }
    roots.push_back(tree.path("pkg3/sub"));  // a root below another root
    roots.push_back(tree.path("pkg7"));      // the same root twice
    roots.push_back(tree.path("missing"));
    roots.push_back("");
    const NameSet expected = union_in_sequence(roots, &scan_root_into);
    EXPECT_EQ(expected.size(), 1u + 40u + 5u);
    EXPECT_EQ(expected.count("ignored"), 0u);

    std::mt19937 random(7);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(roots.begin(), roots.end(), random);
        for (std::size_t threads : pool_sizes) {
            EXPECT_EQ(scan_roots_with(roots, &scan_root_into, pool_of(threads)), expected);
        }
    }
    EXPECT_EQ(scan_roots(roots), expected);
    EXPECT_EQ(scan_roots(std::span(roots).first(1)), scan_root(roots[0]));
    EXPECT_TRUE(scan_roots({}).empty());
}

// A per-root scan that itself scans a list on the same pool, from inside a worker.
WorkerPool* nested_pool = nullptr;
void nested_scan(std::string_view root, ScanScratch&, NameCollector& names) {
    const auto inner = numbered_roots(12);
    for (const std::string& name : scan_roots_with(inner, &names_of_number, *nested_pool)) names.insert(name);
    names.insert(root);
}

TEST(ScanRootsWith, CallFromInsideAWorkerDoesNotWaitOnItself) {
    const std::vector<std::string> roots = {"x1", "x2", "x3", "x4", "x5"};
    NameSet expected = union_in_sequence(numbered_roots(12), &names_of_number);
    expected.insert(roots.begin(), roots.end());
    for (std::size_t threads : pool_sizes) {
        nested_pool = &pool_of(threads);
        EXPECT_EQ(scan_roots_with(roots, &nested_scan, *nested_pool), expected);
    }
}

// --- Failures ---

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Roots are "r<n>"; the ones listed in `failing` throw. Every call is recorded.
std::mutex record_lock;
std::vector<std::string> failing;
std::vector<std::string> attempted;
std::atomic<std::size_t> completed{0};

void failing_scan(std::string_view root, ScanScratch& scratch, NameCollector& names) {
    {
        std::lock_guard<std::mutex> guard(record_lock);
        attempted.emplace_back(root);
        if (std::find(failing.begin(), failing.end(), root) != failing.end()) {
            throw Failure(cat("failed at ", root));
        }
    }
    names_of_number(root, scratch, names);
    completed.fetch_add(1);
}

struct FailureSetup {
    explicit FailureSetup(std::vector<std::string> fail) {
        std::lock_guard<std::mutex> guard(record_lock);
        failing = std::move(fail);
        attempted.clear();
        completed = 0;
    }
    bool was_attempted(const std::string& root) const {
        std::lock_guard<std::mutex> guard(record_lock);
        return std::find(attempted.begin(), attempted.end(), root) != attempted.end();
    }
};

std::string failure_of(std::span<const std::string> roots, WorkerPool& pool) {
    try {
        scan_roots_with(roots, &failing_scan, pool);
    } catch (const Failure& e) {
        return e.what();
    }
    return "no failure";
}

TEST(ScanRootsWith, LeftFailureWinsAndSiblingsRunToTheirEnd) {
    const auto roots = numbered_roots(64);
    for (std::size_t threads : pool_sizes) {
        FailureSetup setup({"r0", "r63"});
        EXPECT_EQ(failure_of(roots, pool_of(threads)), "failed at r0") << "T=" << threads;
        // r63 is in the other half; that half still ran, up to its own failure.
        EXPECT_TRUE(setup.was_attempted("r63")) << "T=" << threads;
        EXPECT_TRUE(setup.was_attempted("r32")) << "T=" << threads;
        if (threads == 1) {
            // Eight pieces of eight: the first stops after r0, the last before r63.
            EXPECT_EQ(completed.load(), 64u - 8u - 1u);
        }
    }
}

TEST(ScanRootsWith, RightFailureReachesTheCaller) {
    const auto roots = numbered_roots(64);
    for (std::size_t threads : pool_sizes) {
        FailureSetup setup({"r40"});
        EXPECT_EQ(failure_of(roots, pool_of(threads)), "failed at r40") << "T=" << threads;
        EXPECT_TRUE(setup.was_attempted("r0"));
        EXPECT_TRUE(setup.was_attempted("r63"));
    }
}

TEST(ScanRootsWith, SingleRootFailureOnTheCallingThread) {
    FailureSetup setup({"r5"});
    const std::vector<std::string> one = {"r5"};
    EXPECT_EQ(failure_of(one, pool_of(2)), "failed at r5");
}

TEST(ScanRootsWith, PoolServesCallsAfterFailures) {
    const auto roots = numbered_roots(300);
    for (std::size_t threads : pool_sizes) {
        {
            FailureSetup setup({"r1", "r150", "r299"});
            EXPECT_EQ(failure_of(roots, pool_of(threads)), "failed at r1");
        }
        FailureSetup none({});
        EXPECT_EQ(scan_roots_with(roots, &failing_scan, pool_of(threads)),
                  union_in_sequence(roots, &names_of_number));
        EXPECT_EQ(completed.load(), 300u);
    }
}

TEST(ScanRootsWith, ManyCallersAtOnce) {
    for (std::size_t threads : {1u, 2u, 8u}) {
        WorkerPool& pool = pool_of(threads);
        std::atomic<int> wrong{0};
        std::vector<std::thread> callers;
        for (int c = 0; c < 6; ++c) {
            callers.emplace_back([&, c] {
                std::mt19937 random(static_cast<unsigned>(c));
                for (int call = 0; call < 30; ++call) {
                    auto roots = numbered_roots(static_cast<int>(random() % 200));
                    std::shuffle(roots.begin(), roots.end(), random);
                    if (scan_roots_with(roots, &names_of_number, pool) !=
                        union_in_sequence(roots, &names_of_number)) {
                        ++wrong;
                    }
                }
            });
        }
        for (std::thread& t : callers) t.join();
        EXPECT_EQ(wrong.load(), 0) << "T=" << threads;
    }
}

// `count` roots, each a file of its own folder importing a name of its own.
std::vector<std::string> one_import_roots(TempTree& tree, int count) {
    std::vector<std::string> roots;
    for (int i = 0; i < count; ++i)
        roots.push_back(tree.write(cat("d", std::to_string(i), "/m.py"), cat("import n", std::to_string(i), "\n")));
    return roots;
}

TEST(ScanRoots, ManyCallersOnTheProcessWidePool) {
    TempTree tree;
    const std::vector<std::string> roots = one_import_roots(tree, 24);
    const NameSet expected = union_in_sequence(roots, &scan_root_into);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&] {
            for (int call = 0; call < 20; ++call) {
                if (scan_roots(roots) != expected) ++wrong;
            }
        });
    }
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A child made by fork() has none of its parent's worker threads; work handed to the
// inherited pool would wait forever. The child gets a pool of its own instead.
TEST(ScanRoots, AForkedChildScansWithAPoolOfItsOwn) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not support starting threads after a multi-threaded fork";
#endif
    TempTree tree;
    const std::vector<std::string> roots = one_import_roots(tree, 16);
    const NameSet expected = scan_roots(roots);  // the parent's pool now exists
    ASSERT_EQ(expected.size(), 16u);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(30);  // a hang ends the child with SIGALRM
        const bool same = scan_roots(roots) == expected && scan_roots(roots) == expected;
        ::_exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(scan_roots(roots), expected);
}

// A descendant that a fork gives the very pid of the process that made the pool must still
// make a pool of its own. In a fresh pid namespace, the maker P scans (making the pool),
// forks C and exits; C sets the namespace's last pid so that its next child G gets P's pid.
int scan_as_pid_reuser(const std::vector<std::string>& roots, const NameSet& expected) {
    const pid_t maker = ::fork();
    if (maker == 0) {
        if (scan_roots(roots) != expected) ::_exit(1);
        const pid_t maker_pid = ::getpid();
        if (::fork() != 0) ::_exit(0);
        while (::getppid() == maker_pid) ::usleep(1000);
        const int last_pid = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
        const std::string text = std::to_string(maker_pid - 1);
        if (last_pid < 0 || ::write(last_pid, text.data(), text.size()) < 0) ::_exit(77);
        const pid_t reuser = ::fork();
        if (reuser == 0) {
            ::alarm(30);  // a hang ends the reuser with SIGALRM
            if (::getpid() != maker_pid) ::_exit(77);
            ::_exit(scan_roots(roots) == expected ? 0 : 1);
        }
        int status = 0;
        ::waitpid(reuser, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    // This process is the namespace's first: it reaps C, whose status is the verdict.
    int verdict = 2;
    for (int status; ::wait(&status) > 0;) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) verdict = WEXITSTATUS(status);
        else if (!WIFEXITED(status)) verdict = 2;
        else if (verdict == 2) verdict = 0;
    }
    return verdict;
}

TEST(ScanRoots, ADescendantWithTheMakersPidMakesAPoolOfItsOwn) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not support starting threads after a multi-threaded fork";
#endif
    TempTree tree;
    const std::vector<std::string> roots = one_import_roots(tree, 4);
    const NameSet expected = union_in_sequence(roots, &scan_root_into);
    const pid_t outer = ::fork();
    ASSERT_GE(outer, 0);
    if (outer == 0) {
        if (::unshare(CLONE_NEWPID) != 0) ::_exit(77);
        const pid_t first = ::fork();
        if (first == 0) ::_exit(scan_as_pid_reuser(roots, expected));
        int status = 0;
        ::waitpid(first, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(outer, &status, 0), outer);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no pid namespace of our own here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vornu
