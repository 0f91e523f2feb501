// The SSE2 kernel, which every x86-64 processor runs: 16 byte pairs at a time, then the
// UTF-8 check, which skips ASCII 64 bytes at a time.
#include "scan/search/kernels.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

#include <bit>

#include "scan/search/vector_sse2.hpp"
#include "scan/search/vector_utf8.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

}  // namespace

Utf8Verdict find_imports_sse2(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* const end = begin + text.size();
    const __m128i letter_i = _mm_set1_epi8('i');
    const __m128i letter_m = _mm_set1_epi8('m');
    const __m128i letter_f = _mm_set1_epi8('f');
    const __m128i letter_r = _mm_set1_epi8('r');
    const Byte* p = begin;
    for (; end - p >= 17; p += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i im = _mm_and_si128(_mm_cmpeq_epi8(first, letter_i), _mm_cmpeq_epi8(second, letter_m));
        const __m128i fr = _mm_and_si128(_mm_cmpeq_epi8(first, letter_f), _mm_cmpeq_epi8(second, letter_r));
        for (auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(im, fr))); bits != 0; bits &= bits - 1)
            collect_candidate(begin, end, p + std::countr_zero(bits), heads);
    }
    for (; end - p >= 2; ++p)
        if (is_candidate_pair(p)) collect_candidate(begin, end, p, heads);
    return Utf8Verdict{is_valid_utf8(text, &vector_utf8::skip_ascii<Sse2>)};
}

Utf8Check check_piece_sse2(std::string_view text) { return check_utf8(text, &vector_utf8::skip_ascii<Sse2>); }

}  // namespace vornu

#endif
