// The plain C++ kernel: every byte pair looked at, then the UTF-8 check. Runs anywhere.
#include "scan/search/kernels.hpp"

namespace vornu {

Utf8Verdict find_imports_scalar(std::string_view text, Heads& heads) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = begin + text.size();
    for (const unsigned char* p = begin; end - p >= 2; ++p)
        if (is_candidate_pair(p)) collect_candidate(begin, end, p, heads);
    return Utf8Verdict{is_valid_utf8(text)};
}

Utf8Check check_piece_scalar(std::string_view text) { return check_utf8(text); }

}  // namespace vornu
