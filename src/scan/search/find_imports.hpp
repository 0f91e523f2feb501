#pragma once

#include <string_view>
#include <vector>

namespace vornu {

// Appends to `heads` the module name of every import line in `text`, in order, as views
// into `text`, and returns whether `text` is valid UTF-8. `text` begins at the start of a
// line and holds whole lines: each ends with a line feed, except perhaps the last, which
// then ends the file. Gives the same names as `import_root_of_line` applied to each line,
// but finds the rare candidate lines without visiting every line, and checks the UTF-8 in
// the same pass. The names of invalid text mean nothing; the search may stop early there.
bool find_imports(std::string_view text, std::vector<std::string_view>& heads);

// The same search restricted to narrower vector code, so that every form can be tested on
// any processor.
enum class SearchWidth { widest, sse2, bytes };
bool find_imports(std::string_view text, std::vector<std::string_view>& heads, SearchWidth width);

}  // namespace vornu
