// The classes of UTF-8 errors that a byte pair can show, and the three 16-entry tables that
// find them, after Keiser and Lemire ("Validating UTF-8 in less than one instruction per
// byte", 2021): every byte is classified by the high and low half of the byte before it
// and the high half of its own, and any error leaves a bit set. Shared by the vector forms.
#pragma once

#include "scan/search/lane_table.hpp"

namespace vornu::utf8_lookup {

// Error classes of a byte pair (first byte, second byte), one bit each.
constexpr char too_short = 1 << 0;       // lead or ASCII, then lead or ASCII where a continuation must be
constexpr char too_long = 1 << 1;        // ASCII, then continuation
constexpr char overlong_3 = 1 << 2;      // E0, then 80..9F
constexpr char too_large = 1 << 3;       // F4 then 90..BF, or F5..FF
constexpr char surrogate = 1 << 4;       // ED, then A0..BF
constexpr char overlong_2 = 1 << 5;      // C0 or C1, then continuation
constexpr char too_large_1000 = 1 << 6;  // F5..FF, then 80..8F
constexpr char overlong_4 = 1 << 6;      // F0, then 80..8F
constexpr char two_conts = static_cast<char>(1 << 7);  // continuation after continuation, checked apart
constexpr char carry = too_short | too_long | two_conts;

// Indexed by the high half of the first byte of a pair, its low half, and the high half of
// the second byte.
inline constexpr char first_high[16] = {
    too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long,
    two_conts, two_conts, two_conts, two_conts,
    too_short | overlong_2,
    too_short,
    too_short | overlong_3 | surrogate,
    too_short | too_large | too_large_1000 | overlong_4};
inline constexpr char first_low[16] = {
    carry | overlong_3 | overlong_2 | overlong_4,
    carry | overlong_2,
    carry,
    carry,
    carry | too_large,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000 | surrogate,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000};
inline constexpr char second_high[16] = {
    too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
    too_long | overlong_2 | two_conts | overlong_3 | too_large_1000 | overlong_4,
    too_long | overlong_2 | two_conts | overlong_3 | too_large,
    too_long | overlong_2 | two_conts | surrogate | too_large,
    too_long | overlong_2 | two_conts | surrogate | too_large,
    too_short, too_short, too_short, too_short};

inline constexpr LaneTable first_high_lanes = in_every_lane(first_high);
inline constexpr LaneTable first_low_lanes = in_every_lane(first_low);
inline constexpr LaneTable second_high_lanes = in_every_lane(second_high);

// For each byte of a vector (its last 16, 32 or 64 bytes), the largest that may stand
// there if no character is to run on past the vector's end: any byte, but in the last
// three places a byte below a lead of four bytes, of three or more, of two or more.
inline constexpr LaneTable cut_limits = [] {
    LaneTable limits{};
    for (char& limit : limits.entries) limit = static_cast<char>(0xFF);
    limits.entries[61] = static_cast<char>(0xF0 - 1);
    limits.entries[62] = static_cast<char>(0xE0 - 1);
    limits.entries[63] = static_cast<char>(0xC0 - 1);
    return limits;
}();

}  // namespace vornu::utf8_lookup
