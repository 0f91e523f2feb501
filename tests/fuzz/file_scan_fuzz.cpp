// The piece-by-piece reader against the reading of the whole text at once, at piece sizes
// from 1 byte up, with every supported kernel, into empty and non-empty name sets, and with
// a scratch that the read of another file (cut anywhere) has used before.
//
// Input: 4 header bytes, then the text of the file.
//   [0] bits 0-5: kernel (modulo the number of supported kernels); bit 6: the first set starts
//       non-empty; bit 7: the second set starts non-empty
//   [1..2] piece size: 1 to 1024 bytes, or the default size from 0xF000 up
//   [3] where the first file, a prefix of the text, is cut (a fraction of the text); its
//       lowest bit: whether the first file is read knowing its size (the second, the other way)
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "scan/fs/file_scan.hpp"
#include "support/line_reference.hpp"

namespace {

// The kernel under test, wrapped so that the bytes it is given are counted.
const vornu::SearchKernel* inner = nullptr;
std::size_t bytes_looked_at = 0;

vornu::Utf8Verdict counted_find_imports(std::string_view text, vornu::Heads& heads) {
    bytes_looked_at += text.size();
    return inner->find_imports(text, heads);
}
vornu::Utf8Check counted_check_piece(std::string_view text) {
    bytes_looked_at += text.size();
    return inner->check_piece(text);
}
bool always() noexcept { return true; }
const vornu::SearchKernel counting{"counting", &always, &counted_find_imports, &counted_check_piece};

// One in-memory file, reused for every input.
int file() {
    static const int fd = [] {
        const int made = ::memfd_create("fuzz.py", MFD_CLOEXEC);
        fuzz::check(made >= 0, "memfd_create failed");
        return made;
    }();
    return fd;
}

void set_contents(std::string_view text) {
    const int fd = file();
    fuzz::check(::ftruncate(fd, 0) == 0, "ftruncate failed");
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        fuzz::check(n > 0, "pwrite failed");
        done += static_cast<std::size_t>(n);
    }
    fuzz::check(::lseek(fd, 0, SEEK_SET) == 0, "lseek failed");
}

// A set that already holds a name of no line, and every other name of the text's lines,
// so that names the set has and names it lacks both occur.
vornu::NameSet some_names_of(std::string_view text) {
    vornu::NameSet names = {"kept"};
    const auto lines = names_line_by_line(text);
    for (std::size_t i = 0; i < lines.size(); i += 2) names.insert(lines[i]);
    return names;
}

// Reads `text` as a file into `initial` and checks the result: `initial` plus the names of
// the whole text when it is valid, `initial` unchanged when it is not.
void scan_and_check(std::string_view text, vornu::NameSet initial, vornu::ScanScratch& scratch, bool size_known) {
    set_contents(text);
    vornu::NameSet expected = initial;
    expected.merge(reference_file_names(text));
    vornu::NameCollector names{std::move(initial)};
    bytes_looked_at = 0;
    vornu::scan_python_file(file(), names, scratch, counting, size_known ? text.size() : 0);
    fuzz::check(names.names() == expected, "the piece-by-piece reading differs from the whole-text reading",
                inner->name);
    // However the pieces fall, each byte is looked at a bounded number of times: a piece
    // adds its own bytes and a few carried ones; a long name is carried without a new look.
    const std::size_t pieces = text.size() / scratch.lines.chunk() + 1;
    fuzz::check(bytes_looked_at <= 8 * text.size() + 32 * pieces + 64, "bytes looked at more than a few times",
                inner->name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto& kernels = fuzz::supported_kernels();
    inner = kernels[(data[0] & 0x3F) % kernels.size()];
    const unsigned piece = data[1] | data[2] << 8;
    const std::size_t chunk = piece >= 0xF000 ? vornu::LineBuffer::default_chunk : 1 + piece % 1024;
    const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
    const std::size_t cut = text.size() * data[3] / 255;

    vornu::ScanScratch scratch(chunk);
    const bool size_known = (data[3] & 1) != 0;
    scan_and_check(text.substr(0, cut), (data[0] & 0x40) ? some_names_of(text) : vornu::NameSet{}, scratch, size_known);
    scan_and_check(text, (data[0] & 0x80) ? some_names_of(text) : vornu::NameSet{}, scratch, !size_known);
    return 0;
}
