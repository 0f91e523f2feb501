// The AVX2 kernel: one pass over 64-byte blocks finds the places where a keyword may start
// and checks the UTF-8 of the blocks that hold bytes outside ASCII.
#include "scan/search/kernels.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "scan/search/target_avx2_begin.hpp"
#include "scan/search/utf8_lookup_avx2.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// Where the pairs "im" and "fr" start in a vector (0xFF bytes), given the vector of the
// bytes one after. Both keywords begin with a pair that is rare elsewhere.
inline __m256i pair_bytes(__m256i first, __m256i second) {
    const __m256i im = _mm256_and_si256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('i')),
                                        _mm256_cmpeq_epi8(second, _mm256_set1_epi8('m')));
    const __m256i fr = _mm256_and_si256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('f')),
                                        _mm256_cmpeq_epi8(second, _mm256_set1_epi8('r')));
    return _mm256_or_si256(im, fr);
}

// The pairs that may start a keyword, given also the vector of the bytes one before. A
// keyword counts only after white space or at a line's start, so a pair after a printable
// ASCII character (the great majority: "time", "self.from_") is dropped; after any other
// byte it stays a candidate, and the candidate check decides.
inline __m256i candidate_bytes(__m256i before, __m256i first, __m256i second) {
    const __m256i printable_before = _mm256_cmpgt_epi8(before, _mm256_set1_epi8(' '));
    return _mm256_andnot_si256(printable_before, pair_bytes(first, second));
}

// One block of 64 positions, for `block` with its bytes, the one before and the one after
// readable: its bytes, and where candidates start (0xFF bytes).
struct BlockVectors {
    __m256i low, high;
    __m256i low_candidates, high_candidates;
};

inline BlockVectors load_block(const Byte* block) {
    const auto* v = reinterpret_cast<const __m256i*>(block);
    const auto* w = reinterpret_cast<const __m256i*>(block + 1);
    const auto* u = reinterpret_cast<const __m256i*>(block - 1);
    const __m256i low = _mm256_loadu_si256(v);
    const __m256i high = _mm256_loadu_si256(v + 1);
    return {low, high, candidate_bytes(_mm256_loadu_si256(u), low, _mm256_loadu_si256(w)),
            candidate_bytes(_mm256_loadu_si256(u + 1), high, _mm256_loadu_si256(w + 1))};
}

// The cheap first test of a block: any pair "im" or "fr", wherever it stands, or any byte
// outside ASCII. Both show in the top bit of a byte, so one mask answers. Most blocks
// fail it and need nothing more; the byte before each pair is looked at only for the rest.
inline bool may_need_look(const Byte* block) {
    const auto* v = reinterpret_cast<const __m256i*>(block);
    const auto* w = reinterpret_cast<const __m256i*>(block + 1);
    const __m256i low = _mm256_loadu_si256(v);
    const __m256i high = _mm256_loadu_si256(v + 1);
    const __m256i marks = _mm256_or_si256(
        _mm256_or_si256(pair_bytes(low, _mm256_loadu_si256(w)), pair_bytes(high, _mm256_loadu_si256(w + 1))),
        _mm256_or_si256(low, high));
    return _mm256_movemask_epi8(marks) != 0;
}

// The block's candidates (bit k for position k), and its bytes outside ASCII.
struct BlockBits {
    std::uint64_t candidates;
    std::uint64_t non_ascii;
};

inline std::uint64_t mask_of(__m256i low, __m256i high) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

inline BlockBits bits_of(const BlockVectors& block) {
    return {mask_of(block.low_candidates, block.high_candidates), mask_of(block.low, block.high)};
}

// ASCII white space but for the line feed, and line feeds (bit k for position k).
inline std::uint64_t ascii_spaces_of(__m256i bytes) {
    const __m256i controls = _mm256_cmpeq_epi8(_mm256_max_epu8(_mm256_sub_epi8(bytes, _mm256_set1_epi8('\t')),
                                                               _mm256_set1_epi8('\r' - '\t')),
                                               _mm256_set1_epi8('\r' - '\t'));
    const __m256i spaces = _mm256_or_si256(
        _mm256_andnot_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')), controls),
        _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(spaces));
}

