// UTF-8 validation of 32 bytes at once with the lookup tables of utf8_lookup_tables.hpp.
// Included only inside an AVX2 target region.
#pragma once

#include <immintrin.h>

#include "scan/search/utf8_lookup_tables.hpp"

namespace vornu::utf8_avx2 {

using namespace utf8_lookup;

#define VORNU_AVX2_INLINE __attribute__((always_inline)) inline

VORNU_AVX2_INLINE __m256i table(const char (&entries)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

VORNU_AVX2_INLINE __m256i high_nibbles(__m256i bytes) {
    return _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
}

// The vector of the bytes N places earlier: the first N come from the end of `previous`.
template <int N>
VORNU_AVX2_INLINE __m256i earlier(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// Non-zero bytes where `input`, preceded by `previous`, is not valid UTF-8.
VORNU_AVX2_INLINE __m256i errors(__m256i input, __m256i previous) {
    const __m256i one_before = earlier<1>(input, previous);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(table(first_high), high_nibbles(one_before)),
                         _mm256_shuffle_epi8(table(first_low), _mm256_and_si256(one_before, _mm256_set1_epi8(0x0F)))),
        _mm256_shuffle_epi8(table(second_high), high_nibbles(input)));
    // A byte two after a three- or four-byte lead, or three after a four-byte lead, must be
    // a continuation: exactly the places where the tables saw two continuations in a row.
    const __m256i third = _mm256_subs_epu8(earlier<2>(input, previous), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(earlier<3>(input, previous), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must_continue = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must_continue, special);
}

// Non-zero if the vector ends inside a character: a lead byte among its last three bytes
// that needs more bytes than are left.
VORNU_AVX2_INLINE __m256i cut_at_end(__m256i input) {
    const __m256i limits = _mm256_setr_epi8(
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
        static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    return _mm256_subs_epu8(input, limits);
}

struct BlockCheck {
    bool valid;     // no error in the block, given the 32 bytes before it
    bool cut;       // the block ends inside a character, so the next block must be checked
};

// Checks the 64 bytes at `block`, whose 32 bytes before are readable.
VORNU_AVX2_INLINE BlockCheck check_block(const unsigned char* block) {
    const auto* v = reinterpret_cast<const __m256i*>(block);
    const __m256i before = _mm256_loadu_si256(v - 1);
    const __m256i low = _mm256_loadu_si256(v);
    const __m256i high = _mm256_loadu_si256(v + 1);
    const __m256i found = _mm256_or_si256(errors(low, before), errors(high, low));
    const __m256i cut = cut_at_end(high);
    return {_mm256_testz_si256(found, found) != 0, _mm256_testz_si256(cut, cut) == 0};
}

#undef VORNU_AVX2_INLINE

}  // namespace vornu::utf8_avx2
