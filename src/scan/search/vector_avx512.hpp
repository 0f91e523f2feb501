// The 512-bit vectors of AVX-512 (F and BW) as the vector code shared by the kernels
// (vector_utf8.hpp) uses them. Included only inside an AVX-512 target region.
#pragma once

#include <immintrin.h>

namespace vornu {

struct Avx512 {
    using Vector = __m512i;
    static constexpr int width = 64;

    [[gnu::always_inline]] static Vector load(const void* p) { return _mm512_loadu_si512(p); }
    [[gnu::always_inline]] static Vector bytes(int value) { return _mm512_set1_epi8(static_cast<char>(value)); }
    [[gnu::always_inline]] static Vector bit_and(Vector a, Vector b) { return _mm512_and_si512(a, b); }
    [[gnu::always_inline]] static Vector bit_or(Vector a, Vector b) { return _mm512_or_si512(a, b); }
    [[gnu::always_inline]] static Vector bit_xor(Vector a, Vector b) { return _mm512_xor_si512(a, b); }
    [[gnu::always_inline]] static Vector subtract_or_zero(Vector a, Vector b) { return _mm512_subs_epu8(a, b); }
    [[gnu::always_inline]] static Vector high_halves(Vector v) {
        return _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi8(0x0F));
    }
    // The byte of the 16-byte lane `table` that each byte's low half picks (0 for bytes over 0x7F).
    [[gnu::always_inline]] static Vector look_up(Vector table, Vector index) { return _mm512_shuffle_epi8(table, index); }
    // The bytes N places earlier: the first N come from the end of `previous`. Byte shifts
    // work within 16-byte lanes, so each lane is first paired with the one before.
    template <int N>
    [[gnu::always_inline]] static Vector earlier(Vector input, Vector previous) {
        const __m512i lanes_before =
            _mm512_permutex2var_epi64(previous, _mm512_setr_epi64(6, 7, 8, 9, 10, 11, 12, 13), input);
        return _mm512_alignr_epi8(input, lanes_before, 16 - N);
    }
    [[gnu::always_inline]] static bool any_top_bit(Vector v) { return _mm512_movepi8_mask(v) != 0; }
    [[gnu::always_inline]] static bool any_set(Vector v) { return _mm512_test_epi8_mask(v, v) != 0; }
};

}  // namespace vornu
