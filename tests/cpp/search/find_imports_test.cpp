#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "scan/text/import_line.hpp"
#include "scan/search/find_imports.hpp"
#include "scan/text/utf8.hpp"

namespace {

// The names of a text taken the slow way: every line split off and recognised alone.
std::vector<std::string> line_by_line(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (auto name = vornu::import_root_of_line(line)) names.push_back(*name);
        start = end + 1;
    }
    return names;
}

// Every vector form of the search must give the same names as the reading line by line.
// Each also checks the text's UTF-8. Where the text is invalid its names mean nothing.
std::vector<std::string> searched(const std::string& text) {
    const bool valid = vornu::is_valid_utf8(text);
    std::vector<std::string_view> heads;
    EXPECT_EQ(vornu::find_imports(text, heads), valid) << testing::PrintToString(text);
    for (auto width : {vornu::SearchWidth::sse2, vornu::SearchWidth::bytes}) {
        std::vector<std::string_view> narrow;
        EXPECT_EQ(vornu::find_imports(text, narrow, width), valid) << "width " << static_cast<int>(width);
        if (valid) {
            EXPECT_EQ(narrow, heads) << "width " << static_cast<int>(width);
        }
    }
    if (!valid) return line_by_line(text);
    return {heads.begin(), heads.end()};
}

TEST(FindImports, AgreesWithLineByLineOnKnownTexts) {
    const std::vector<std::string> texts = {
        "",
        "import os",
        "import os\n",
        "import os\r\nfrom sys import path\r\n",
        "x = 1\n    import json\n\tfrom a.b import c\nimportlib.x\nfromage\n",
        "\n\n\nimport a\n\nimport b",
        "\xE3\x80\x80import wide\n\xC2\xA0" "from nbsp import x\n",
        "s = 'caf\xC3\xA9'; import no\n\xE2\x80\x83import yes\n",
        "import a\rimport b\nimport c\r",
        "\"\"\"\nimport inside_string\n\"\"\"\n",
        "from\n import x\nimport\nos\n",
        "   \n  import    spaced.out as s\n",
        "imimport x\nfrfrom y import z\n import ok\n",
    };
    for (const std::string& text : texts)
        EXPECT_EQ(searched(text), line_by_line(text)) << testing::PrintToString(text);
}

// Random texts built from the pieces that matter: keywords, names, every kind of space,
// line ends and non-ASCII letters, so that candidates fall on every block offset.
TEST(FindImports, AgreesWithLineByLineOnRandomTexts) {
    const std::vector<std::string> pieces = {
        "import ", "from ", "im", "fr", "import", "os", "a.b", "_x", "9", ".", ",", "#", " ",
        "  ", "\t", "\n", "\r\n", "\r", "\xC2\xA0", "\xE2\x80\x80", "\xE3\x80\x80",
        "\xC2\x85", "\xE2\x80\xA8", "caf\xC3\xA9", "\xF0\x9F\x98\x80", "x = 1", "(", "\x0b", "\f", ",", "-",
        "a long line of ordinary code without any keyword in it at all", "\xFF", "\xC3",
        "\xE2\x82", "\xED\xA0\x80"};
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 120);
        for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
        ASSERT_EQ(searched(text), line_by_line(text)) << testing::PrintToString(text);
    }
}

// The vector UTF-8 check against the plain one, on texts made of characters of every
// length, the sequences at the edges of validity, and stray bytes, placed so that they
// fall across every block boundary and at both ends of the text.
TEST(FindImports, ChecksUtf8ExactlyAsThePlainValidator) {
    const std::vector<std::string> valid_pieces = {
        "a", "import x\n", "  ", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF",
        "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
        "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xE3\x80\x80"};
    const std::vector<std::string> invalid_pieces = {
        "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80",
        "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xF8",
        "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xE2\x82\xAC\xAC"};
    std::mt19937 random(42);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const auto length = random() % 300;
        while (text.size() < length) text += valid_pieces[random() % valid_pieces.size()];
        if (round % 2 == 0) {
            const std::string& bad = invalid_pieces[random() % invalid_pieces.size()];
            text.insert(random() % (text.size() + 1), bad);
        }
        const bool valid = vornu::is_valid_utf8(text);
        for (auto width : {vornu::SearchWidth::widest, vornu::SearchWidth::sse2, vornu::SearchWidth::bytes}) {
            std::vector<std::string_view> heads;
            ASSERT_EQ(vornu::find_imports(text, heads, width), valid)
                << testing::PrintToString(text) << " width " << static_cast<int>(width);
        }
    }
}

}  // namespace
