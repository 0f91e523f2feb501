// Opens a region whose functions are compiled for AVX-512 with byte and word instructions
// (closed by target_end.hpp). Include it after every other header, so that nothing shared
// with the rest of the library is compiled for instructions that the processor may lack.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt")
#endif
