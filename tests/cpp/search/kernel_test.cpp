#include "scan/search/kernel.hpp"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "support/kernels.hpp"
#include "support/line_reference.hpp"
#include "support/random_text.hpp"

namespace vornu {
namespace {

// Every test below runs once for every kernel built in, and skips, saying so, a kernel
// that this processor cannot run.
class Kernel : public testing::TestWithParam<const SearchKernel*> {
protected:
    const SearchKernel& kernel = *GetParam();

    void SetUp() override {
        if (!kernel.supported()) GTEST_SKIP() << "this processor cannot run the " << kernel.name << " kernel";
    }

    // The kernel's names must be those of the reading line by line, and its verdict that
    // of the plain validator. Where the text is invalid its names mean nothing.
    void expect_like_line_by_line(const std::string& text) {
        Heads heads;
        const bool valid = is_valid_utf8(text);
        ASSERT_EQ(kernel.find_imports(text, heads) == Utf8Verdict::valid, valid) << testing::PrintToString(text);
        if (valid) {
            ASSERT_EQ(std::vector<std::string>(heads.begin(), heads.end()), names_line_by_line(text))
                << testing::PrintToString(text);
        }
    }
};

TEST_P(Kernel, AgreesWithLineByLineOnKnownTexts) {
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
    for (const std::string& text : texts) expect_like_line_by_line(text);
}

// Random texts built from the pieces that matter: keywords, names, every kind of space,
// line ends and non-ASCII letters, so that candidates fall on every block offset; and
// pairs that a vector kernel may take for "im" or "fr" at first ("Im", "Fr", a tab or a
// NUL before "m" or "r").
TEST_P(Kernel, AgreesWithLineByLineOnRandomTexts) {
    const std::vector<std::string> pieces = {
        "import ", "from ", "im", "fr", "import", "os", "a.b", "_x", "9", ".", ",", "#", " ",
        "  ", "\t", "\n", "\r\n", "\r", "\xC2\xA0", "\xE2\x80\x80", "\xE3\x80\x80",
        "\xC2\x85", "\xE2\x80\xA8", "caf\xC3\xA9", "\xF0\x9F\x98\x80", "x = 1", "(", "\x0b", "\f", ",", "-",
        "a long line of ordinary code without any keyword in it at all", "\xFF", "\xC3",
        "\xE2\x82", "\xED\xA0\x80", "Im", "Fr", "my", "ry", std::string(1, '\0')};
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        expect_like_line_by_line(random_text(random, pieces, 120));
    }
}

// The kernel's UTF-8 checks against the plain one, on texts made of characters of every
// length, the sequences at the edges of validity, and stray bytes, placed so that they
// fall across every block boundary and at both ends of the text.
TEST_P(Kernel, ChecksUtf8ExactlyAsThePlainValidator) {
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
        Heads heads;
        ASSERT_EQ(kernel.find_imports(text, heads) == Utf8Verdict::valid, is_valid_utf8(text))
            << testing::PrintToString(text);
        const Utf8Check plain = check_utf8(text);
        const Utf8Check piece = kernel.check_piece(text);
        ASSERT_EQ(piece.valid, plain.valid) << testing::PrintToString(text);
        if (plain.valid) {
            ASSERT_EQ(piece.cut_length, plain.cut_length) << testing::PrintToString(text);
        }
    }
}

// Whatever the text's length, and so wherever its end falls in a block, a character cut
// by the end or a byte that never appears in UTF-8 makes the text invalid.
TEST_P(Kernel, TheEndOfTheTextIsCheckedWhereverItFalls) {
    const std::vector<std::pair<std::string, bool>> tails = {
        {"\xC3", false}, {"\xFF", false}, {"\xC0", false}, {"\xF5", false}, {"\xE2\x82", false},
        {"\xF0\x9F\x98", false}, {"\x80", false}, {"\xC3\xA9", true}, {"\xF0\x9F\x98\x80", true}, {"\n", true}};
    for (std::size_t length = 1; length <= 300; ++length) {
        for (const auto& [tail, valid] : tails) {
            if (tail.size() > length) continue;
            std::string text = "import os\n" + std::string(length, '#');
            text.resize(length - tail.size());
            text += tail;
            Heads heads;
            ASSERT_EQ(kernel.find_imports(text, heads) == Utf8Verdict::valid, valid) << testing::PrintToString(text);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, Kernel, testing::ValuesIn(built_in_kernels()), kernel_name);

bool runs() noexcept { return true; }
bool cannot_run() noexcept { return false; }

// A table like the library's, whose widest kernel this processor cannot run.
const std::array<SearchKernel, 3> table = {{{"wide", &cannot_run, nullptr, nullptr},
                                            {"middle", &runs, nullptr, nullptr},
                                            {"plain", &runs, nullptr, nullptr}}};

// Unset, the widest kernel that runs; forced, exactly the kernel named, or a failure that
// says why and what would run: never quietly another kernel.
TEST(KernelChoice, AForcedKernelIsThatKernelOrAFailure) {
    const struct {
        const char* forced;
        const char* chosen;  // or null: the choice fails, saying `why`
        const char* why;
    } cases[] = {
        {nullptr, "middle", nullptr},
        {"", "middle", nullptr},
        {"middle", "middle", nullptr},
        {"plain", "plain", nullptr},
        {"wide", nullptr, "VORNU_FORCE_KERNEL=\"wide\": this processor cannot run that kernel; this processor runs middle plain"},
        {"avx3", nullptr, "VORNU_FORCE_KERNEL=\"avx3\": no search kernel has that name; this processor runs middle plain"},
        {"Middle", nullptr, "no search kernel has that name"},
        {"middle ", nullptr, "no search kernel has that name"},
    };
    for (const auto& c : cases) {
        const std::string forced = c.forced ? c.forced : "(unset)";
        if (c.chosen) {
            EXPECT_EQ(choose_search_kernel(c.forced, table).name, c.chosen) << forced;
            continue;
        }
        try {
            choose_search_kernel(c.forced, table);
            ADD_FAILURE() << forced << " was obeyed";
        } catch (const KernelOverrideError& failure) {
            EXPECT_NE(std::string(failure.what()).find(c.why), std::string::npos) << failure.what();
        }
    }
}

TEST(KernelChoice, TheLibrarysTableEndsWithAKernelThatRunsAnywhere) {
    EXPECT_EQ(&choose_search_kernel(nullptr), supported_kernels().front());
    for (const SearchKernel& kernel : search_kernels()) {
        if (kernel.supported()) EXPECT_EQ(&choose_search_kernel(std::string(kernel.name).c_str()), &kernel);
        else EXPECT_THROW(choose_search_kernel(std::string(kernel.name).c_str()), KernelOverrideError);
    }
    EXPECT_THROW(choose_search_kernel("no-such-kernel"), KernelOverrideError);
    EXPECT_EQ(search_kernels().back().name, "scalar");
    EXPECT_TRUE(search_kernels().back().supported());
}

}  // namespace
}  // namespace vornu
