#include "scan/text/utf8.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "scan/search/cpu_features.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

#if defined(__x86_64__)
__attribute__((target("avx2"))) const Byte* skip_ascii_avx2(const Byte* p, const Byte* end) {
    while (end - p >= 64) {
        const auto* v = reinterpret_cast<const __m256i*>(p);
        const __m256i any = _mm256_or_si256(_mm256_loadu_si256(v), _mm256_loadu_si256(v + 1));
        if (_mm256_movemask_epi8(any) != 0) break;
        p += 64;
    }
    return p;
}

const Byte* skip_ascii_sse2(const Byte* p, const Byte* end) {
    while (end - p >= 64) {
        const auto* v = reinterpret_cast<const __m128i*>(p);
        const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                         _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
        if (_mm_movemask_epi8(any) != 0) break;
        p += 64;
    }
    return p;
}
#endif

// Skips ASCII: whole blocks first, then words, then bytes.
const Byte* skip_ascii(const Byte* p, const Byte* end) {
#if defined(__x86_64__)
    p = cpu_has_avx2() ? skip_ascii_avx2(p, end) : skip_ascii_sse2(p, end);
#endif
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (word & 0x8080808080808080ULL) break;
        p += 8;
    }
    while (p < end && *p < 0x80) ++p;
    return p;
}

struct Scan {
    const Byte* stop;  // first byte not accepted
    bool valid;        // false: `stop` is an invalid byte; true: `stop` is the end, or the
                       // start of a character cut off by the end
};

Scan scan_utf8(const Byte* p, const Byte* const end) {
    for (;;) {
        p = skip_ascii(p, end);
        if (p == end) return {p, true};
        const Byte lead = *p;
        std::size_t length;
        Byte low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;       // overlong
            else if (lead == 0xED) high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;       // overlong
            else if (lead == 0xF4) high = 0x8F; // above U+10FFFF
        } else {
            return {p, false};
        }
        const auto available = static_cast<std::size_t>(end - p);
        if (available >= 2 && (p[1] < low || p[1] > high)) return {p, false};
        for (std::size_t i = 2; i < length && i < available; ++i)
            if ((p[i] & 0xC0) != 0x80) return {p, false};
        if (available < length) return {p, true};
        p += length;
    }
}

}  // namespace

Utf8Check check_utf8(std::string_view text) {
    const auto* begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* end = begin + text.size();
    const Scan scan = scan_utf8(begin, end);
    return {scan.valid, scan.valid ? static_cast<std::size_t>(end - scan.stop) : 0};
}

bool is_valid_utf8(std::string_view text) {
    const Utf8Check check = check_utf8(text);
    return check.valid && check.cut_length == 0;
}

}  // namespace vornu
