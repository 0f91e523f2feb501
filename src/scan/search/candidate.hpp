// The closer look at one place where a keyword may start, shared by every search kernel.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

#include "scan/search/lane_table.hpp"

namespace vornu {

using Heads = std::vector<std::string_view>;

// Only white space stands between the start of its line and `p`, which is before `end`.
// Appends the line's module name to `heads` if the line's first word from `p` on is a
// keyword and the line names one. The line ends at the first line feed or at `end`.
void collect_line_start(const unsigned char* p, const unsigned char* end, Heads& heads);

// The same where nothing is known of what stands before `p` on its line; the text
// [begin, end) starts at a line's start.
void collect_candidate(const unsigned char* begin, const unsigned char* end, const unsigned char* p,
                       Heads& heads);

inline bool is_candidate_pair(const unsigned char* p) {
    return (p[0] == 'i' && p[1] == 'm') || (p[0] == 'f' && p[1] == 'r');
}

// The vector kernels find the pairs with one byte shuffle instead of four compares: this
// table, looked up by the low half of each byte, gives the byte that must follow it, "m"
// after "i" (0x69) and "r" after "f" (0x66), and the pair is where the next byte is that
// one. Bytes that share a low half with "i" or "f" (")", "9", "I", "Y", "y", tab; "&", "6",
// "F", "V", "v") make false candidates, which are rare where a keyword could start (after
// white space) and which the closer look drops. Other halves want 0x80, which never
// follows an ASCII byte in valid UTF-8; a byte outside ASCII reads 0 from the shuffle. No
// entry is 0, so zeros that pad a text's last block start nothing.
inline constexpr char pair_second[16] = {
    '\x80', '\x80', '\x80', '\x80', '\x80', '\x80', 'r', '\x80', '\x80', 'm', '\x80', '\x80', '\x80', '\x80', '\x80', '\x80'};
inline constexpr LaneTable pair_second_lanes = in_every_lane(pair_second);

// What a block of 64 bytes shows of the line that position `k` is on, from the masks of
// its bytes (bit i for byte i): the nearest byte before `k` that is not an ASCII space, tab,
// vertical tab, form feed or carriage return is a line feed (only white space before `k`),
// another ASCII byte (a keyword cannot start there), or a byte outside ASCII or nothing
// at all within the block (the closer look must tell).
enum class LineStart { yes, no, unknown };

inline LineStart line_start_in_block(int k, std::uint64_t ascii_spaces, std::uint64_t line_feeds,
                                     std::uint64_t non_ascii) {
    const std::uint64_t stops = ~ascii_spaces & ((std::uint64_t{1} << k) - 1);
    if (stops == 0) return LineStart::unknown;
    const std::uint64_t nearest = std::uint64_t{1} << (63 - std::countl_zero(stops));
    if (nearest & line_feeds) return LineStart::yes;
    return nearest & non_ascii ? LineStart::unknown : LineStart::no;
}

// Looks closer at every candidate of a block at `p`, in order, sorted by the block's masks.
inline void collect_block_candidates(const unsigned char* begin, const unsigned char* end, const unsigned char* p,
                                     std::uint64_t candidates, std::uint64_t ascii_spaces,
                                     std::uint64_t line_feeds, std::uint64_t non_ascii, Heads& heads) {
    for (; candidates != 0; candidates &= candidates - 1) {
        const int k = std::countr_zero(candidates);
        switch (line_start_in_block(k, ascii_spaces, line_feeds, non_ascii)) {
            case LineStart::yes:
                collect_line_start(p + k, end, heads);
                break;
            case LineStart::unknown:
                collect_candidate(begin, end, p + k, heads);
                break;
            case LineStart::no:
                break;
        }
    }
}

}  // namespace vornu
