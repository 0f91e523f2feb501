#pragma once

namespace vornu {

// True if the processor runs AVX2 code; the hot byte loops pick their widest form once.
inline bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace vornu
