#include "scan/parallel/worker_pool.hpp"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scan/parallel/fork_join.hpp"
#include "scan/parallel/global_pool.hpp"
#include "scan/scan.hpp"
#include "support/child_process.hpp"

namespace vornu {
namespace {

const std::string prefix = "The global thread pool has not been initialized.: ";

// Threads of the process. Runtimes such as ThreadSanitizer start a helper thread with the
// first thread the process makes, so a baseline is taken only after one has come and gone:
// gone from /proc/self/task too, which a joined thread leaves only a moment after the join
// has returned (a long moment under qemu-user, which ends its own thread afterwards).
void settle_runtime_threads() {
    long id = 0;
    std::thread([&id] { id = ::syscall(SYS_gettid); }).join();
    const std::filesystem::path task = "/proc/self/task/" + std::to_string(id);
    for (int i = 0; i < 1000 && std::filesystem::exists(task); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::size_t task_count() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Threads end asynchronously; give them a moment to go.
bool wait_for_tasks(std::size_t expected) {
    for (int i = 0; i < 1000; ++i) {
        if (task_count() == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

double process_cpu_seconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TEST(PoolFailureText, NamesTheKindAndTheOsError) {
    EXPECT_EQ(pool_start_failure(EAGAIN),
              prefix + "ThreadPoolBuildError { kind: IOError, error: \"Resource temporarily "
                       "unavailable (os error 11)\" }");
    EXPECT_EQ(pool_already_failed(),
              prefix + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }");
}

std::atomic<int> starts_left{0};

int start_then_refuse(pthread_t* id, const pthread_attr_t* attr, void* (*fn)(void*), void* arg) {
    if (starts_left.fetch_sub(1) <= 0) return EAGAIN;
    return ::pthread_create(id, attr, fn, arg);
}

TEST(BuildWorkerPool, RefusedThreadStopsTheStartedOnes) {
    settle_runtime_threads();
    const std::size_t before = task_count();
    starts_left = 3;
    const PoolBuild build = WorkerPool::build(8, &start_then_refuse);
    EXPECT_EQ(build.pool, nullptr);
    EXPECT_EQ(build.os_error, EAGAIN);
    EXPECT_TRUE(wait_for_tasks(before)) << task_count() << " threads, expected " << before;
}

TEST(BuildWorkerPool, RecordsThatCannotBeAllocatedAreReportedLikeARefusedThread) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's operator new reports a failed allocation instead of throwing";
#endif
    const PoolBuild build = WorkerPool::build(std::size_t{1} << 50);
    EXPECT_EQ(build.pool, nullptr);
    EXPECT_EQ(build.os_error, ENOMEM);
}

TEST(BuildWorkerPool, StartsDetachedWorkersThatSleepWhenIdle) {
    settle_runtime_threads();
    const std::size_t before = task_count();
    const PoolBuild build = WorkerPool::build(4);
    ASSERT_NE(build.pool, nullptr);
    EXPECT_EQ(build.pool->size(), 4u);
    EXPECT_EQ(task_count(), before + 4);
    EXPECT_EQ(build.pool->current_worker(), nullptr);

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double cpu_before = process_cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(process_cpu_seconds() - cpu_before, 0.03) << "idle workers must not spin";
}

TEST(RunInPool, RunsOnAWorkerAndReturnsWhenDone) {
    const PoolBuild build = WorkerPool::build(2);
    ASSERT_NE(build.pool, nullptr);
    WorkerPool& pool = *build.pool;
    const auto [on_worker, moved] =
        run_in_pool(pool, [&](Worker& self, bool was_moved) { return std::pair(pool.current_worker() == &self, was_moved); });
    EXPECT_TRUE(on_worker);
    EXPECT_TRUE(moved);
    EXPECT_THROW(run_in_pool(pool, [](Worker&, bool) -> int { throw std::runtime_error("x"); }), std::runtime_error);
}

// --- The process-wide pool, seen from fresh child processes. ---

std::string call_message(std::span<const std::string> roots) {
    try {
        scan_roots(roots);
        return "no failure";
    } catch (const std::exception& e) {
        return e.what();
    }
}

TEST(GlobalPoolChild, CreationFails) {
    VORNU_CHILD_ONLY();
    const std::vector<std::string> two = {"/nonexistent-a", "/nonexistent-b"};
    settle_runtime_threads();
    const std::size_t before = task_count();
    starts_left = 3;
    std::string first = "no failure";
    try {
        global_worker_pool(&start_then_refuse);
    } catch (const std::exception& e) {
        first = e.what();
    }
    const std::string second = call_message({});
    const std::string third = call_message(two);
    const bool stopped = wait_for_tasks(before);
    std::printf("FIRST:%s\nSECOND:%s\nTHIRD:%s\nSTOPPED:%d\n", first.c_str(), second.c_str(),
                third.c_str(), stopped ? 1 : 0);
}

std::string line_after(const std::string& text, const std::string& key) {
    const std::size_t at = text.find("\n" + key);
    if (at == std::string::npos) return "<missing " + key + ">";
    const std::size_t start = at + 1 + key.size();
    return text.substr(start, text.find('\n', start) - start);
}

TEST(GlobalPool, CreationFailureIsReportedOnceThenAsAlreadyInitialized) {
    if (in_child()) GTEST_SKIP();
    const ChildResult child =
        run_child("GlobalPoolChild.CreationFails", {{"RAYON_NUM_THREADS", "100000"}});
    ASSERT_EQ(child.exit_status, 0) << child.output;
    const std::string output = "\n" + child.output;
    const std::string first = line_after(output, "FIRST:");
    EXPECT_EQ(first, pool_start_failure(EAGAIN));
    EXPECT_EQ(line_after(output, "SECOND:"),
              prefix + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }");
    EXPECT_EQ(line_after(output, "THIRD:"),
              prefix + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }");
    EXPECT_EQ(line_after(output, "STOPPED:"), "1") << "started workers must end";
}

TEST(GlobalPoolChild, SizedOnceAtTheFirstCall) {
    VORNU_CHILD_ONLY();
    settle_runtime_threads();
    const std::size_t before = task_count();
    EXPECT_TRUE(scan_roots({}).empty());  // an empty call creates the pool too
    EXPECT_EQ(task_count(), before + 3);
    ::setenv("RAYON_NUM_THREADS", "1", 1);
    const std::vector<std::string> roots = {"/nonexistent-a", "/nonexistent-b", "/nonexistent-c"};
    EXPECT_TRUE(scan_roots(roots).empty());
    EXPECT_EQ(global_worker_pool().size(), 3u);
    EXPECT_EQ(task_count(), before + 3);
}

TEST(GlobalPool, SizedOnceAtTheFirstCall) {
    if (in_child()) GTEST_SKIP();
    const ChildResult child = run_child("GlobalPoolChild.SizedOnceAtTheFirstCall",
                                        {{"RAYON_NUM_THREADS", "3"}});
    EXPECT_EQ(child.exit_status, 0) << child.output;
}

TEST(GlobalPoolChild, ZeroMeansDefaultDespiteSecondVariable) {
    VORNU_CHILD_ONLY();
    EXPECT_TRUE(scan_roots({}).empty());
    std::printf("SIZE:%zu\n", global_worker_pool().size());
}

TEST(GlobalPool, ZeroMeansDefaultDespiteSecondVariable) {
    if (in_child()) GTEST_SKIP();
    const ChildResult zero = run_child("GlobalPoolChild.ZeroMeansDefaultDespiteSecondVariable",
                                       {{"RAYON_NUM_THREADS", "0"}, {"RAYON_RS_NUM_CPUS", "3"}});
    ASSERT_EQ(zero.exit_status, 0) << zero.output;
    const ChildResult bad = run_child("GlobalPoolChild.ZeroMeansDefaultDespiteSecondVariable",
                                      {{"RAYON_NUM_THREADS", " 4"}, {"RAYON_RS_NUM_CPUS", "3"}});
    ASSERT_EQ(bad.exit_status, 0) << bad.output;
    EXPECT_EQ(line_after("\n" + bad.output, "SIZE:"), "3");
    // The default on this machine is whatever the CPUs allow, and 3 only by coincidence.
    const std::string zero_size = line_after("\n" + zero.output, "SIZE:");
    EXPECT_NE(zero_size.find_first_of("0123456789"), std::string::npos) << zero.output;
}

}  // namespace
}  // namespace vornu
