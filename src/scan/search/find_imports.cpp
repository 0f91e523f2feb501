#include "scan/search/find_imports.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "scan/search/cpu_features.hpp"
#include "scan/text/ident_chars.hpp"
#include "scan/text/import_line.hpp"
#include "scan/text/unicode_space.hpp"
#include "scan/text/utf8.hpp"
#include "scan/search/utf8_lookup_avx2.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// True if only white space stands between the start of the line and `p`. Walks back one
// character at a time; in valid UTF-8 a character's last byte leads back to its first.
bool only_space_before(const Byte* begin, const Byte* p) {
    while (p > begin) {
        const Byte b = p[-1];
        if (b == '\n') return true;
        if (b == ' ' || b == '\t' || b == '\r' || b == '\v' || b == '\f') {
            --p;
            continue;
        }
        if (b < 0x80) return false;
        const Byte* first = p - 1;
        while (first > begin && p - first < 4 && (*first & 0xC0) == 0x80) --first;
        if (space_length_at(first, p) != static_cast<std::size_t>(p - first)) return false;
        p = first;
    }
    return true;
}

// `p` holds "im" or "fr"; report the line's name if the line's first word is a keyword.
// The usual import line (spaces or tabs, an ASCII name, then a full stop, an ASCII space
// or the line's end) is read right here; anything else goes to the full recogniser.
void check_candidate(const Byte* begin, const Byte* end, const Byte* p,
                     std::vector<std::string_view>& heads) {
    const auto left = static_cast<std::size_t>(end - p);
    const bool is_import = p[0] == 'i';
    const bool keyword = is_import
        ? left >= 7 && p[2] == 'p' && p[3] == 'o' && p[4] == 'r' && p[5] == 't' && p[6] == ' '
        : left >= 5 && p[2] == 'o' && p[3] == 'm' && p[4] == ' ';
    if (!keyword || !only_space_before(begin, p)) return;

    const Byte* token = p + (is_import ? 7 : 5);
    while (token < end && (*token == ' ' || *token == '\t')) ++token;
    if (token == end || *token == '\n') return;
    if (ident_start[*token]) {
        const Byte* stop = token + 1;
        while (stop < end && ident_rest[*stop]) ++stop;
        if (stop == end || *stop == '.' || *stop == ' ' || *stop == '\n' || *stop == '\r' || *stop == '\t') {
            heads.emplace_back(reinterpret_cast<const char*>(token), static_cast<std::size_t>(stop - token));
            return;
        }
        if (*stop < 0x80 && *stop != '\v' && *stop != '\f') return;  // a character no name holds
    } else if (*token < 0x80 && *token != '\r' && *token != '\v' && *token != '\f') {
        return;  // a token that starts with a character no name starts with
    }

    // White space other than spaces and tabs, or a character outside ASCII.
    const void* line_feed = std::memchr(p, '\n', left);
    const Byte* line_end = line_feed ? static_cast<const Byte*>(line_feed) : end;
    const LineVerdict verdict = recognise_line(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(line_end - p)),
        true);
    if (verdict.kind == LineVerdict::name) heads.push_back(verdict.head);
}

bool is_candidate_pair(const Byte* p) {
    return (p[0] == 'i' && p[1] == 'm') || (p[0] == 'f' && p[1] == 'r');
}

// Both keywords begin with a pair of letters that is rare in other places ("im", "fr"),
// so a whole block of positions is ruled out at a time.
#if defined(__x86_64__)
// Where the pairs "im" and "fr" start in a vector (0xFF bytes), given the vector of the
// bytes one after.
__attribute__((target("avx2"), always_inline)) inline __m256i pair_bytes(__m256i first, __m256i second) {
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
__attribute__((target("avx2"), always_inline)) inline __m256i candidate_bytes(__m256i before, __m256i first,
                                                                              __m256i second) {
    const __m256i printable_before = _mm256_cmpgt_epi8(before, _mm256_set1_epi8(' '));
    return _mm256_andnot_si256(printable_before, pair_bytes(first, second));
}

// One block of 64 positions, for `block` with its bytes, the one before and the one after
// readable: its bytes, and where candidates start (0xFF bytes).
struct BlockVectors {
    __m256i low, high;
    __m256i low_candidates, high_candidates;
};

__attribute__((target("avx2"), always_inline)) inline BlockVectors load_block_avx2(const Byte* block) {
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
__attribute__((target("avx2"), always_inline)) inline bool may_need_look_avx2(const Byte* block) {
    const auto* v = reinterpret_cast<const __m256i*>(block);
    const auto* w = reinterpret_cast<const __m256i*>(block + 1);
    const __m256i low = _mm256_loadu_si256(v);
    const __m256i high = _mm256_loadu_si256(v + 1);
    const __m256i marks = _mm256_or_si256(
        _mm256_or_si256(pair_bytes(low, _mm256_loadu_si256(w)), pair_bytes(high, _mm256_loadu_si256(w + 1))),
        _mm256_or_si256(low, high));
    return _mm256_movemask_epi8(marks) != 0;
}

// Whether the block needs a closer look: candidates or bytes outside ASCII.
__attribute__((target("avx2"), always_inline)) inline bool needs_look(const BlockVectors& block) {
    const __m256i marks = _mm256_or_si256(_mm256_or_si256(block.low_candidates, block.high_candidates),
                                          _mm256_or_si256(block.low, block.high));
    return _mm256_movemask_epi8(marks) != 0;
}

// The block's candidates (bit k for position k), and whether a byte is not ASCII.
struct BlockBits {
    std::uint64_t candidates;
    bool non_ascii;
};

__attribute__((target("avx2"), always_inline)) inline BlockBits bits_of(const BlockVectors& block) {
    const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(block.low_candidates));
    const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(block.high_candidates));
    return {low | std::uint64_t{high} << 32, _mm256_movemask_epi8(_mm256_or_si256(block.low, block.high)) != 0};
}

