// The slow, obvious reading of a text that the fast paths are checked against: the text
// validated as a whole, split at every line feed, and each line given to the recogniser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/names/name_set.hpp"
#include "scan/text/import_line.hpp"
#include "scan/text/utf8.hpp"

// The name of every line, in order, whatever the text's validity.
inline std::vector<std::string> names_line_by_line(std::string_view text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (auto name = vornu::import_root_of_line(text.substr(start, end - start))) names.push_back(*name);
        start = end + 1;
    }
    return names;
}

// A file's names: none at all unless the whole text is valid UTF-8.
inline vornu::NameSet reference_file_names(std::string_view text) {
    if (!vornu::is_valid_utf8(text)) return {};
    const std::vector<std::string> names = names_line_by_line(text);
    return {names.begin(), names.end()};
}
