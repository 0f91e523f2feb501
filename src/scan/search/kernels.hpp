// The entry points of each kernel, as the kernel table lists them. Each lives in its own
// file, compiled for its own instruction set.
#pragma once

#include <string_view>

#include "scan/search/kernel.hpp"

namespace vornu {

Utf8Verdict find_imports_scalar(std::string_view text, Heads& heads);
Utf8Check check_piece_scalar(std::string_view text);

#if defined(__x86_64__)
Utf8Verdict find_imports_sse2(std::string_view text, Heads& heads);
Utf8Check check_piece_sse2(std::string_view text);

Utf8Verdict find_imports_avx2(std::string_view text, Heads& heads);
Utf8Check check_piece_avx2(std::string_view text);

Utf8Verdict find_imports_avx512(std::string_view text, Heads& heads);
Utf8Check check_piece_avx512(std::string_view text);
#endif

}  // namespace vornu
