// The 256-bit vectors of AVX2 as the vector code shared by the kernels (vector_utf8.hpp)
// uses them. Included only inside an AVX2 target region.
#pragma once

#include <immintrin.h>

namespace vornu {

struct Avx2 {
    using Vector = __m256i;
    static constexpr int width = 32;

    [[gnu::always_inline]] static Vector load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    [[gnu::always_inline]] static Vector bytes(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }
    [[gnu::always_inline]] static Vector bit_and(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    [[gnu::always_inline]] static Vector bit_or(Vector a, Vector b) { return _mm256_or_si256(a, b); }
    [[gnu::always_inline]] static Vector bit_xor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
    [[gnu::always_inline]] static Vector subtract_or_zero(Vector a, Vector b) { return _mm256_subs_epu8(a, b); }
    [[gnu::always_inline]] static Vector high_halves(Vector v) {
        return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
    }
    // The byte of the 16-byte lane `table` that each byte's low half picks (0 for bytes over 0x7F).
    [[gnu::always_inline]] static Vector look_up(Vector table, Vector index) { return _mm256_shuffle_epi8(table, index); }
    // The bytes N places earlier: the first N come from the end of `previous`.
    template <int N>
    [[gnu::always_inline]] static Vector earlier(Vector input, Vector previous) {
        return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
    }
    [[gnu::always_inline]] static bool any_top_bit(Vector v) { return _mm256_movemask_epi8(v) != 0; }
    [[gnu::always_inline]] static bool any_set(Vector v) { return _mm256_testz_si256(v, v) == 0; }
};

}  // namespace vornu
