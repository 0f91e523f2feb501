#include <fcntl.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "scan/text/import_line.hpp"
#include "scan/fs/file_scan.hpp"
#include "scan/fs/unique_fd.hpp"
#include "scan/text/utf8.hpp"
#include "support/temp_tree.hpp"

namespace {

using vornu::NameSet;

// The file's names the slow way: whole-file validation, then line by line.
NameSet reference(const std::string& text) {
    NameSet names;
    if (!vornu::is_valid_utf8(text)) return names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r' && end < text.size()) line.pop_back();
        if (auto name = vornu::import_root_of_line(line)) names.insert(*name);
        start = end + 1;
    }
    return names;
}

NameSet scan_text(const TempTree& tree, const std::string& text, std::size_t chunk,
                  NameSet names = {}) {
    const std::string file = tree.write("f.py", text);
    const vornu::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    vornu::FileScratch scratch(chunk);
    vornu::NameCollector collector{std::move(names)};
    vornu::scan_python_file(fd.get(), collector, scratch);
    return std::move(collector.names);
}

const std::vector<std::size_t> chunks = {1, 2, 3, 4, 5, 7, 8, 13, 64, vornu::FileScratch::default_chunk};

TEST(ScanPythonFile, FileRulesHoldWhateverThePieceSize) {
    const std::vector<std::pair<std::string, NameSet>> cases = {
        {"", {}},
        {"import os", {"os"}},
        {"import os\nimport sys\nimport os\n", {"os", "sys"}},
        {"import a\r\nfrom b import c\r\n", {"a", "b"}},
        {"import a\rimport b\rimport c\r", {"a"}},  // lone carriage returns end no line
        {"\xEF\xBB\xBFimport first\nimport second\n", {"second"}},
        {"import good\nx = '\xFF'\n", {}},          // one bad byte spoils the whole file
        {"import good\n# \xC3\n", {}},
        {"import good\n# \xE2\x82", {}},           // cut character at the very end
        {"import good\n\xED\xA0\x80\n", {}},
        {"import \xC2\xA0spaced\n", {"spaced"}},
        {"    import nested.mod as m\n\tfrom pkg.sub import x\n", {"nested", "pkg"}},
        {"import verylongname_" + std::string(300, 'x') + "\n", {"verylongname_" + std::string(300, 'x')}},
        {std::string(1000, ' ') + "import after_spaces", {"after_spaces"}},
        {"import" + std::string(1000, ' ') + "after_gap\n", {"after_gap"}},
        {"x" + std::string(5000, 'y') + " import not_first\nimport next_line\n", {"next_line"}},
        {"import last_line_without_feed\r", {"last_line_without_feed"}},
    };
    for (const auto& [text, expected] : cases) {
        TempTree tree;
        for (std::size_t chunk : chunks)
            EXPECT_EQ(scan_text(tree, text, chunk), expected)
                << testing::PrintToString(text) << " chunk " << chunk;
    }
}

TEST(ScanPythonFile, AnInvalidFileLeavesTheSetAsItWas) {
    TempTree tree;
    for (std::size_t chunk : chunks) {
        const NameSet before = {"kept"};
        EXPECT_EQ(scan_text(tree, "import kept\nimport added\n\xFF", chunk, before), before);
        EXPECT_EQ(scan_text(tree, "import added\n", chunk, before), (NameSet{"added", "kept"}));
    }
}

TEST(ScanPythonFile, RandomFilesMatchTheLineByLineReading) {
    const std::vector<std::string> pieces = {
        "import ", "from ", "import", "os", "a.b", "_x", "9", ".", " ", "   ", "\t", "\n",
        "\r\n", "\r", "\xC2\xA0", "\xE2\x80\x80", "\xE3\x80\x80", "caf\xC3\xA9", "x = 1",
        "\xF0\x9F\x98\x80", "longer_identifier_name"};
    std::mt19937 random(7);
    TempTree tree;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 80);
        for (int i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
        if (random() % 10 == 0) text.insert(random() % (text.size() + 1), 1, '\xC3');
        const NameSet expected = reference(text);
        for (std::size_t chunk : chunks)
            ASSERT_EQ(scan_text(tree, text, chunk), expected)
                << testing::PrintToString(text) << " chunk " << chunk;
    }
}

TEST(ScanPythonFile, LargeFileStreamsThroughASmallBuffer) {
    TempTree tree;
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "    value = compute(" + std::to_string(i) + ")  # caf\xC3\xA9\n";
    text += "import at_the_end\n";
    vornu::FileScratch scratch(4096);
    const std::string file = tree.write("big.py", text);
    const vornu::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    vornu::NameCollector names;
    vornu::scan_python_file(fd.get(), names, scratch);
    EXPECT_EQ(names.names, (NameSet{"at_the_end"}));
    EXPECT_LT(scratch.capacity, 4 * 4096u);
}

}  // namespace
