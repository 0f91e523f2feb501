// The piece-by-piece reading of one Python file, and the carrying of cut lines.
#include "scan/fs/file_scan.hpp"

#include <optional>
#include <string>
#include <utility>

#include "scan/fs/system_calls.hpp"
#include "scan/text/import_line.hpp"

namespace vornu {
namespace {

// A name that a piece cut is not carried: one byte stands for its bytes so far, which are
// read back from the file if the name is taken in the end. However long a name runs, and
// however late it fails, it costs the buffer nothing.
constexpr std::string_view import_stand_in = "import _";
constexpr std::string_view from_stand_in = "from _";

// The name that the carried line's stand-in stands for.
struct LongName {
    std::uint64_t start = 0;  // where the name begins in the file
    std::size_t before = 0;   // its bytes in earlier pieces, which the stand-in replaces
    std::size_t at = 0;       // the stand-in's place in the carried text
};

// What a piece leaves to the next of the line that it cut: `prefix`, then the piece's text
// from `from` on. The prefix stands for what is decided of the line: "#" for a line that is
// decided (it can never start an import), else its keyword if it has one, and a name's
// stand-in if a name has begun; what follows are the bytes that still matter.
struct Carry {
    std::string_view prefix;
    std::size_t from = 0;
    std::optional<LongName> long_name;
};

// The reading of one file. Until the whole file has proved valid UTF-8, a name that the
// set lacks waits aside, held once however often it comes.
struct FileScan {
    int fd;
    NameCollector& names;
    ScanScratch& scratch;
    const SearchKernel& kernel;
    std::optional<LongName> long_name = std::nullopt;

    ~FileScan() {
        scratch.lines.clear();
        scratch.heads.clear();
        scratch.pending.clear();
    }

    // Every text given to the kernel, as every cut line given to the recogniser, starts at
    // a line's start, which is what lets them read it as lines: a piece's text is what was
    // carried, then what was read, and what is carried is always the start of a line (a
    // Carry), never bytes from inside one.
    bool search(std::string_view text) {
        return kernel.find_imports(text, scratch.heads) == Utf8Verdict::valid;
    }

    void hold_heads() {
        for (const std::string_view head : scratch.heads)
            if (!names.contains(head)) scratch.pending.insert(head);
        scratch.heads.clear();
    }

    bool read_back(const LongName& cut_name, std::string_view head, std::string& name) const;
    bool take_long_name(NameCollector& into);
    bool piece();
    bool carry_cut_line(std::string_view text, std::size_t whole);
    Carry carry_of(const LineVerdict& verdict, std::size_t whole, std::size_t cut_character) const;
    void last_piece();
};

// The whole name that `head` (the stand-in and the bytes after it) stands for: its first
// bytes from the file, the rest from `head`. The file may have changed since they were
// read: bytes that do not come, or no longer make a name, fail the file.
bool FileScan::read_back(const LongName& cut_name, std::string_view head, std::string& name) const {
    name.resize(cut_name.before + head.size() - 1);
    for (std::size_t done = 0; done < cut_name.before;) {
        const long n = sys::pread(fd, name.data() + done, cut_name.before - done, cut_name.start + done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    name.replace(cut_name.before, std::string::npos, head.substr(1));
    return is_valid_ident(name);
}

// The carried line is over. If it named its stand-in's name (then the first head found),
// that name goes to `into` in full.
bool FileScan::take_long_name(NameCollector& into) {
    const std::optional<LongName> ended = std::exchange(long_name, std::nullopt);
    Heads& heads = scratch.heads;
    if (!ended || heads.empty() || heads.front().data() != scratch.lines.text().data() + ended->at) return true;
    std::string name;
    if (!read_back(*ended, heads.front(), name)) return false;
    heads.erase(heads.begin());
    if (!names.contains(name)) into.insert(std::move(name));
    return true;
}

bool FileScan::piece() {
    const std::string_view text = scratch.lines.text();
    const std::size_t whole = scratch.lines.whole_length();
    if (!search(text.substr(0, whole))) return false;
    if (whole != 0 && !take_long_name(scratch.pending)) return false;
    hold_heads();
    return carry_cut_line(text, whole);
}

// Decides the line that the piece cut, where it can be decided, and carries what it still
// needs into the next piece.
bool FileScan::carry_cut_line(std::string_view text, std::size_t whole) {
    const std::string_view cut = text.substr(whole);
    const Utf8Check check = kernel.check_piece(cut);
    if (!check.valid) return false;
    const LineVerdict verdict = recognise_cut_line(cut);
    if (verdict.kind == LineVerdict::name) {
        scratch.heads.push_back(verdict.head);
        if (!take_long_name(scratch.pending)) return false;
        hold_heads();
    }
    const Carry carry = carry_of(verdict, whole, text.size() - check.cut_length);
    scratch.lines.carry(carry.prefix, carry.from);
    long_name = carry.long_name;
    return true;
}

// The carry of the cut line at `whole`. A decided line keeps only the bytes of a character
// that the piece cut (from `cut_character` on), to be checked once it is whole. An
// undecided one keeps its bytes from where they matter to the end of the piece, so any cut
// character too; a name in it gives way to a stand-in.
Carry FileScan::carry_of(const LineVerdict& verdict, std::size_t whole, std::size_t cut_character) const {
    if (verdict.kind != LineVerdict::undecided) return {"#", cut_character, std::nullopt};
    const std::size_t resume = whole + verdict.resume_at;
    if (verdict.head.empty()) return {verdict.keyword, resume, std::nullopt};
    const std::string_view stand_in = verdict.keyword == "import " ? import_stand_in : from_stand_in;
    const std::size_t at = stand_in.size() - 1;
    const std::size_t after = resume + verdict.head.size();
    // The stand-in's name runs on.
    if (long_name && resume == long_name->at)
        return {stand_in, after, LongName{long_name->start, long_name->before + verdict.head.size() - 1, at}};
    // A name that begins in this piece begins in what the last fill brought: the carried
    // bytes before it are a keyword, white space or a cut character.
    return {stand_in, after, LongName{scratch.lines.file_offset(resume), verdict.head.size(), at}};
}

void FileScan::last_piece() {
    if (!search(scratch.lines.text())) return;
    if (!take_long_name(names)) return;
    for (const std::string_view head : scratch.heads) names.insert(head);
    if (!scratch.pending.empty()) names.absorb(scratch.pending);
}

}  // namespace

void scan_python_file(int fd, NameCollector& names, ScanScratch& scratch, const SearchKernel& kernel,
                      std::uint64_t size) {
    FileScan scan{fd, names, scratch, kernel};
    scratch.lines.start(size);
    for (;;) {
        switch (scratch.lines.fill(fd)) {
            case LineBuffer::Fill::error:
                return;
            case LineBuffer::Fill::end:
                scan.last_piece();
                return;
            case LineBuffer::Fill::more:
                scratch.stop();
                if (!scan.piece()) return;
        }
    }
}

}  // namespace vornu
