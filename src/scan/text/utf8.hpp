// Strict UTF-8 validation, byte by byte past the runs of ASCII.
#pragma once

#include <cstddef>
#include <string_view>

namespace vornu {

// Strict UTF-8: overlong forms, surrogates and code points above U+10FFFF are errors.

struct Utf8Check {
    bool valid;              // no invalid byte
    std::size_t cut_length;  // bytes of a character that the end of the text cuts off (0 to 3)
};

// The first byte in [p, end) that is not ASCII, or `end`. Wider forms live with the search
// kernels, which pass their own.
using AsciiSkip = const unsigned char* (*)(const unsigned char* p, const unsigned char* end);
const unsigned char* skip_ascii_words(const unsigned char* p, const unsigned char* end);

// Checks a text that may end inside a character, as a piece of a longer text does.
Utf8Check check_utf8(std::string_view text, AsciiSkip skip_ascii = &skip_ascii_words);

// True if the whole text is valid UTF-8, with no character cut off at its end.
bool is_valid_utf8(std::string_view text, AsciiSkip skip_ascii = &skip_ascii_words);

}  // namespace vornu
