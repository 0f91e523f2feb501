// Every supported search kernel against the slow reading of the same bytes: the names that
// the full recogniser gives line by line, and the plain UTF-8 validator's verdict.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "scan/text/utf8.hpp"
#include "support/line_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer's copy of the input is exactly `size` bytes long, so any read past either
    // end of the text is caught by AddressSanitizer.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool valid = vornu::is_valid_utf8(text);
    const vornu::Utf8Check plain = vornu::check_utf8(text);
    fuzz::check(plain.cut_length <= 3, "check_utf8 cuts off more than three bytes");
    std::vector<std::string> expected;
    if (valid) expected = names_line_by_line(text);

    for (const vornu::SearchKernel* kernel : fuzz::supported_kernels()) {
        vornu::Heads heads;
        const bool verdict = kernel->find_imports(text, heads) == vornu::Utf8Verdict::valid;
        fuzz::check(verdict == valid, "find_imports verdict differs from the plain validator", kernel->name);
        if (valid) {
            fuzz::check(heads.size() == expected.size(), "find_imports found another number of names", kernel->name);
            for (std::size_t i = 0; i < heads.size(); ++i) {
                fuzz::check(heads[i] == expected[i], "find_imports found another name", kernel->name);
                fuzz::check(heads[i].data() >= text.data() && heads[i].data() + heads[i].size() <= text.data() + text.size(),
                            "a name is not a view into the text", kernel->name);
            }
        }
        const vornu::Utf8Check piece = kernel->check_piece(text);
        fuzz::check(piece.valid == plain.valid, "check_piece validity differs from the plain check", kernel->name);
        if (plain.valid)
            fuzz::check(piece.cut_length == plain.cut_length, "check_piece cut length differs from the plain check", kernel->name);
    }
    return 0;
}
