#pragma once

#include <cstddef>
#include <string_view>

namespace vornu {

// Strict UTF-8 validation of a byte stream that arrives in pieces: overlong forms,
// surrogates and code points above U+10FFFF are errors, and a character may be split
// between two pieces.
struct Utf8Stream {
    unsigned char cut[4] = {};  // the first bytes of a character that the last piece split
    std::size_t cut_length = 0;
    bool failed = false;

    // False once the stream has shown an invalid byte.
    bool feed(const unsigned char* data, std::size_t size);
    // True if everything fed so far is valid and no character is left unfinished.
    bool valid_at_end() const { return !failed && cut_length == 0; }
};

bool is_valid_utf8(std::string_view text);

}  // namespace vornu
