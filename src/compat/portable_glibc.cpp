// Linked into the wheel's module only (VORNU_PORTABLE_MODULE), on x86_64 and aarch64 glibc.
//
// A wheel must load on the oldest glibc its platform tag promises, but the build
// machine's glibc is newer, and the linker binds every reference to the newest version
// of a symbol. Each reference that would need a glibc newer than the tag's is redirected
// here with `-Wl,--wrap=NAME`, which also reaches the references made by the statically
// linked C++ runtime (a `.symver` line in our own sources could not). The wrappers call
// the same code under the first version the architecture's glibc ever had: 2.2.5 on
// x86_64, 2.17 on aarch64 (whose port began there).
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if !defined(__GLIBC__)
#error "the portable module build is for glibc only"
#elif defined(__x86_64__)
#define VORNU_GLIBC_BASE "GLIBC_2.2.5"
#define VORNU_GLIBC_CONDATTR_SETCLOCK "GLIBC_2.3.3"  // younger than the other thread functions
#elif defined(__aarch64__)
#define VORNU_GLIBC_BASE "GLIBC_2.17"
#define VORNU_GLIBC_CONDATTR_SETCLOCK "GLIBC_2.17"
#else
#error "the portable module build is for x86_64 and aarch64 only"
#endif

extern "C" {

// glibc 2.34 moved the thread functions into libc under a new version; the first version
// is the same function (older glibc serves it from libpthread.so.0, which the module
// therefore lists as needed).
int vornu_pthread_create_base(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int vornu_pthread_attr_setstacksize_base(pthread_attr_t*, size_t);
int vornu_pthread_once_base(pthread_once_t*, void (*)());
int vornu_pthread_condattr_setclock_base(pthread_condattr_t*, clockid_t);
__asm__(".symver vornu_pthread_create_base, pthread_create@" VORNU_GLIBC_BASE);
__asm__(".symver vornu_pthread_attr_setstacksize_base, pthread_attr_setstacksize@" VORNU_GLIBC_BASE);
__asm__(".symver vornu_pthread_once_base, pthread_once@" VORNU_GLIBC_BASE);
__asm__(".symver vornu_pthread_condattr_setclock_base, pthread_condattr_setclock@" VORNU_GLIBC_CONDATTR_SETCLOCK);

int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                          void* argument) {
    return vornu_pthread_create_base(thread, attributes, start, argument);
}

int __wrap_pthread_attr_setstacksize(pthread_attr_t* attributes, size_t size) {
    return vornu_pthread_attr_setstacksize_base(attributes, size);
}

int __wrap_pthread_once(pthread_once_t* control, void (*routine)()) {
    return vornu_pthread_once_base(control, routine);
}

int __wrap_pthread_condattr_setclock(pthread_condattr_t* attributes, clockid_t clock) {
    return vornu_pthread_condattr_setclock_base(attributes, clock);
}

// fstat64 became a libc function only in glibc 2.33 (before, an inline call of
// __fxstat64). On x86_64 and aarch64 the kernel's struct stat is glibc's struct stat64.
int __wrap_fstat64(int fd, struct stat64* status) {
    return static_cast<int>(syscall(SYS_fstat, fd, status));
}

// glibc 2.32 lets the C++ runtime skip atomic reference counts while a process has one
// thread. Never claiming that is always correct: the runtime then always uses atomics.
char __wrap___libc_single_threaded = 0;

}  // extern "C"
