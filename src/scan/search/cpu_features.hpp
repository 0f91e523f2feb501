// What the processor can run, asked once per process.
#pragma once

namespace vornu {

struct CpuFeatures {
    bool avx2 = false;
    bool avx512bw = false;  // 512-bit byte operations, with the OS saving the registers
};

inline const CpuFeatures& cpu_features() {
    static const CpuFeatures features = [] {
        CpuFeatures found;
#if defined(__x86_64__)
        __builtin_cpu_init();
        found.avx2 = __builtin_cpu_supports("avx2") != 0;
        found.avx512bw = __builtin_cpu_supports("avx512bw") != 0;
#endif
        return found;
    }();
    return features;
}

}  // namespace vornu
