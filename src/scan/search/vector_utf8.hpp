// The UTF-8 steps that the vector kernels share, written once over the vector width `W`
// (Sse2, Avx2 or Avx512 of vector_*.hpp; include this in the same target region as W's
// header): the check of a block of 64 bytes after Keiser and Lemire, with the tables of
// utf8_lookup_tables.hpp, and the skip over ASCII of the UTF-8 check of a piece.
#pragma once

#include "scan/search/utf8_lookup_tables.hpp"
#include "scan/text/utf8.hpp"

namespace vornu::vector_utf8 {

using namespace utf8_lookup;

// Non-zero bytes where `input`, preceded by `previous`, is not valid UTF-8.
template <class W>
[[gnu::always_inline]] inline typename W::Vector errors(typename W::Vector input, typename W::Vector previous) {
    using V = typename W::Vector;
    const V one_before = W::template earlier<1>(input, previous);
    const V special = W::bit_and(
        W::bit_and(W::look_up(W::load(first_high_lanes.entries), W::high_halves(one_before)),
                   W::look_up(W::load(first_low_lanes.entries), W::bit_and(one_before, W::bytes(0x0F)))),
        W::look_up(W::load(second_high_lanes.entries), W::high_halves(input)));
    // A byte two after a three- or four-byte lead, or three after a four-byte lead, must be
    // a continuation: exactly the places where the tables saw two continuations in a row.
    const V third = W::subtract_or_zero(W::template earlier<2>(input, previous), W::bytes(0xE0 - 0x80));
    const V fourth = W::subtract_or_zero(W::template earlier<3>(input, previous), W::bytes(0xF0 - 0x80));
    const V must_continue = W::bit_and(W::bit_or(third, fourth), W::bytes(0x80));
    return W::bit_xor(must_continue, special);
}

struct BlockCheck {
    bool valid;  // no error in the block, given the bytes before it
    bool cut;    // the block ends inside a character, so the next block must be checked
};

// Checks the 64 bytes of `block` (64 / W::width vectors), which the vector `previous`
// precedes. A lead byte among the last three that needs more bytes than are left means
// that the block ends inside a character.
template <class W>
[[gnu::always_inline]] inline BlockCheck check_block(const typename W::Vector* block, typename W::Vector previous) {
    constexpr int count = 64 / W::width;
    typename W::Vector found = errors<W>(block[0], previous);
    for (int i = 1; i < count; ++i) found = W::bit_or(found, errors<W>(block[i], block[i - 1]));
    const typename W::Vector cut = W::subtract_or_zero(block[count - 1], W::load(cut_limits.entries + 64 - W::width));
    return {!W::any_set(found), W::any_set(cut)};
}

// The first byte in [p, end) that is not ASCII, or `end`: 64 bytes a step, then words.
template <class W>
const unsigned char* skip_ascii(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 64) {
        typename W::Vector any = W::load(p);
        for (int i = W::width; i < 64; i += W::width) any = W::bit_or(any, W::load(p + i));
        if (W::any_top_bit(any)) break;
        p += 64;
    }
    return skip_ascii_words(p, end);
}

}  // namespace vornu::vector_utf8
