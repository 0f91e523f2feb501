// Linked into the wheel's module only (VORNU_PORTABLE_MODULE), on x86_64 glibc.
//
// A wheel must load on the oldest glibc its platform tag promises (2.28), but the build
// machine's glibc is newer, and the linker binds every reference to the newest version
// of a symbol. Each reference that would need a glibc newer than 2.28 is redirected here
// with `-Wl,--wrap=NAME`, which also reaches the references made by the statically linked
// C++ runtime (a `.symver` line in our own sources could not). The wrappers call the same
// code under a version that every x86_64 glibc has.
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if !defined(__x86_64__) || !defined(__GLIBC__)
#error "the portable module build is for x86_64 glibc only"
#endif

extern "C" {

// glibc 2.34 moved the thread functions into libc under a new version; the 2.2.5 version
// (2.3.3 for pthread_condattr_setclock) is the same function (older glibc serves it from libpthread.so.0, which the module
// therefore lists as needed).
int vornu_pthread_create_v225(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int vornu_pthread_attr_setstacksize_v225(pthread_attr_t*, size_t);
int vornu_pthread_once_v225(pthread_once_t*, void (*)());
int vornu_pthread_condattr_setclock_v233(pthread_condattr_t*, clockid_t);
__asm__(".symver vornu_pthread_create_v225, pthread_create@GLIBC_2.2.5");
__asm__(".symver vornu_pthread_attr_setstacksize_v225, pthread_attr_setstacksize@GLIBC_2.2.5");
__asm__(".symver vornu_pthread_once_v225, pthread_once@GLIBC_2.2.5");
__asm__(".symver vornu_pthread_condattr_setclock_v233, pthread_condattr_setclock@GLIBC_2.3.3");

int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                          void* argument) {
    return vornu_pthread_create_v225(thread, attributes, start, argument);
}

int __wrap_pthread_attr_setstacksize(pthread_attr_t* attributes, size_t size) {
    return vornu_pthread_attr_setstacksize_v225(attributes, size);
}

int __wrap_pthread_once(pthread_once_t* control, void (*routine)()) {
    return vornu_pthread_once_v225(control, routine);
}

int __wrap_pthread_condattr_setclock(pthread_condattr_t* attributes, clockid_t clock) {
    return vornu_pthread_condattr_setclock_v233(attributes, clock);
}

// fstat64 became a libc function only in glibc 2.33 (before, an inline call of
// __fxstat64). On x86_64 the kernel's struct stat is glibc's struct stat64.
int __wrap_fstat64(int fd, struct stat64* status) {
    return static_cast<int>(syscall(SYS_fstat, fd, status));
}

// glibc 2.32 lets the C++ runtime skip atomic reference counts while a process has one
// thread. Never claiming that is always correct: the runtime then always uses atomics.
char __wrap___libc_single_threaded = 0;

}  // extern "C"
