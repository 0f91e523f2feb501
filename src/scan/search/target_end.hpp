// Closes the region opened by a target_*_begin.hpp.
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
