// Which top-level module one line of Python source imports, if any.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vornu {

// ASCII letters, digits and underscores, not starting with a digit. Narrower than
// Python's own identifiers on purpose: non-ASCII names are never module names here.
bool is_valid_ident(std::string_view text);

// The top-level module that one line (without its line terminator) imports, if any:
// after leading white space, "import " or "from " (one ASCII space), then the first
// white-space-delimited token, cut before its first full stop.
std::optional<std::string> import_root_of_line(std::string_view line);

// The same name, as a view into `line`.
std::optional<std::string_view> recognise_whole_line(std::string_view line);

// The recogniser's answer for a line that may still go on, as happens when a file is
// read in pieces and a piece ends inside a line.
struct LineVerdict {
    enum Kind { no_name, name, undecided };
    Kind kind = no_name;
    // The module name, for `name`. For `undecided`, the name so far where the line stops
    // inside it or right after it (at a character cut at the end); empty otherwise.
    std::string_view head;
    std::string_view keyword;  // "import ", "from " or empty, for `undecided`
    std::size_t resume_at = 0; // for `undecided`: the rest of the line that still matters
                               // is `keyword` followed by the line from this offset on
    bool in_name = false;      // for `undecided`: the line ends inside a name, which is all
                               // of the line from `resume_at` on
};

// The verdict on a line of which only a start has come: `no_name` and `name` are what the
// whole line gives, whatever follows; `undecided` where what follows may change that.
LineVerdict recognise_cut_line(std::string_view line);

}  // namespace vornu
