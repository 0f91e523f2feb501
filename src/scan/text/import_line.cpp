// The line recogniser: one reading for lines that a read cut, and whole lines as cut lines
// that nothing follows.
#include "scan/text/import_line.hpp"

#include <cstring>

#include "scan/text/ident_chars.hpp"
#include "scan/text/unicode_space.hpp"

namespace vornu {
namespace {

constexpr std::string_view import_keyword = "import ";
constexpr std::string_view from_keyword = "from ";

using Byte = unsigned char;

const Byte* skip_spaces(const Byte* p, const Byte* end) {
    while (p < end) {
        const std::size_t n = space_length_at(p, end);
        if (n == 0) break;
        p += n;
    }
    return p;
}

bool starts_with(const Byte* p, const Byte* end, std::string_view word) {
    return static_cast<std::size_t>(end - p) >= word.size() &&
           std::memcmp(p, word.data(), word.size()) == 0;
}

// True if the text [p, end) is a proper beginning of `word`.
bool is_cut_word(const Byte* p, const Byte* end, std::string_view word) {
    const auto left = static_cast<std::size_t>(end - p);
    return left < word.size() && std::memcmp(p, word.data(), left) == 0;
}

}  // namespace

bool is_valid_ident(std::string_view text) {
    if (text.empty() || !ident_start[static_cast<Byte>(text[0])]) return false;
    for (std::size_t i = 1; i < text.size(); ++i)
        if (!ident_rest[static_cast<Byte>(text[i])]) return false;
    return true;
}

// The one reading of a line, as far as its bytes go. Where the line stops at a point that
// more bytes could change (inside the leading white space, the keyword, the white space
// after it or the name, or at the first bytes of a character that may be white space),
// the verdict is `undecided`; everything else is final.
LineVerdict recognise_cut_line(std::string_view line) {
    const auto* const start = reinterpret_cast<const Byte*>(line.data());
    const Byte* const end = start + line.size();
    auto undecided = [&](std::string_view keyword, const Byte* resume) {
        LineVerdict verdict;
        verdict.kind = LineVerdict::undecided;
        verdict.keyword = keyword;
        verdict.resume_at = static_cast<std::size_t>(resume - start);
        return verdict;
    };
    // At `p` the text ends, or a cut character may yet turn out to be white space.
    auto may_go_on = [&](const Byte* p) { return p == end || could_be_cut_space(p, end); };

    const Byte* p = skip_spaces(start, end);
    if (may_go_on(p)) return undecided({}, p);

    std::string_view keyword;
    if (starts_with(p, end, import_keyword)) {
        keyword = import_keyword;
    } else if (starts_with(p, end, from_keyword)) {
        keyword = from_keyword;
    } else {
        if (is_cut_word(p, end, import_keyword) || is_cut_word(p, end, from_keyword)) return undecided({}, p);
        return {};
    }

    const Byte* token = skip_spaces(p + keyword.size(), end);
    if (may_go_on(token)) return undecided(keyword, token);
    if (!ident_start[*token]) return {};

    const Byte* q = token + 1;
    while (q < end && ident_rest[*q]) ++q;
    const std::string_view head(reinterpret_cast<const char*>(token), static_cast<std::size_t>(q - token));
    // The head ends at the token's first full stop or at the end of the token; any other
    // character inside it spoils the name.
    if (q == end || (*q != '.' && space_length_at(q, end) == 0)) {
        if (!may_go_on(q)) return {};
        LineVerdict verdict = undecided(keyword, token);
        verdict.head = head;
        verdict.in_name = q == end;
        return verdict;
    }

    LineVerdict verdict;
    verdict.kind = LineVerdict::name;
    verdict.head = head;
    return verdict;
}

// A whole line is a cut line that nothing follows: of the places where more bytes could
// change the verdict, only a name running to the line's end is a name once the line ends.
// White space, a keyword or a character cut at the end all leave no name.
std::optional<std::string_view> recognise_whole_line(std::string_view line) {
    const LineVerdict verdict = recognise_cut_line(line);
    if (verdict.kind == LineVerdict::name) return verdict.head;
    if (verdict.kind == LineVerdict::undecided && verdict.in_name) return line.substr(verdict.resume_at);
    return std::nullopt;
}

std::optional<std::string> import_root_of_line(std::string_view line) {
    if (const auto head = recognise_whole_line(line)) return std::string(*head);
    return std::nullopt;
}

}  // namespace vornu
