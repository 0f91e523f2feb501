#pragma once

#include <cstddef>
#include <string_view>

namespace vornu {

// Strict UTF-8: overlong forms, surrogates and code points above U+10FFFF are errors.

struct Utf8Check {
    bool valid;              // no invalid byte
    std::size_t cut_length;  // bytes of a character that the end of the text cuts off (0 to 3)
};

// Checks a text that may end inside a character, as a piece of a longer text does.
Utf8Check check_utf8(std::string_view text);

// True if the whole text is valid UTF-8, with no character cut off at its end.
bool is_valid_utf8(std::string_view text);

}  // namespace vornu
