// The closer look at a place where "import " or "from " may begin a line.
#include "scan/search/candidate.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "scan/text/ident_chars.hpp"
#include "scan/text/import_line.hpp"
#include "scan/text/unicode_space.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// True if only white space stands between the start of the line and `p`. Walks back over
// runs of eight spaces (indentation), then one character at a time; in valid UTF-8 a
// character's last byte leads back to its first.
bool only_space_before(const Byte* begin, const Byte* p) {
    constexpr std::uint64_t eight_spaces = 0x2020202020202020;
    for (std::uint64_t word; p - begin >= 8 && (std::memcpy(&word, p - 8, 8), word == eight_spaces);) p -= 8;
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

// The first byte from `p` on that no module name holds. Names are read sixteen bytes at a
// time where the text allows it: most are longer than the few bytes a loop would pay off on.
const Byte* end_of_name(const Byte* p, const Byte* end) {
#if defined(__x86_64__)
    const auto within = [](__m128i bytes, char low, char count) {
        const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(low));
        return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(count)), offset);
    };
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i letters = within(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 'z' - 'a');
        const __m128i name = _mm_or_si128(_mm_or_si128(letters, within(bytes, '0', 9)),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('_')));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(name));
        if (mask != 0xFFFF) return p + std::countr_one(mask);
    }
#endif
    while (p < end && ident_rest[*p]) ++p;
    return p;
}

// The length of the keyword and the space after it that start the text at `p` ("import "
// or "from "), or 0. Compares of a known short length compile to a few whole-word loads
// and compares, not a byte-by-byte walk.
std::size_t keyword_at(const Byte* p, std::size_t left) {
    if (left >= 7 && std::memcmp(p, "import ", 7) == 0) return 7;
    return left >= 5 && std::memcmp(p, "from ", 5) == 0 ? 5 : 0;
}

}  // namespace

// The usual import line (spaces or tabs, an ASCII name, then a full stop, an ASCII space
// or the line's end) is read right here; anything else goes to the full recogniser.
void collect_line_start(const Byte* p, const Byte* end, Heads& heads) {
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t keyword = keyword_at(p, left);
    if (keyword == 0) return;

    const Byte* token = p + keyword;
    while (token < end && (*token == ' ' || *token == '\t')) ++token;
    if (token == end || *token == '\n') return;
    if (ident_start[*token]) {
        const Byte* stop = end_of_name(token + 1, end);
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
    if (const auto head = recognise_whole_line(
            std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(line_end - p))))
        heads.push_back(*head);
}

void collect_candidate(const Byte* begin, const Byte* end, const Byte* p, Heads& heads) {
    if (only_space_before(begin, p)) collect_line_start(p, end, heads);
}

}  // namespace vornu
