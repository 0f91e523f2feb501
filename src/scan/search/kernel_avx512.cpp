// The AVX-512 kernel: each block of 64 bytes costs one pair of loads and a few mask
// operations, unless it holds a place where a keyword may start or a byte outside ASCII.
#include "scan/search/kernels.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "scan/search/target_avx512_begin.hpp"
#include "scan/search/utf8_lookup_avx512.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// Lanes 0 to n-1.
inline std::uint64_t first_lanes(std::ptrdiff_t n) {
    return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// Where the pairs "im" and "fr" start, given the bytes and the bytes one after them. Both
// keywords begin with a pair that is rare elsewhere.
inline std::uint64_t pair_starts(__m512i bytes, __m512i after) {
    return (_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('i')) & _mm512_cmpeq_epi8_mask(after, _mm512_set1_epi8('m'))) |
           (_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('f')) & _mm512_cmpeq_epi8_mask(after, _mm512_set1_epi8('r')));
}

// The bytes of a block, the byte after each and the byte before each; zero where these
// fall outside the text (a zero neither starts a keyword nor leaves ASCII, and after a
// character that the text's end cuts off it is an error).
struct BlockBytes {
    __m512i bytes, after, before;
};

inline BlockBytes edge_block(const Byte* begin, const Byte* end, const Byte* p) {
    const std::ptrdiff_t left = end - p;
    const std::uint64_t before_lanes = first_lanes(left + 1) & (p == begin ? ~std::uint64_t{1} : ~std::uint64_t{0});
    return {_mm512_maskz_loadu_epi8(first_lanes(left), p), _mm512_maskz_loadu_epi8(first_lanes(left - 1), p + 1),
            _mm512_maskz_loadu_epi8(before_lanes, p - 1)};
}

struct Search {
    const Byte* begin;
    const Byte* end;
    Heads& heads;
    bool check_next = false;  // the block before ended inside a character
};

// The rare work of a block: its UTF-8, where it holds bytes outside ASCII or a character
// goes on into it, and the pairs that follow white space, the start of a line or a byte
// outside ASCII (a pair after a printable ASCII character can start no keyword), sorted by
// what the block shows of their lines.
__attribute__((noinline)) bool look_closer(Search& search, const Byte* p, const BlockBytes& block,
                                           std::uint64_t pairs, std::uint64_t non_ascii) {
    if (non_ascii != 0 || search.check_next) {
        const __m512i previous = p == search.begin ? _mm512_setzero_si512() : _mm512_loadu_si512(p - 64);
        const utf8_avx512::BlockCheck check = utf8_avx512::check_block(block.bytes, previous);
        if (!check.valid) return false;
        search.check_next = check.cut;
    }
    const std::uint64_t candidates = pairs & ~_mm512_cmpgt_epi8_mask(block.before, _mm512_set1_epi8(' '));
    if (candidates == 0) return true;
    const std::uint64_t line_feeds = _mm512_cmpeq_epi8_mask(block.bytes, _mm512_set1_epi8('\n'));
    const std::uint64_t controls =  // tab to carriage return
        _mm512_cmple_epu8_mask(_mm512_sub_epi8(block.bytes, _mm512_set1_epi8('\t')), _mm512_set1_epi8('\r' - '\t'));
    const std::uint64_t ascii_spaces = (controls & ~line_feeds) | _mm512_cmpeq_epi8_mask(block.bytes, _mm512_set1_epi8(' '));
    check_block_candidates(search.begin, search.end, p, candidates, ascii_spaces, line_feeds, non_ascii, search.heads);
    return true;
}

bool search_block(Search& search, const Byte* p, const BlockBytes& block) {
    const std::uint64_t pairs = pair_starts(block.bytes, block.after);
    const std::uint64_t non_ascii = _mm512_movepi8_mask(block.bytes);
    return ((pairs | non_ascii) == 0 && !search.check_next) || look_closer(search, p, block, pairs, non_ascii);
}

const Byte* skip_ascii_avx512(const Byte* p, const Byte* end) {
    while (end - p >= 64 && _mm512_movepi8_mask(_mm512_loadu_si512(p)) == 0) p += 64;
    return skip_ascii_words(p, end);
}

}  // namespace

Utf8Verdict find_imports_avx512(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    if (begin == end) return Utf8Verdict::valid;
    Search search{begin, end, heads};
    if (!search_block(search, begin, edge_block(begin, end, begin))) return Utf8Verdict::invalid;
    const Byte* p = begin + 64;
    for (; end - p >= 65; p += 64) {
        const __m512i bytes = _mm512_loadu_si512(p);
        const __m512i after = _mm512_loadu_si512(p + 1);
        const std::uint64_t pairs = pair_starts(bytes, after);
        const std::uint64_t non_ascii = _mm512_movepi8_mask(bytes);
        if ((pairs | non_ascii) == 0 && !search.check_next) continue;
        if (!look_closer(search, p, BlockBytes{bytes, after, _mm512_loadu_si512(p - 1)}, pairs, non_ascii))
            return Utf8Verdict::invalid;
    }
    if (p < end && !search_block(search, p, edge_block(begin, end, p))) return Utf8Verdict::invalid;
    // A character that the last block left unfinished is cut off by the end of the text.
    return Utf8Verdict{!search.check_next};
}

Utf8Check check_utf8_avx512(std::string_view text) { return check_utf8(text, &skip_ascii_avx512); }

}  // namespace vornu

#include "scan/search/target_end.hpp"

#endif
