// The AVX2 kernel: a round of 128 bytes costs two loads and three operations per 32 bytes
// and one test, unless it holds a pair that may start a keyword or a byte outside ASCII;
// only such blocks of 64 bytes are looked at closer.
#include "scan/search/kernels.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "scan/search/target_avx2_begin.hpp"
#include "scan/search/vector_avx2.hpp"
#include "scan/search/vector_utf8.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// The pairs "im" and "fr" among 32 bytes at `p` (0xFF bytes where they start), and a few
// false ones (see pair_second).
inline __m256i pairs_at(const Byte* p, __m256i bytes) {
    const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(Avx2::load(pair_second_lanes.entries), bytes), after);
}

// The bytes of 32 at `p` that follow a printable ASCII character (0xFF). A pair there (the
// great majority: "time", "self.from_") starts no keyword.
inline std::uint32_t after_printable_at(const Byte* p) {
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(before, _mm256_set1_epi8(' '))));
}

inline std::uint64_t mask_of(__m256i low, __m256i high) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

// A block of 64 positions: where pairs start, and its bytes outside ASCII.
struct BlockBits {
    std::uint64_t pairs;
    std::uint64_t non_ascii;
};

// The block at `p`, whose byte before and 64 bytes after are readable.
inline BlockBits bits_at(const Byte* p) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {mask_of(pairs_at(p, low), pairs_at(p + 32, high)), mask_of(low, high)};
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

struct Search {
    const Byte* begin;
    const Byte* end;
    Heads& heads;
};

// What the closer look at a block found: an invalid byte, or whether the block ends
// inside a character, which obliges the next block to be checked even if it is ASCII.
enum class BlockEnd : unsigned char { invalid, whole, cut };

// The rare work of a block at `p`, read at `block` (the same bytes, or a copy with the 32
// bytes before it): its UTF-8, where it holds bytes outside ASCII or a character goes on
// into it, and its candidates, sorted by what the block shows of their lines.
__attribute__((noinline)) BlockEnd look_closer(const Search& search, const Byte* p, const Byte* block, BlockBits bits,
                                               bool check) {
    BlockEnd block_end = BlockEnd::whole;
    if (bits.non_ascii != 0 || check) {
        const __m256i vectors[2] = {Avx2::load(block), Avx2::load(block + 32)};
        const vector_utf8::BlockCheck utf8 = vector_utf8::check_block<Avx2>(vectors, Avx2::load(block - 32));
        if (!utf8.valid) return BlockEnd::invalid;
        block_end = utf8.cut ? BlockEnd::cut : BlockEnd::whole;
    }
    // A keyword starts only after white space, at a line's start or after a byte outside ASCII.
    const std::uint64_t candidates =
        bits.pairs & ~(after_printable_at(block) | std::uint64_t{after_printable_at(block + 32)} << 32);
    if (candidates == 0) return block_end;
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    const std::uint64_t ascii_spaces = ascii_spaces_of(low) | ascii_spaces_of(high) << 32;
    const std::uint64_t line_feeds = line_feeds_of(low) | line_feeds_of(high) << 32;
    collect_block_candidates(search.begin, search.end, p, candidates, ascii_spaces, line_feeds, bits.non_ascii,
                             search.heads);
    return block_end;
}

// A block at either edge of the text: copied after the 32 bytes before it (a line feed
// stands before the text, which starts a line) and before zeros, which neither start a
// keyword nor leave ASCII. A character that the text's end cuts off either meets a zero
// inside the block or leaves the block cut.
BlockEnd search_edge_block(const Search& search, const Byte* p, bool check) {
    alignas(32) Byte copy[160] = {};
    if (p == search.begin) copy[31] = '\n';
    else std::memcpy(copy, p - 32, 32);
    const auto length = static_cast<std::size_t>(std::min<std::ptrdiff_t>(search.end - p, 65));
    std::memcpy(copy + 32, p, length);
    const BlockBits bits = bits_at(copy + 32);
    if ((bits.pairs | bits.non_ascii) == 0 && !check) return BlockEnd::whole;
    return look_closer(search, p, copy + 32, bits, check);
}

// The blocks from `p` on while 64 bytes and one more are left, two a round: most rounds
// end at one test of both. `block_end` tells how the block before ended (whole or cut): a
// block that a character runs into is looked at even if it is all ASCII.
BlockEnd search_blocks(const Search& search, const Byte*& p, BlockEnd block_end) {
    for (auto rounds = (search.end - p - 1) / 128; rounds > 0; --rounds, p += 128) {
        const auto* v = reinterpret_cast<const __m256i*>(p);
        const __m256i b0 = _mm256_loadu_si256(v), b1 = _mm256_loadu_si256(v + 1);
        const __m256i b2 = _mm256_loadu_si256(v + 2), b3 = _mm256_loadu_si256(v + 3);
        const __m256i c0 = pairs_at(p, b0), c1 = pairs_at(p + 32, b1);
        const __m256i c2 = pairs_at(p + 64, b2), c3 = pairs_at(p + 96, b3);
        // Pairs are 0xFF bytes, bytes outside ASCII have their top bit: one mask shows both.
        const __m256i low_marks = _mm256_or_si256(_mm256_or_si256(c0, c1), _mm256_or_si256(b0, b1));
        const __m256i high_marks = _mm256_or_si256(_mm256_or_si256(c2, c3), _mm256_or_si256(b2, b3));
        const auto cut = static_cast<unsigned>(block_end == BlockEnd::cut);
        if ((static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(low_marks, high_marks))) | cut) == 0) continue;
        if ((static_cast<unsigned>(_mm256_movemask_epi8(low_marks)) | cut) != 0) {
            block_end = look_closer(search, p, p, {mask_of(c0, c1), mask_of(b0, b1)}, cut != 0);
            if (block_end == BlockEnd::invalid) return block_end;
        }
        if (_mm256_movemask_epi8(high_marks) != 0 || block_end == BlockEnd::cut) {
            block_end = look_closer(search, p + 64, p + 64, {mask_of(c2, c3), mask_of(b2, b3)}, block_end == BlockEnd::cut);
            if (block_end == BlockEnd::invalid) return block_end;
        }
    }
    for (; search.end - p >= 65 && block_end != BlockEnd::invalid; p += 64) {
        const BlockBits bits = bits_at(p);
        if ((bits.pairs | bits.non_ascii) != 0 || block_end == BlockEnd::cut)
            block_end = look_closer(search, p, p, bits, block_end == BlockEnd::cut);
    }
    return block_end;
}

}  // namespace

Utf8Verdict find_imports_avx2(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    if (begin == end) return Utf8Verdict::valid;
    const Search search{begin, end, heads};
    BlockEnd block_end = search_edge_block(search, begin, false);
    if (block_end == BlockEnd::invalid) return Utf8Verdict::invalid;
    const Byte* p = begin + 64;
    block_end = search_blocks(search, p, block_end);
    if (p < end && block_end != BlockEnd::invalid) block_end = search_edge_block(search, p, block_end == BlockEnd::cut);
    // A character that the last block left unfinished is cut off by the end of the text.
    return Utf8Verdict{block_end == BlockEnd::whole};
}

Utf8Check check_piece_avx2(std::string_view text) { return check_utf8(text, &vector_utf8::skip_ascii<Avx2>); }

}  // namespace vornu

#include "scan/search/target_end.hpp"

#endif
