#include "scan/fs/file_scan.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "scan/fs/unique_fd.hpp"
#include "support/allocation_meter.hpp"
#include "support/kernels.hpp"
#include "support/line_reference.hpp"
#include "support/random_text.hpp"
#include "support/temp_tree.hpp"

namespace vornu {
namespace {

const std::vector<std::size_t> chunks = {1, 2, 3, 4, 5, 7, 8, 13, 64, LineBuffer::default_chunk};

// Every test below reads files with every kernel that this processor supports.
class FileScan : public testing::TestWithParam<const SearchKernel*> {
protected:
    TempTree tree;

    // `size` is the size the file is said to have had when it was opened; 0: not known.
    NameSet scan_file(const std::string& file, std::size_t chunk, NameSet names = {},
                      const SearchKernel* kernel = nullptr, std::uint64_t size = 0) {
        const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        ScanScratch scratch(chunk);
        NameCollector collector{std::move(names)};
        scan_python_file(fd.get(), collector, scratch, kernel ? *kernel : *GetParam(), size);
        return collector.take();
    }

    // The names of `text` read at every piece size, its size known or not, which must all agree.
    NameSet scan_text(const std::string& text, NameSet names = {}) {
        const std::string file = tree.write("f.py", text);
        const NameSet whole = scan_file(file, LineBuffer::default_chunk, names);
        for (std::size_t chunk : chunks) {
            for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{text.size()}})
                EXPECT_EQ(scan_file(file, chunk, names, nullptr, size), whole)
                    << testing::PrintToString(text.substr(0, 80)) << " chunk " << chunk << " size " << size;
        }
        return whole;
    }
};

