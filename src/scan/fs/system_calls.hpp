// The file-system calls of the scan, made directly rather than through libc's wrappers.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

// libc's wrappers are cancellation points, which the scan never wants (a worker cancelled
// inside one would leak its descriptors), cost a little on every file, and tie the module
// to the libc release that first exported them (getdents64 in 2.30, fstat in 2.33).
// Every call here returns what the kernel returns: a result, or minus the error number.
namespace vornu::sys {

#if defined(__x86_64__)
inline long call(long number, long a, long b = 0, long c = 0, long d = 0) noexcept {
    long result;
    register long r10 __asm__("r10") = d;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                     : "rcx", "r11", "memory");
    return result;
}
#else
inline long call(long number, long a, long b = 0, long c = 0, long d = 0) noexcept {
    const long result = ::syscall(number, a, b, c, d);
    return result < 0 ? -errno : result;
}
#endif

// Repeats a call that a signal interrupted before it did anything.
template <class Call>
long retry_on_eintr(Call&& call) noexcept {
    long result;
    do {
        result = call();
    } while (result == -EINTR);
    return result;
}

inline long arg(const void* pointer) noexcept { return reinterpret_cast<long>(pointer); }

// A descriptor, or minus the error number.
inline int open_at(int dir_fd, const char* path, int flags) noexcept {
    return static_cast<int>(
        retry_on_eintr([&] { return call(SYS_openat, dir_fd, arg(path), flags, 0); }));
}

// Not retried: Linux releases the descriptor even when close reports EINTR.
inline void close(int fd) noexcept { call(SYS_close, fd); }

inline long read(int fd, void* buffer, std::size_t size) noexcept {
    return retry_on_eintr([&] { return call(SYS_read, fd, arg(buffer), static_cast<long>(size)); });
}

// Reads at `offset` without moving the descriptor's position.
inline long pread(int fd, void* buffer, std::size_t size, std::uint64_t offset) noexcept {
    return retry_on_eintr(
        [&] { return call(SYS_pread64, fd, arg(buffer), static_cast<long>(size), static_cast<long>(offset)); });
}

inline bool fstat(int fd, struct stat& status) noexcept {
    return call(SYS_fstat, fd, arg(&status)) == 0;
}

// `flags` is 0 (follow a final link) or AT_SYMLINK_NOFOLLOW.
inline bool stat_at(int dir_fd, const char* path, struct stat& status, int flags) noexcept {
    return retry_on_eintr([&] { return call(SYS_newfstatat, dir_fd, arg(path), arg(&status), flags); }) == 0;
}

// Bytes of directory entries placed in `buffer`, 0 at the end of the listing.
inline long getdents64(int fd, void* buffer, std::size_t size) noexcept {
    return retry_on_eintr([&] { return call(SYS_getdents64, fd, arg(buffer), static_cast<long>(size)); });
}

}  // namespace vornu::sys
