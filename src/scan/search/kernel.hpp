// The search kernels: one record per instruction set, and the one this process uses.
#pragma once

#include <span>
#include <stdexcept>
#include <string_view>

#include "scan/search/candidate.hpp"
#include "scan/text/utf8.hpp"

namespace vornu {

enum class Utf8Verdict : bool { invalid = false, valid = true };

struct SearchKernel {
    std::string_view name;
    bool (*supported)() noexcept;
    // Appends to `heads` the module name of every import line in `text`, in order, as views
    // into `text`: the names that `import_root_of_line` gives for each of its lines, found
    // without visiting every line. `text` starts at a line's start and ends at a line's end
    // or at the end of the file. The verdict says whether `text` is valid UTF-8 with no
    // character cut off at its end; where it is not, the names mean nothing and the search
    // may have stopped early.
    Utf8Verdict (*find_imports)(std::string_view text, Heads& heads);
    // The UTF-8 check of a piece of text that may end inside a character, as the free
    // check_utf8 makes it, with this kernel's way of skipping ASCII.
    Utf8Check (*check_piece)(std::string_view text);
};

// Every kernel built into the library, widest first; the last, plain C++, runs anywhere.
std::span<const SearchKernel> search_kernels();

// A forced kernel that cannot be had: its name is unknown, or this processor cannot run it.
class KernelOverrideError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The kernel this process uses: the widest that the processor supports, chosen at the
// first call; or the one that the environment variable VORNU_FORCE_KERNEL names, a hook
// for tests and benchmarks (empty counts as unset). A forced kernel is a demand, not a
// wish, as simdutf's forced implementation is: if the name is unknown or this processor
// cannot run that kernel, every call throws KernelOverrideError, so that nothing is ever
// scanned, tested or measured with another kernel than the one named.
const SearchKernel& active_search_kernel();

// The choice itself among `kernels`, for a given value of the override (null when unset).
const SearchKernel& choose_search_kernel(const char* forced, std::span<const SearchKernel> kernels = search_kernels());

}  // namespace vornu