TEST_P(FileScan, FileRulesHoldWhateverThePieceSize) {
    const std::string pad(52, '#');
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
        {"import os\n" + pad + "\n\xC3", {}},       // 64 bytes, the last cut
        {"import os\n" + pad + "#\xFF", {}},
        {"import os\n" + std::string(65590 - 10, '#') + "\n" + pad.substr(0, 8) + "\xC3", {}},
        {"import \xC2\xA0spaced\n", {"spaced"}},
        {"    import nested.mod as m\n\tfrom pkg.sub import x\n", {"nested", "pkg"}},
        {"import verylongname_" + std::string(300, 'x') + "\n", {"verylongname_" + std::string(300, 'x')}},
        {"import verylongname_" + std::string(300, 'x') + "\xE2\x80\x80 as y\n", {"verylongname_" + std::string(300, 'x')}},
        {"import verylongname_" + std::string(300, 'x') + "\xE2\x82\xAC\n", {}},
        {std::string(1000, ' ') + "import after_spaces", {"after_spaces"}},
        {"import" + std::string(1000, ' ') + "after_gap\n", {"after_gap"}},
        {"x" + std::string(5000, 'y') + " import not_first\nimport next_line\n", {"next_line"}},
        {"import last_line_without_feed\r", {"last_line_without_feed"}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(scan_text(text), expected) << testing::PrintToString(text.substr(0, 80));
}

// A file that grew after it was opened is read up to the size it had; one that shrank, to
// its end.
TEST_P(FileScan, ReadingStopsAtTheSizeTheFileWasOpenedWith) {
    const std::string file = tree.write("f.py", "import a\nimport b\n");
    for (std::size_t chunk : chunks) {
        EXPECT_EQ(scan_file(file, chunk, {}, nullptr, 9), NameSet{"a"});
        EXPECT_EQ(scan_file(file, chunk, {}, nullptr, 12), NameSet{"a"});
        EXPECT_EQ(scan_file(file, chunk, {}, nullptr, 1000), (NameSet{"a", "b"}));
    }
}

TEST_P(FileScan, AnInvalidOrUnreadableFileLeavesTheSetAsItWas) {
    const NameSet before = {"kept"};
    EXPECT_EQ(scan_text("import kept\nimport added\n\xFF", before), before);
    EXPECT_EQ(scan_text("import added\n", before), (NameSet{"added", "kept"}));
    const UniqueFd directory(::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ScanScratch scratch;
    NameCollector collector{before};
    scan_python_file(directory.get(), collector, scratch, *GetParam());
    EXPECT_EQ(collector.names(), before);
}

TEST_P(FileScan, RandomFilesMatchTheLineByLineReading) {
    const std::vector<std::string> pieces = {
        "import ", "from ", "import", "os", "a.b", "_x", "9", ".", " ", "   ", "\t", "\n",
        "\r\n", "\r", "\xC2\xA0", "\xE2\x80\x80", "\xE3\x80\x80", "caf\xC3\xA9", "x = 1",
        "\xF0\x9F\x98\x80", "longer_identifier_name"};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string text = random_text(random, pieces, 80);
        if (random() % 10 == 0) text.insert(random() % (text.size() + 1), 1, '\xC3');
        ASSERT_EQ(scan_text(text), reference_file_names(text)) << testing::PrintToString(text);
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, FileScan, testing::ValuesIn(supported_kernels()), kernel_name);

// The widest kernel, with a count of the bytes it is given to search or check.
std::atomic<std::size_t> bytes_looked_at{0};
Utf8Verdict counted_find_imports(std::string_view text, Heads& heads) {
    bytes_looked_at += text.size();
    return active_search_kernel().find_imports(text, heads);
}
Utf8Check counted_check_piece(std::string_view text) {
    bytes_looked_at += text.size();
    return active_search_kernel().check_piece(text);
}
bool always() noexcept { return true; }
const SearchKernel counting{"counting", &always, &counted_find_imports, &counted_check_piece};

class FileScanCost : public FileScan {};

// However the pieces fall, a line that never ends (one enormous name) costs each byte a
// bounded number of looks, and the names of a large file wait to be added once each.
TEST_F(FileScanCost, AnEnormousNameIsLookedAtAFewTimesPerByte) {
    const std::string name = "a" + std::string(4 << 20, 'b');
    for (std::size_t chunk : {std::size_t{4096}, LineBuffer::default_chunk}) {
        for (const std::string& text : {"import " + name, "import " + name + "\n", "import " + name + ".x\n"}) {
            bytes_looked_at = 0;
            EXPECT_EQ(scan_file(tree.write("f.py", text), chunk, {}, &counting), NameSet{name});
            EXPECT_LE(bytes_looked_at.load(), 3 * text.size()) << "chunk " << chunk;
        }
    }
}

TEST_F(FileScanCost, NamesWaitingForTheEndOfALargeFileAreHeldOnce) {
    std::string text;
    for (int i = 0; text.size() < (16u << 20); ++i) text += "import a\nfrom b" + std::to_string(i % 100) + " import c\n";
    for (bool valid : {true, false}) {
        const std::string file = tree.write("big.py", valid ? text : text + "\xFF");
        const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        ScanScratch scratch;
        NameCollector names;
        const std::size_t peak = allocation_meter::peak_during([&] { scan_python_file(fd.get(), names, scratch); });
        EXPECT_LT(peak, 512u << 10) << "bytes";
        EXPECT_EQ(names.names().size(), valid ? 101u : 0u);
    }
}

// Whatever the shape of an enormous line (characters cut at every piece end included), its
// reading holds one piece and a few carried bytes, as that of a comment line of the same
// size does; a name that fails late costs nothing. Beyond that, only what is found counts:
// a small name, and a long name that is taken, its own size once.
TEST_F(FileScanCost, AnEnormousLineCostsWhatACommentLineCosts) {
    constexpr std::size_t size = 1 << 20, chunk = 4096, small_names = 32 << 10;
    const std::string run(size, 'n'), spaces(size, ' ');
    std::string wide;  // U+3000, three bytes: cut at most piece ends
    while (wide.size() < size) wide += "\xE3\x80\x80";
    const struct {
        std::string what, text;
        std::size_t allowed;  // bytes beyond the comment line's
    } shapes[] = {
        {"comment", "#" + run + "\n", 0},
        {"name failing late", "import " + run + "-", 0},
        {"name failing late on a character", "import " + run + "\xC3\xA9\nimport b\n", small_names},
        {"code", "x = " + run + "\n", 0},
        {"spaces before", spaces + "import os\n", small_names},
        {"spaces after", "import " + spaces + "os\n", small_names},
        {"wide spaces before", wide + "import os\n", small_names},
        {"wide spaces after", "import " + wide + "os\n", small_names},
        {"name taken", "import " + run + "\n", small_names + size},
        {"name taken at a wide space", "from " + run + wide + "import x\n", small_names + size},
    };
    std::size_t comment_peak = 0;
    for (const auto& shape : shapes) {
        const std::string file = tree.write("f.py", shape.text);
        NameSet found;
        const std::size_t peak = allocation_meter::peak_during(
            [&] { found = scan_file(file, chunk, {}, &active_search_kernel()); });
        if (shape.what == "comment") comment_peak = peak;
        EXPECT_LE(peak, comment_peak + shape.allowed) << shape.what;
        EXPECT_EQ(found, reference_file_names(shape.text)) << shape.what;
    }
}

// A name that pieces cut is read back from the file once it is taken. A file that changed in
// between (here, once the name's first bytes have been read) gives the name it now holds if
// that is still a name of the same length, and nothing at all otherwise; never other bytes.
TEST_F(FileScanCost, ANameReadBackFromAChangedFileIsANameOrNothing) {
    static std::string file, change;  // written over the name's first byte; empty: the file is cut there
    static std::size_t at = 0, checks = 0;
    struct Changing {
        static Utf8Check check_piece(std::string_view text) {
            if (++checks == 3) {  // the third piece of 16 bytes: the name began in the second
                std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(at) << change;
                if (change.empty()) std::filesystem::resize_file(file, at);
            }
            return active_search_kernel().check_piece(text);
        }
    };
    const SearchKernel changing{"changing", &always, active_search_kernel().find_imports, &Changing::check_piece};
    const std::string name = "n" + std::string(100, 'a'), text = "import kept\nimport " + name + "\n";
    const std::vector<std::pair<std::string, NameSet>> cases = {
        {"Q", {"kept", "Q" + name.substr(1)}}, {"-", {}}, {"\xC3\xA9", {}}, {"", {}}};
    for (const auto& [written, expected] : cases) {
        for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{text.size()}}) {
            file = tree.write("f.py", text);
            at = text.find(name);
            change = written;
            checks = 0;
            EXPECT_EQ(scan_file(file, 16, {}, &changing, size), expected)
                << testing::PrintToString(written) << " size " << size;
        }
    }
}

TEST(LineBufferSize, GivesBackTheRoomOfAnEnormousLine) {
    TempTree tree;
    const std::string file = tree.write("f.py", "import a" + std::string(1 << 20, 'b') + "\n");
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    ScanScratch scratch(4096);
    NameCollector names;
    scan_python_file(fd.get(), names, scratch);
    EXPECT_EQ(names.names().size(), 1u);
    EXPECT_LT(scratch.lines.capacity(), 4 * 4096u);
}

}  // namespace
}  // namespace vornu