inline std::uint64_t line_feeds_of(__m256i bytes) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n'))));
}

// The state of one search: the text, the names, and whether the block before ended inside
// a character, which obliges the next block to be checked even if it is pure ASCII.
struct Search {
    const Byte* begin;
    const Byte* end;
    Heads& heads;
    bool check_next = false;
};

// The rare work of a block at `p`, read at `block` (the same bytes, or a copy with the 32
// bytes before it): checking its UTF-8, and its candidates. Returns false at an invalid byte.
bool handle_block(Search& search, const Byte* p, const Byte* block, BlockBits bits) {
    if (bits.non_ascii != 0 || search.check_next) {
        const utf8_avx2::BlockCheck check = utf8_avx2::check_block(block);
        if (!check.valid) return false;
        search.check_next = check.cut;
    }
    if (bits.candidates == 0) return true;
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    const std::uint64_t ascii_spaces = ascii_spaces_of(low) | ascii_spaces_of(high) << 32;
    const std::uint64_t line_feeds = line_feeds_of(low) | line_feeds_of(high) << 32;
    collect_block_candidates(search.begin, search.end, p, bits.candidates, ascii_spaces, line_feeds, bits.non_ascii,
                           search.heads);
    return true;
}

// A block at either edge of the text: copied after the 32 bytes before it (a line feed
// stands before the text, which starts a line) and before zeros, which neither start a
// keyword nor leave ASCII. A character that the text's end cuts off either meets a zero
// inside the block or leaves `check_next` set.
bool search_edge_block(Search& search, const Byte* p) {
    alignas(32) Byte copy[160] = {};
    if (p == search.begin) copy[31] = '\n';
    else std::memcpy(copy, p - 32, 32);
    const auto length = static_cast<std::size_t>(std::min<std::ptrdiff_t>(search.end - p, 65));
    std::memcpy(copy + 32, p, length);
    const BlockVectors block = load_block(copy + 32);
    const BlockBits bits = bits_of(block);
    return (bits.candidates == 0 && bits.non_ascii == 0 && !search.check_next) ||
           handle_block(search, p, copy + 32, bits);
}

const Byte* skip_ascii_avx2(const Byte* p, const Byte* end) {
    while (end - p >= 64) {
        const auto* v = reinterpret_cast<const __m256i*>(p);
        const __m256i any = _mm256_or_si256(_mm256_loadu_si256(v), _mm256_loadu_si256(v + 1));
        if (_mm256_movemask_epi8(any) != 0) break;
        p += 64;
    }
    return skip_ascii_words(p, end);
}

}  // namespace

Utf8Verdict find_imports_avx2(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    if (begin == end) return Utf8Verdict::valid;
    Search search{begin, end, heads};
    if (!search_edge_block(search, begin)) return Utf8Verdict::invalid;
    const Byte* p = begin + 64;
    for (; end - p >= 65; p += 64) {
        if (!may_need_look(p) && !search.check_next) continue;
        const BlockVectors block = load_block(p);
        const BlockBits bits = bits_of(block);
        if (bits.candidates == 0 && bits.non_ascii == 0 && !search.check_next) continue;
        if (!handle_block(search, p, p, bits)) return Utf8Verdict::invalid;
    }
    if (p < end && !search_edge_block(search, p)) return Utf8Verdict::invalid;
    // A character that the last block left unfinished is cut off by the end of the text.
    return Utf8Verdict{!search.check_next};
}

Utf8Check check_piece_avx2(std::string_view text) {
    return check_utf8(text, &skip_ascii_avx2);
}

}  // namespace vornu

#include "scan/search/target_end.hpp"

#endif
