#include "scan/import_search.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan/import_line.hpp"
#include "scan/unicode_space.hpp"

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
void check_candidate(const Byte* begin, const Byte* end, const Byte* p,
                     std::vector<std::string_view>& heads) {
    const auto left = static_cast<std::size_t>(end - p);
    const bool keyword = (left >= 7 && std::memcmp(p, "import ", 7) == 0) ||
                         (left >= 5 && std::memcmp(p, "from ", 5) == 0);
    if (!keyword || !only_space_before(begin, p)) return;
    const void* line_feed = std::memchr(p, '\n', left);
    const Byte* line_end = line_feed ? static_cast<const Byte*>(line_feed) : end;
    const LineVerdict verdict = recognise_line(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(line_end - p)),
        true);
    if (verdict.kind == LineVerdict::name) heads.push_back(verdict.head);
}

}  // namespace

void find_imports(std::string_view text, std::vector<std::string_view>& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    const Byte* p = begin;
#if defined(__SSE2__)
    // Both keywords begin with a pair of letters that is rare in other places ("im",
    // "fr"), so sixteen positions are ruled out at a time.
    const __m128i letter_i = _mm_set1_epi8('i');
    const __m128i letter_m = _mm_set1_epi8('m');
    const __m128i letter_f = _mm_set1_epi8('f');
    const __m128i letter_r = _mm_set1_epi8('r');
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
#endif
    for (; end - p >= 2; ++p)
        if ((p[0] == 'i' && p[1] == 'm') || (p[0] == 'f' && p[1] == 'r'))
            check_candidate(begin, end, p, heads);
}

}  // namespace vornu
