// The bytes that may start and continue a module name.
#pragma once

#include <array>

namespace vornu {

// Bytes that may start a module name (ASCII letters and "_") and bytes that may follow.
constexpr std::array<bool, 256> make_ident_table(bool allow_digits) {
    std::array<bool, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    table['_'] = true;
    if (allow_digits)
        for (int c = '0'; c <= '9'; ++c) table[c] = true;
    return table;
}
inline constexpr auto ident_start = make_ident_table(false);
inline constexpr auto ident_rest = make_ident_table(true);

}  // namespace vornu
