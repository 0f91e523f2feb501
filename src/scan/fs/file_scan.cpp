// The piece-by-piece reading of one Python file, and the carrying of cut lines.
#include "scan/fs/file_scan.hpp"

#include "scan/text/ident_chars.hpp"
#include "scan/text/import_line.hpp"

namespace vornu {
namespace {

// The reading of one file. Until the whole file has proved valid UTF-8, a name that the
// set lacks waits aside, held once however often it comes.
struct FileScan {
    NameCollector& names;
    ScanScratch& scratch;
    const SearchKernel& kernel;
    // The carried bytes when they are a keyword and the start of a name that the last
    // piece cut: ASCII, checked, and sure to go on as a name or to end it. 0 otherwise.
    std::size_t open_name = 0;

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

    bool extends_open_name(std::string_view text);
    bool piece();
    bool carry_cut_line(std::string_view text, std::size_t whole);
    void last_piece();
};

// A name that runs on through piece after piece costs one look at each new byte, not a
// new reading of the whole name each time.
bool FileScan::extends_open_name(std::string_view text) {
    for (std::size_t i = open_name; i < text.size(); ++i)
        if (!ident_rest[static_cast<unsigned char>(text[i])]) return false;
    open_name = text.size();
    scratch.lines.carry_all();
    return true;
}

bool FileScan::piece() {
    const std::string_view text = scratch.lines.text();
    const std::size_t whole = scratch.lines.whole_length();
    if (whole == 0 && open_name != 0 && extends_open_name(text)) return true;
    if (!search(text.substr(0, whole))) return false;
    hold_heads();
    return carry_cut_line(text, whole);
}

// Decides the line that the piece cut, where it can be decided, and carries what it still
// needs into the next piece.
bool FileScan::carry_cut_line(std::string_view text, std::size_t whole) {
    const std::string_view cut = text.substr(whole);
    // Carried bytes of an open name were checked when they came; a line feed ends the
    // name, so only a cut line with no line feed in the piece still starts with them.
    const std::size_t checked = whole == 0 ? open_name : 0;
    const Utf8Check check = kernel.check_piece(cut.substr(checked));
    if (!check.valid) return false;
    const LineVerdict verdict = recognise_cut_line(cut);
    open_name = 0;
    if (verdict.kind == LineVerdict::undecided) {
        // What is carried runs to the end of the piece, so it holds any cut character.
        scratch.lines.carry(verdict.keyword, whole + verdict.resume_at);
        if (verdict.in_name) open_name = scratch.lines.carried();
        return true;
    }
    if (verdict.kind == LineVerdict::name) {
        scratch.heads.push_back(verdict.head);
        hold_heads();
    }
    // A decided line leaves a stand-in that can never start an import, and the bytes of a
    // character that the piece cut, to be checked once it is whole.
    scratch.lines.carry("#", text.size() - check.cut_length);
    return true;
}

void FileScan::last_piece() {
    if (!search(scratch.lines.text())) return;
    for (const std::string_view head : scratch.heads) names.insert(head);
    if (!scratch.pending.empty()) names.absorb(scratch.pending);
}

}  // namespace

void scan_python_file(int fd, NameCollector& names, ScanScratch& scratch, const SearchKernel& kernel,
                      std::uint64_t size) {
    FileScan scan{names, scratch, kernel};
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
