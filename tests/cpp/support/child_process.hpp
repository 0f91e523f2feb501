#pragma once

// Runs chosen tests of the current test binary in a fresh process, for behaviour that can
// be seen only once per process (the process-wide pool) or that needs process-wide limits.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

struct ChildResult {
    int exit_status = -1;  // -1 when the child did not exit normally
    std::string output;    // everything the child wrote to stdout
};

// The child runs `/proc/self/exe --gtest_filter=<filter>` with `env` added to the
// environment and VORNU_CHILD=1, so that child-only tests can tell they are wanted.
inline ChildResult run_child(const std::string& filter,
                             const std::vector<std::pair<std::string, std::string>>& env) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::setenv("VORNU_CHILD", "1", 1);
        const std::string arg = "--gtest_filter=" + filter;
        ::execl("/proc/self/exe", "child", arg.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    ChildResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    }
    return result;
}

inline bool in_child() { return std::getenv("VORNU_CHILD") != nullptr; }

#define VORNU_CHILD_ONLY()                                   \
    do {                                                     \
        if (!in_child()) GTEST_SKIP() << "runs in a child"; \
    } while (false)
