// Strict UTF-8 validation of a text or of a piece of one.
#include "scan/text/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace vornu {

const unsigned char* skip_ascii_words(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (word & 0x8080808080808080ULL) break;
        p += 8;
    }
    while (p < end && *p < 0x80) ++p;
    return p;
}

namespace {

using Byte = unsigned char;

struct Scan {
    const Byte* stop;  // first byte not accepted
    bool valid;        // false: `stop` is an invalid byte; true: `stop` is the end, or the
                       // start of a character cut off by the end
};

Scan scan_utf8(const Byte* p, const Byte* const end, AsciiSkip skip_ascii) {
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

Utf8Check check_utf8(std::string_view text, AsciiSkip skip_ascii) {
    const auto* begin = reinterpret_cast<const Byte*>(text.data());
    const Byte* end = begin + text.size();
    const Scan scan = scan_utf8(begin, end, skip_ascii);
    return {scan.valid, scan.valid ? static_cast<std::size_t>(end - scan.stop) : 0};
}

bool is_valid_utf8(std::string_view text, AsciiSkip skip_ascii) {
    const Utf8Check check = check_utf8(text, skip_ascii);
    return check.valid && check.cut_length == 0;
}

}  // namespace vornu
