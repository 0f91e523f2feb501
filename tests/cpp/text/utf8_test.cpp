#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/text/utf8.hpp"

using vornu::check_utf8;
using vornu::is_valid_utf8;

namespace {

struct Utf8Case {
    std::string bytes;
    bool valid;
};

const std::vector<Utf8Case> utf8_cases = {
    {"", true},
    {"plain ascii", true},
    {"caf\xC3\xA9", true},
    {"\xEF\xBB\xBF" "bom", true},
    {"\xE2\x82\xAC", true},
    {"\xF0\x9F\x98\x80", true},
    {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
    {"\xED\x9F\xBF", true},              // U+D7FF
    {"\xEE\x80\x80", true},              // U+E000
    {"\x80", false},                     // lone continuation
    {"\xC0\xAF", false},                 // overlong
    {"\xC1\xBF", false},                 // overlong
    {"\xE0\x9F\xBF", false},             // overlong
    {"\xF0\x8F\xBF\xBF", false},         // overlong
    {"\xED\xA0\x80", false},             // surrogate
    {"\xED\xBF\xBF", false},             // surrogate
    {"\xF4\x90\x80\x80", false},         // above U+10FFFF
    {"\xF5\x80\x80\x80", false},
    {"\xFF", false},
    {"\xFE", false},
    {"\xC3", false},                     // cut at the end
    {"\xE2\x82", false},
    {"\xF0\x9F\x98", false},
    {"\xC3(", false},
    {"\xE2(\xA1", false},
    {"a\xC3\xA9z\xE2\x82\xAC\xF0\x9F\x98\x80", true},
};

TEST(Utf8, AcceptsExactlyStrictUtf8) {
    for (const Utf8Case& c : utf8_cases) {
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        // Inside long ASCII runs, where the fast path skips whole blocks.
        const std::string padded = std::string(100, 'x') + c.bytes + std::string(70, 'y');
        EXPECT_EQ(is_valid_utf8(padded), c.valid) << testing::PrintToString(c.bytes);
    }
}

// A piece of a valid text is valid, and what its end cuts off is exactly the bytes of
// the character it ends inside.
TEST(Utf8, PiecesReportTheCharacterTheyCut) {
    const std::string text = "ab\xC3\xA9" "c\xE2\x82\xAC" "d\xF0\x9F\x98\x80" "e";
    const std::vector<std::size_t> cut_at = {0, 0, 0, 1, 0, 0, 1, 2, 0, 0, 1, 2, 3, 0, 0};
    for (std::size_t length = 0; length <= text.size(); ++length) {
        const auto check = check_utf8(std::string_view(text).substr(0, length));
        EXPECT_TRUE(check.valid) << length;
        EXPECT_EQ(check.cut_length, cut_at[length]) << length;
    }
    EXPECT_FALSE(check_utf8("\xC3(").valid);
    EXPECT_FALSE(check_utf8("ab\xE0\x80").valid);  // already overlong before it ends
    EXPECT_FALSE(check_utf8("ab\xFF").valid);
}

}  // namespace
