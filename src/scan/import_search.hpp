#pragma once

#include <string_view>
#include <vector>

namespace vornu {

// Appends to `heads` the module name of every import line in `text`, in order, as views
// into `text`. `text` begins at the start of a line and holds whole lines: each ends with
// a line feed, except perhaps the last, which then ends the file. The text must be valid
// UTF-8. Gives the same names as `import_root_of_line` applied to each line, but finds
// the rare candidate lines without visiting every line.
void find_imports(std::string_view text, std::vector<std::string_view>& heads);

}  // namespace vornu
