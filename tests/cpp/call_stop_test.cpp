#include "scan/call_stop.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "scan/parallel/parallel_scan.hpp"
#include "scan/scan.hpp"
#include "support/pools.hpp"
#include "support/temp_tree.hpp"

namespace vornu {
namespace {

// A file of a tebibyte that is all holes: valid text (zero bytes) that would take minutes
// to read, and no room on the disk. False where the file system cannot hold one that large.
constexpr off_t endless_size = off_t{1} << 40;

bool make_endless_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool made = ::ftruncate(fd, endless_size) == 0;
    ::close(fd);
    return made;
}

std::atomic<std::size_t> roots_begun{0};
CallStop* stop_at_last_root = nullptr;

// A stand-in for the scan of one root: "r<n>" yields "m<n>"; "last" asks the call to stop.
void counted_scan(std::string_view root, ScanScratch&, NameCollector& names) {
    roots_begun.fetch_add(1);
    if (root == "last") stop_at_last_root->requested = true;
    names.insert(std::string("m") += root);
}

std::vector<std::string> roots_then(std::size_t count, std::string last) {
    std::vector<std::string> roots;
    for (std::size_t i = 0; i + 1 < count; ++i) roots.push_back("r" + std::to_string(i));
    roots.push_back(std::move(last));
    return roots;
}

// A hook that says stop at its `stop_at`-th call, and first runs `meanwhile` at each call.
struct Hook {
    int calls = 0;
    int stop_at = 3;
    std::function<void()> meanwhile;

    static bool ask(void* context) noexcept {
        auto& hook = *static_cast<Hook*>(context);
        if (hook.meanwhile) hook.meanwhile();
        return ++hook.calls == hook.stop_at;
    }
};

class CallStopOnPool : public testing::TestWithParam<std::size_t> {
protected:
    WorkerPool& pool() { return pool_of(GetParam()); }
};

// A stop asked before the call begins no root. One asked during the last root comes when
// that root's piece has no root left to look at it before: the result, though complete,
// is dropped all the same.
TEST_P(CallStopOnPool, AStoppedCallGivesNoResult) {
    for (std::size_t count : {1u, 2u, 1000u}) {
        for (const bool before : {true, false}) {
            CallStop stop;
            stop.requested = before;
            stop_at_last_root = &stop;
            roots_begun = 0;
            EXPECT_THROW(scan_roots_with(roots_then(count, "last"), &counted_scan, pool(), nullptr, &stop),
                         ScanStopped);
            EXPECT_EQ(roots_begun.load() == 0, before) << count << " roots";
        }
    }
}

// Links to the endless file, each of which would keep a scan busy for minutes, ended by the
// hook: as one root (a file, or a directory of them) scanned on the calling thread, and as
// many roots on the pool, each pool thread in a read of its own. A hook may make calls of
// its own meanwhile; the pool, busy with the endless reads, must not keep them waiting.
TEST_P(CallStopOnPool, TheHookEndsEndlessReadsAndMayMakeCallsOfItsOwn) {
    TempTree tree;
    const std::string endless_file = tree.path("holes");
    if (!make_endless_file(endless_file)) GTEST_SKIP() << "no file of " << endless_size << " bytes can be made here";
    std::vector<std::string> links;
    for (std::size_t i = 0; i < 2 * GetParam() + 1; ++i) {
        const std::string link = "endless/p" + std::to_string(i) + ".py";
        tree.symlink(endless_file, link);
        links.push_back(tree.path(link));
    }
    std::vector<std::string> plain;
    for (int i = 0; i < 6; ++i)
        plain.push_back(tree.write("plain/d" + std::to_string(i) + "/m.py", "import n" + std::to_string(i) + "\n"));
    NameSet expected;
    for (int i = 0; i < 6; ++i) expected.insert("n" + std::to_string(i));
    std::vector<std::string> many = links;
    many.insert(many.end(), plain.begin(), plain.end());

    const std::vector<std::vector<std::string>> shapes = {{links[0]}, {tree.path("endless")}, many};
    for (const std::vector<std::string>& roots : shapes) {
        for (const bool nests : {false, true}) {
            Hook hook;
            int nested_right = 0;
            if (nests) hook.meanwhile = [&] {
                Hook inner_hook;
                inner_hook.stop_at = 0;
                CallStop inner;
                inner.hook = {&Hook::ask, &inner_hook};
                nested_right += scan_roots_with(plain, &scan_root_into, pool(), nullptr, &inner) == expected;
            };
            CallStop stop;
            stop.hook = {&Hook::ask, &hook};
            EXPECT_THROW(scan_roots_with(roots, &scan_root_into, pool(), nullptr, &stop), ScanStopped);
            EXPECT_EQ(hook.calls, hook.stop_at) << "asked again after it said stop";
            EXPECT_EQ(nested_right, nests ? hook.stop_at : 0);
            EXPECT_EQ(scan_roots_with(plain, &scan_root_into, pool()), expected) << "the next call";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, CallStopOnPool, testing::ValuesIn(pool_sizes));

}  // namespace
}  // namespace vornu
