// The AVX-512 kernel: each block of 64 bytes costs one pair of loads and a few mask
// operations, unless it holds a place where a keyword may start or a byte outside ASCII.
#include "scan/search/kernels.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "scan/search/target_avx512_begin.hpp"
#include "scan/search/vector_avx512.hpp"
#include "scan/search/vector_utf8.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// Lanes 0 to n-1.
inline std::uint64_t first_lanes(std::ptrdiff_t n) {
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// The places of a block where a keyword may start: a pair "im" or "fr" after white space,
// the start of a line or a byte outside ASCII (a pair after a printable ASCII character,
// the great majority, can start no keyword), given the block's bytes and the bytes one
// after and one before them. The pairs are found as pair_second says.
inline std::uint64_t candidates_of(__m512i bytes, __m512i after, __m512i before) {
    const __m512i wanted = _mm512_shuffle_epi8(Avx512::load(pair_second_lanes.entries), bytes);
    return _mm512_mask_cmpeq_epi8_mask(~_mm512_cmpgt_epi8_mask(before, _mm512_set1_epi8(' ')), wanted, after);
}

struct Search {
    const Byte* begin;
    const Byte* end;
    Heads& heads;
};

// What the closer look at a block found: an invalid byte, or whether the block ends
// inside a character, which obliges the next block to be checked even if it is ASCII.
enum class BlockEnd : unsigned char { invalid, whole, cut };

// The rare work of a block: its UTF-8, where it holds bytes outside ASCII or a character
// goes on into it, and its candidates, sorted by what the block shows of their lines.
__attribute__((noinline)) BlockEnd look_closer(const Search& search, const Byte* p, __m512i bytes,
                                               std::uint64_t candidates, std::uint64_t non_ascii, bool check) {
    BlockEnd block_end = BlockEnd::whole;
    if (non_ascii != 0 || check) {
        const __m512i previous = p == search.begin ? _mm512_setzero_si512() : _mm512_loadu_si512(p - 64);
        const vector_utf8::BlockCheck block = vector_utf8::check_block<Avx512>(&bytes, previous);
        if (!block.valid) return BlockEnd::invalid;
        block_end = block.cut ? BlockEnd::cut : BlockEnd::whole;
    }
    if (candidates == 0) return block_end;
    const std::uint64_t line_feeds = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\n'));
    const std::uint64_t controls =  // tab to carriage return
        _mm512_cmple_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('\t')), _mm512_set1_epi8('\r' - '\t'));
    const std::uint64_t ascii_spaces = (controls & ~line_feeds) | _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(' '));
    collect_block_candidates(search.begin, search.end, p, candidates, ascii_spaces, line_feeds, non_ascii, search.heads);
    return block_end;
}

// A block at either edge of the text, read with masked loads: what lies outside the text
// reads as zero, which neither starts a keyword nor leaves ASCII, and after a character
// that the text's end cuts off is an error (or leaves the block cut, for the caller).
BlockEnd search_edge_block(const Search& search, const Byte* p, bool check) {
    const std::ptrdiff_t left = search.end - p;
    const std::uint64_t before_lanes = first_lanes(left + 1) & (p == search.begin ? ~std::uint64_t{1} : ~std::uint64_t{0});
    const __m512i bytes = _mm512_maskz_loadu_epi8(first_lanes(left), p);
    const std::uint64_t candidates = candidates_of(bytes, _mm512_maskz_loadu_epi8(first_lanes(left - 1), p + 1),
                                                   _mm512_maskz_loadu_epi8(before_lanes, p - 1));
    const std::uint64_t non_ascii = _mm512_movepi8_mask(bytes);
    if ((candidates | non_ascii) == 0 && !check) return BlockEnd::whole;
    return look_closer(search, p, bytes, candidates, non_ascii, check);
}

}  // namespace

Utf8Verdict find_imports_avx512(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    if (begin == end) return Utf8Verdict::valid;
    const Search search{begin, end, heads};
    BlockEnd block_end = search_edge_block(search, begin, false);
    const Byte* p = begin + 64;
    // Two blocks a round: most rounds end at one test of both.
    for (; end - p >= 129 && block_end != BlockEnd::invalid; p += 128) {
        const __m512i low = _mm512_loadu_si512(p);
        const __m512i high = _mm512_loadu_si512(p + 64);
        const std::uint64_t low_candidates = candidates_of(low, _mm512_loadu_si512(p + 1), _mm512_loadu_si512(p - 1));
        const std::uint64_t high_candidates =
            candidates_of(high, _mm512_loadu_si512(p + 65), _mm512_loadu_si512(p + 63));
        const std::uint64_t low_non_ascii = _mm512_movepi8_mask(low);
        const std::uint64_t high_non_ascii = _mm512_movepi8_mask(high);
        const bool check = block_end == BlockEnd::cut;
        if ((low_candidates | high_candidates | low_non_ascii | high_non_ascii | check) == 0) continue;
        if (low_candidates != 0 || low_non_ascii != 0 || check)
            block_end = look_closer(search, p, low, low_candidates, low_non_ascii, check);
        if (block_end == BlockEnd::invalid || ((high_candidates | high_non_ascii) == 0 && block_end == BlockEnd::whole))
            continue;
        block_end = look_closer(search, p + 64, high, high_candidates, high_non_ascii, block_end == BlockEnd::cut);
    }
    for (; end - p >= 65 && block_end != BlockEnd::invalid; p += 64) {
        const __m512i bytes = _mm512_loadu_si512(p);
        const std::uint64_t candidates =
            candidates_of(bytes, _mm512_loadu_si512(p + 1), _mm512_loadu_si512(p - 1));
        const std::uint64_t non_ascii = _mm512_movepi8_mask(bytes);
        const bool check = block_end == BlockEnd::cut;
        if ((candidates | non_ascii | static_cast<std::uint64_t>(check)) == 0) continue;
        block_end = look_closer(search, p, bytes, candidates, non_ascii, check);
    }
    if (p < end && block_end != BlockEnd::invalid) block_end = search_edge_block(search, p, block_end == BlockEnd::cut);
    // A character that the last block left unfinished is cut off by the end of the text.
    return Utf8Verdict{block_end == BlockEnd::whole};
}

Utf8Check check_piece_avx512(std::string_view text) { return check_utf8(text, &vector_utf8::skip_ascii<Avx512>); }

}  // namespace vornu

#include "scan/search/target_end.hpp"

#endif
