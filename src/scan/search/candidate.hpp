// The closer look at one place where a keyword may start, shared by every search kernel.
#pragma once

#include <string_view>
#include <vector>

namespace vornu {

using Heads = std::vector<std::string_view>;

// `p` holds "im" or "fr", inside the text [begin, end) that starts at a line's start.
// Appends the line's module name to `heads` if the line's first word is a keyword and the
// line names one.
void check_candidate(const unsigned char* begin, const unsigned char* end, const unsigned char* p,
                     Heads& heads);

inline bool is_candidate_pair(const unsigned char* p) {
    return (p[0] == 'i' && p[1] == 'm') || (p[0] == 'f' && p[1] == 'r');
}

}  // namespace vornu
