// Times the parallel scan of many roots against its baselines, interleaved A B A B and
// compared by medians:
//   1. one worker      vs a plain sequential loop of scan_root_into (the pool's own overhead)
//   2. two workers     vs the I/O floor on two threads (whole files of whole roots, no parsing)
//   3. a call over many empty directories, and over as many roots with a no-op scan: the
//      pool's cost per root.
//
//   pool_bench [--rounds N] [--empty N] [--depth D] TREE
//
// The roots are the directories at depth D below TREE (default: the shallowest depth with
// at least 256 of them).

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/read_floor.hpp"
#include "scan/parallel/parallel_scan.hpp"
#include "scan/scan.hpp"
#include "scan/parallel/global_pool.hpp"
#include "scan/parallel/pool_size.hpp"
#include "scan/parallel/worker_pool.hpp"

namespace fs = std::filesystem;
using namespace vornu;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Pair {
    double a;
    double b;
};

// Warm-up of both, then `rounds` interleaved timings.
Pair compare(int rounds, const std::function<void()>& a, const std::function<void()>& b) {
    a();
    b();
    std::vector<double> ta, tb;
    for (int i = 0; i < rounds; ++i) {
        ta.push_back(seconds(a));
        tb.push_back(seconds(b));
    }
    return {median(ta), median(tb)};
}

WorkerPool& pool_of(std::size_t threads) {
    const PoolBuild build = WorkerPool::build(threads);
    if (!build.pool) throw std::runtime_error(pool_start_failure(build.os_error));
    return *build.pool;
}

std::vector<std::string> dirs_at_depth(const fs::path& tree, int depth) {
    std::vector<std::string> level = {tree.string()};
    for (int d = 0; d < depth; ++d) {
        std::vector<std::string> next;
        for (const std::string& dir : level) {
            for (const auto& entry : fs::directory_iterator(dir)) {
                if (entry.is_directory() && !entry.is_symlink()) next.push_back(entry.path().string());
            }
        }
        std::sort(next.begin(), next.end());
        level = std::move(next);
    }
    return level;
}

struct EmptyDirs {
    fs::path root;
    std::vector<std::string> dirs;
    explicit EmptyDirs(int count) {
        std::string pattern = (fs::temp_directory_path() / "vornu-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root = pattern;
        for (int i = 0; i < count; ++i) {
            dirs.push_back((root / ("e" + std::to_string(i))).string());
            ::mkdir(dirs.back().c_str(), 0755);
        }
    }
    ~EmptyDirs() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    EmptyDirs(const EmptyDirs&) = delete;
    EmptyDirs& operator=(const EmptyDirs&) = delete;
};

NameSet sequential(const std::vector<std::string>& roots) {
    ScanScratch scratch;
    NameCollector names;
    for (const std::string& root : roots) scan_root_into(root, scratch, names);
    return names.take();
}

// The floor: two threads take whole roots from a shared counter and read their files.
std::uint64_t io_floor(const std::vector<std::string>& roots, int threads) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> bytes{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < threads; ++t) {
        readers.emplace_back([&] {
            ScanScratch scratch;
            std::uint64_t own = 0;
            for (std::size_t i; (i = next.fetch_add(1)) < roots.size();) own += read_without_scanning(roots[i], scratch, Floor::lean);
            bytes += own;
        });
    }
    for (std::thread& r : readers) r.join();
    return bytes;
}

void no_scan(std::string_view, ScanScratch&, NameCollector&) {}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 7;
    int empty = 10000;
    int depth = -1;
    std::string tree;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (arg == "--empty" && i + 1 < argc) empty = std::atoi(argv[++i]);
        else if (arg == "--depth" && i + 1 < argc) depth = std::atoi(argv[++i]);
        else tree = arg;
    }
    if (tree.empty()) {
        std::fprintf(stderr, "usage: pool_bench [--rounds N] [--empty N] [--depth D] TREE\n");
        return 2;
    }
    std::vector<std::string> roots;
    if (depth >= 0) {
        roots = dirs_at_depth(tree, depth);
    } else {
        for (int d = 1; d <= 6 && roots.size() < 256; ++d) roots = dirs_at_depth(tree, d);
    }
    std::printf("roots: %zu under %s; default pool size here: %zu; rounds: %d\n", roots.size(),
                tree.c_str(), pool_thread_count(), rounds);

    WorkerPool& one = pool_of(1);
    WorkerPool& two = pool_of(2);

    // The results must agree before the times mean anything.
    const NameSet expected = sequential(roots);
    if (scan_roots_with(roots, &scan_root_into, one) != expected ||
        scan_roots_with(roots, &scan_root_into, two) != expected) {
        std::fprintf(stderr, "results differ\n");
        return 1;
    }
    std::printf("names: %zu, bytes of Python: %llu\n", expected.size(),
                static_cast<unsigned long long>(io_floor(roots, 1)));

    const Pair p1 = compare(
        rounds, [&] { scan_roots_with(roots, &scan_root_into, one); }, [&] { sequential(roots); });
    std::printf("T=1 pool %.3f s  vs  sequential scan_root_into %.3f s  ratio %.3f  (target <= 1.05)\n",
                p1.a, p1.b, p1.a / p1.b);

    const Pair p2 = compare(
        rounds, [&] { scan_roots_with(roots, &scan_root_into, two); }, [&] { io_floor(roots, 2); });
    const Pair f = compare(rounds, [&] { io_floor(roots, 1); }, [&] { io_floor(roots, 2); });
    std::printf("T=2 pool %.3f s  vs  2-thread I/O floor %.3f s  ratio %.3f  (target <= 1.15)\n",
                p2.a, p2.b, p2.a / p2.b);
    std::printf("I/O floor: 1 thread %.3f s, 2 threads %.3f s, gain %.2fx\n", f.a, f.b, f.a / f.b);

    const EmptyDirs dirs(empty);
    const double n = static_cast<double>(dirs.dirs.size());
    for (WorkerPool* pool : {&one, &two}) {
        const std::size_t t = pool->size();
        const Pair e = compare(
            rounds * 3, [&] { scan_roots_with(dirs.dirs, &scan_root_into, *pool); },
            [&] { sequential(dirs.dirs); });
        const Pair z = compare(
            rounds * 3, [&] { scan_roots_with(dirs.dirs, &no_scan, *pool); },
            [&] { ScanScratch scratch; NameCollector s; for (const auto& r : dirs.dirs) no_scan(r, scratch, s); });
        std::printf(
            "%zu empty dirs, T=%zu: pool %.2f us/root, sequential %.2f us/root; "
            "no-op scan: pool %.3f us/root, loop %.3f us/root (pool cost %.3f us/root)\n",
            dirs.dirs.size(), t, e.a / n * 1e6, e.b / n * 1e6, z.a / n * 1e6, z.b / n * 1e6,
            (z.a - z.b) / n * 1e6);
    }
    return 0;
}