// The state of one search: the text, the names, and whether the block before ended inside
// a character, which obliges the next block to be checked even if it is pure ASCII.
struct Search {
    const Byte* begin;
    const Byte* end;
    std::vector<std::string_view>& heads;
    bool check_next = false;
};

// The rare work of a block at `p`, read at `block` (the same bytes, or a copy with the 32
// bytes before it): checking its UTF-8, and its candidates. Returns false at an invalid byte.
__attribute__((target("avx2"))) bool handle_block(Search& search, const Byte* p, const Byte* block,
                                                  BlockBits bits) {
    if (bits.non_ascii || search.check_next) {
        const utf8_avx2::BlockCheck check = utf8_avx2::check_block(block);
        if (!check.valid) return false;
        search.check_next = check.cut;
    }
    for (std::uint64_t candidates = bits.candidates; candidates != 0; candidates &= candidates - 1)
        check_candidate(search.begin, search.end, p + std::countr_zero(candidates), search.heads);
    return true;
}

// A block at either edge of the text: copied after the 32 bytes before it (a line feed
// stands before the text, which starts a line) and before zeros, which neither start a
// keyword nor leave ASCII, and which make a character cut by the end of the text invalid.
__attribute__((target("avx2"))) bool search_edge_block_avx2(Search& search, const Byte* p) {
    alignas(32) Byte copy[160] = {};
    if (p == search.begin) copy[31] = '\n';
    else std::memcpy(copy, p - 32, 32);
    const auto length = static_cast<std::size_t>(std::min<std::ptrdiff_t>(search.end - p, 65));
    std::memcpy(copy + 32, p, length);
    const BlockVectors block = load_block_avx2(copy + 32);
    return (!needs_look(block) && !search.check_next) || handle_block(search, p, copy + 32, bits_of(block));
}

// Searches and checks the whole text, stopping early at an invalid byte.
__attribute__((target("avx2"))) bool search_avx2(const Byte* begin, const Byte* end,
                                                 std::vector<std::string_view>& heads) {
    Search search{begin, end, heads};
    if (begin == end) return true;
    if (!search_edge_block_avx2(search, begin)) return false;
    const Byte* p = begin + 64;
    for (; end - p >= 65; p += 64) {
        if (!may_need_look_avx2(p) && !search.check_next) continue;
        const BlockVectors block = load_block_avx2(p);
        if ((needs_look(block) || search.check_next) && !handle_block(search, p, p, bits_of(block)))
            return false;
    }
    return p >= end || search_edge_block_avx2(search, p);
}

const Byte* search_blocks_sse2(const Byte* begin, const Byte* end,
                               std::vector<std::string_view>& heads) {
    const __m128i letter_i = _mm_set1_epi8('i');
    const __m128i letter_m = _mm_set1_epi8('m');
    const __m128i letter_f = _mm_set1_epi8('f');
    const __m128i letter_r = _mm_set1_epi8('r');
    const Byte* p = begin;
    while (end - p >= 17) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i im = _mm_and_si128(_mm_cmpeq_epi8(first, letter_i), _mm_cmpeq_epi8(second, letter_m));
        const __m128i fr = _mm_and_si128(_mm_cmpeq_epi8(first, letter_f), _mm_cmpeq_epi8(second, letter_r));
        auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(im, fr)));
        while (bits != 0) {
            check_candidate(begin, end, p + std::countr_zero(bits), heads);
            bits &= bits - 1;
        }
        p += 16;
    }
    return p;
}
#endif

}  // namespace

bool find_imports(std::string_view text, std::vector<std::string_view>& heads) {
    return find_imports(text, heads, SearchWidth::widest);
}

bool find_imports(std::string_view text, std::vector<std::string_view>& heads, SearchWidth width) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    const Byte* p = begin;
#if defined(__x86_64__)
    if (width == SearchWidth::widest && cpu_has_avx2()) return search_avx2(begin, end, heads);
    if (width != SearchWidth::bytes) p = search_blocks_sse2(begin, end, heads);
#else
    (void)width;
#endif
    for (; end - p >= 2; ++p)
        if (is_candidate_pair(p)) check_candidate(begin, end, p, heads);
    return is_valid_utf8(text);
}

}  // namespace vornu
