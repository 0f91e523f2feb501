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

// The name of the carried line's stand-in, when there is one.
struct LongName {
    std::uint64_t start = 0;  // where the name begins in the file
    std::size_t before = 0;   // its bytes in earlier pieces, which the stand-in replaces
    std::size_t at = 0;       // the stand-in's place in the carried text
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
    void carry_open_name(const LineVerdict& verdict, std::size_t token);
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
    if (verdict.kind == LineVerdict::undecided) {
        // What is carried runs to the end of the piece, so it holds any cut character.
        if (verdict.head.empty()) {
            long_name.reset();
            scratch.lines.carry(verdict.keyword, whole + verdict.resume_at);
        } else {
            carry_open_name(verdict, whole + verdict.resume_at);
        }
        return true;
    }
    if (verdict.kind == LineVerdict::name) {
        scratch.heads.push_back(verdict.head);
        if (!take_long_name(scratch.pending)) return false;
        hold_heads();
    }
    long_name.reset();
    // A decided line leaves a stand-in that can never start an import, and the bytes of a
    // character that the piece cut, to be checked once it is whole.
    scratch.lines.carry("#", text.size() - check.cut_length);
    return true;
}

// The cut line is a keyword and a name that the piece ended in or right after, at `token`
// of the text: the keyword, a stand-in for the name so far, and the bytes after it go on.
void FileScan::carry_open_name(const LineVerdict& verdict, std::size_t token) {
    const std::size_t after = token + verdict.head.size();
    if (long_name && token == long_name->at) {
        long_name->before += verdict.head.size() - 1;  // the stand-in's name runs on
    } else {
        // A name that begins in this piece begins in what the last fill brought: the
        // carried bytes before it are a keyword, white space or a cut character.
        long_name = LongName{scratch.lines.file_offset(token), verdict.head.size(), 0};
    }
    const std::string_view stand_in = verdict.keyword == "import " ? import_stand_in : from_stand_in;
    long_name->at = stand_in.size() - 1;
    scratch.lines.carry(stand_in, after);
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
                if (!scan.piece()) return;
        }
    }
}

}  // namespace vornu
