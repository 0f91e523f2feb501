// UTF-8 validation of 64 bytes at once with the lookup tables of utf8_lookup_tables.hpp.
// Included only inside an AVX-512 (F and BW) target region.
#pragma once

#include <immintrin.h>

#include "scan/search/utf8_lookup_tables.hpp"

namespace vornu::utf8_avx512 {

using namespace utf8_lookup;

#define VORNU_AVX512_INLINE __attribute__((always_inline)) inline

// A table repeated in each of the four 16-byte lanes, where the byte shuffles look it up.
struct LaneTable {
    alignas(64) char entries[64];
};

constexpr LaneTable in_every_lane(const char (&entries)[16]) {
    LaneTable table{};
    for (int i = 0; i < 64; ++i) table.entries[i] = entries[i % 16];
    return table;
}

inline constexpr LaneTable first_high_lanes = in_every_lane(first_high);
inline constexpr LaneTable first_low_lanes = in_every_lane(first_low);
inline constexpr LaneTable second_high_lanes = in_every_lane(second_high);

VORNU_AVX512_INLINE __m512i table(const LaneTable& lanes) { return _mm512_load_si512(lanes.entries); }

VORNU_AVX512_INLINE __m512i high_nibbles(__m512i bytes) {
    return _mm512_and_si512(_mm512_srli_epi16(bytes, 4), _mm512_set1_epi8(0x0F));
}

// The vector of the bytes N places earlier: the first N come from the end of `previous`.
// Byte shifts work within 16-byte lanes, so each lane is first paired with the one before.
template <int N>
VORNU_AVX512_INLINE __m512i earlier(__m512i input, __m512i previous) {
    const __m512i lanes_before = _mm512_permutex2var_epi64(previous, _mm512_setr_epi64(6, 7, 8, 9, 10, 11, 12, 13), input);
    return _mm512_alignr_epi8(input, lanes_before, 16 - N);
}

// Non-zero bytes where `input`, preceded by `previous`, is not valid UTF-8.
VORNU_AVX512_INLINE __m512i errors(__m512i input, __m512i previous) {
    const __m512i one_before = earlier<1>(input, previous);
    const __m512i special = _mm512_and_si512(
        _mm512_and_si512(_mm512_shuffle_epi8(table(first_high_lanes), high_nibbles(one_before)),
                         _mm512_shuffle_epi8(table(first_low_lanes), _mm512_and_si512(one_before, _mm512_set1_epi8(0x0F)))),
        _mm512_shuffle_epi8(table(second_high_lanes), high_nibbles(input)));
    // A byte two after a three- or four-byte lead, or three after a four-byte lead, must be
    // a continuation: exactly the places where the tables saw two continuations in a row.
    const __m512i third = _mm512_subs_epu8(earlier<2>(input, previous), _mm512_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m512i fourth = _mm512_subs_epu8(earlier<3>(input, previous), _mm512_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m512i must_continue = _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(static_cast<char>(0x80)));
    return _mm512_xor_si512(must_continue, special);
}

struct BlockCheck {
    bool valid;  // no error in the block, given the block before it
    bool cut;    // the block ends inside a character, so the next block must be checked
};

// Checks the 64 bytes `input`, which `previous` precedes: a lead byte among the last three
// that needs more bytes than are left means the block ends inside a character.
VORNU_AVX512_INLINE BlockCheck check_block(__m512i input, __m512i previous) {
    const __m512i limits = _mm512_inserti32x4(
        _mm512_set1_epi8(-1),
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                      static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1)),
        3);
    const __m512i found = errors(input, previous);
    return {_mm512_test_epi8_mask(found, found) == 0, _mm512_cmpgt_epu8_mask(input, limits) != 0};
}

#undef VORNU_AVX512_INLINE

}  // namespace vornu::utf8_avx512
