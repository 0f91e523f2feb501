#include "scan/fs/file_scan.hpp"

#include <string.h>

#include <algorithm>
#include <cstring>

#include "scan/text/import_line.hpp"
#include "scan/fs/system_calls.hpp"
#include "scan/search/kernel.hpp"

namespace vornu {
namespace {

using Byte = unsigned char;

// A decided cut line is kept as one stand-in byte and at most three bytes of a cut
// character, which may be more than the piece held; and a cut line that is still
// undecided is short, but for an enormous name. So the buffer holds a chunk and a little
// more, and grows only for such a name.
constexpr std::size_t kept_room = 4096;

void ensure_capacity(FileScratch& scratch, std::size_t kept) {
    const std::size_t needed = std::max(kept, kept_room) + scratch.chunk;
    if (scratch.capacity >= needed) return;
    // An enormous name grows the buffer geometrically, so its text is copied a few times
    // in all, not once per chunk.
    const std::size_t capacity = scratch.capacity == 0 ? needed : std::max(needed, 2 * scratch.capacity);
    auto grown = std::make_unique_for_overwrite<Byte[]>(capacity);
    if (kept != 0) std::memcpy(grown.get(), scratch.buffer.get(), kept);
    scratch.buffer = std::move(grown);
    scratch.capacity = capacity;
}

// Reads until a whole chunk has arrived or the file ends. Returns false on a read error.
bool fill(int fd, FileScratch& scratch, std::size_t& length, bool& at_end) {
    const std::size_t limit = length + scratch.chunk;
    while (length < limit) {
        const long n = sys::read(fd, scratch.buffer.get() + length, limit - length);
        if (n < 0) return false;
        if (n == 0) {
            at_end = true;
            return true;
        }
        length += static_cast<std::size_t>(n);
    }
    return true;
}

// Until the whole file has proved valid, a name that is new to the set waits aside.
void hold(const std::vector<std::string_view>& heads, NameCollector& names,
          std::vector<std::string>& pending) {
    for (std::string_view head : heads)
        if (!names.contains(head)) pending.emplace_back(head);
}

}  // namespace

FileScratch& thread_scratch() {
    thread_local FileScratch scratch;
    return scratch;
}

void scan_python_file(int fd, NameCollector& names, FileScratch& scratch) {
    // A cut line can only grow the buffer if it is one enormous name; give such memory back.
    struct Trim {
        FileScratch& scratch;
        ~Trim() {
            if (scratch.capacity > kept_room + scratch.chunk) {
                scratch.buffer.reset();
                scratch.capacity = 0;
            }
        }
    } trim{scratch};
    const SearchKernel& kernel = active_search_kernel();
    std::size_t kept = 0;  // bytes of a cut line carried over at the start of the buffer
    bool first_piece = true;
    scratch.pending.clear();
    for (;;) {
        ensure_capacity(scratch, kept);
        std::size_t length = kept;
        bool at_end = false;
        if (!fill(fd, scratch, length, at_end)) return;
        const auto* text = reinterpret_cast<const char*>(scratch.buffer.get());
        scratch.heads.clear();

        if (at_end) {
            if (kernel.find_imports(std::string_view(text, length), scratch.heads) == Utf8Verdict::invalid) return;
            if (first_piece) {
                // The common case: the whole file came in one piece and has proved valid.
                for (std::string_view head : scratch.heads) names.insert(head);
                return;
            }
            hold(scratch.heads, names, scratch.pending);
            for (std::string& name : scratch.pending) names.insert(std::move(name));
            scratch.pending.clear();
            return;
        }

        // The whole lines are searched now; the line that the piece cuts is kept, as far as
        // it still matters, in front of the next piece. A character cut with it is kept too,
        // so that it is checked once it is whole.
        first_piece = false;
        const void* last_feed = ::memrchr(text, '\n', length);
        const std::size_t whole = last_feed ? static_cast<std::size_t>(static_cast<const char*>(last_feed) - text) + 1 : 0;
        if (kernel.find_imports(std::string_view(text, whole), scratch.heads) == Utf8Verdict::invalid) return;
        const std::string_view cut(text + whole, length - whole);
        const Utf8Check check = kernel.check_utf8(cut);
        if (!check.valid) return;
        const LineVerdict verdict = recognise_line(cut, false);
        if (verdict.kind == LineVerdict::name) scratch.heads.push_back(verdict.head);
        hold(scratch.heads, names, scratch.pending);
        if (verdict.kind == LineVerdict::undecided) {
            // What is kept runs to the end of the piece, so it holds any cut character.
            const std::string_view rest = cut.substr(verdict.resume_at);
            std::memmove(scratch.buffer.get() + verdict.keyword.size(), rest.data(), rest.size());
            if (!verdict.keyword.empty())
                std::memcpy(scratch.buffer.get(), verdict.keyword.data(), verdict.keyword.size());
            kept = verdict.keyword.size() + rest.size();
        } else {
            // A decided line leaves a stand-in that can never start an import.
            std::memmove(scratch.buffer.get() + 1, cut.data() + cut.size() - check.cut_length,
                         check.cut_length);
            scratch.buffer[0] = '#';
            kept = 1 + check.cut_length;
        }
    }
}

}  // namespace vornu
