// The 128-bit vectors of SSE2, which every x86-64 processor runs, as the vector code shared
// by the kernels (vector_utf8.hpp) uses them.
#pragma once

#include <immintrin.h>

namespace vornu {

struct Sse2 {
    using Vector = __m128i;
    static constexpr int width = 16;

    static Vector load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static Vector bit_or(Vector a, Vector b) { return _mm_or_si128(a, b); }
    static bool any_top_bit(Vector v) { return _mm_movemask_epi8(v) != 0; }
};

}  // namespace vornu
