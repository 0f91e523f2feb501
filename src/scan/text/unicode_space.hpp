// The Unicode White_Space characters, recognised in their UTF-8 form.
#pragma once

#include <cstddef>

namespace vornu {

// Characters with the Unicode White_Space property, recognised in their UTF-8 form:
// U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029,
// U+202F, U+205F and U+3000.

// Byte length of the white-space character that starts at `p`, or 0 if none does.
inline std::size_t space_length_at(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = *p;
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0xC2) return 0;
    const std::ptrdiff_t left = end - p;
    if (c == 0xC2) return left >= 2 && (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
    if (left < 3) return 0;
    if (c == 0xE1) return p[1] == 0x9A && p[2] == 0x80 ? 3 : 0;
    if (c == 0xE3) return p[1] == 0x80 && p[2] == 0x80 ? 3 : 0;
    if (c != 0xE2) return 0;
    if (p[1] == 0x80) {
        const unsigned char t = p[2];
        return (t >= 0x80 && t <= 0x8A) || t == 0xA8 || t == 0xA9 || t == 0xAF ? 3 : 0;
    }
    return p[1] == 0x81 && p[2] == 0x9F ? 3 : 0;
}

// True if `p` (not past `end`) holds the first bytes of a multi-byte white-space
// character cut off by `end`: more text may still turn it into white space.
inline bool could_be_cut_space(const unsigned char* p, const unsigned char* end) {
    const std::ptrdiff_t left = end - p;
    const unsigned char c = *p;
    if (c == 0xC2) return left == 1;
    if (c == 0xE1) return left == 1 || (left == 2 && p[1] == 0x9A);
    if (c == 0xE3) return left == 1 || (left == 2 && p[1] == 0x80);
    if (c == 0xE2) return left == 1 || (left == 2 && (p[1] == 0x80 || p[1] == 0x81));
    return false;
}

}  // namespace vornu
