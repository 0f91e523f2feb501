#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/utf8_stream.hpp"

using vornu::is_valid_utf8;
using vornu::Utf8Stream;

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

TEST(Utf8Stream, AcceptsExactlyStrictUtf8) {
    for (const Utf8Case& c : utf8_cases) {
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        // Inside long ASCII runs, where the fast path skips whole blocks.
        const std::string padded = std::string(100, 'x') + c.bytes + std::string(70, 'y');
        EXPECT_EQ(is_valid_utf8(padded), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8Stream, PiecesGiveTheSameAnswerWhereverTheyAreCut) {
    for (const Utf8Case& c : utf8_cases) {
        const std::string text = "ab" + c.bytes + "cd" + c.bytes;
        const bool whole = is_valid_utf8(text);
        for (std::size_t piece = 1; piece <= 5; ++piece) {
            Utf8Stream stream;
            for (std::size_t at = 0; at < text.size(); at += piece) {
                const std::string part = text.substr(at, piece);
                stream.feed(reinterpret_cast<const unsigned char*>(part.data()), part.size());
            }
            EXPECT_EQ(stream.valid_at_end(), whole) << testing::PrintToString(text) << " piece " << piece;
        }
    }
}

}  // namespace
