#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scan/text/import_line.hpp"

using vornu::import_root_of_line;
using vornu::is_valid_ident;
using vornu::LineVerdict;
using vornu::recognise_cut_line;

namespace {

struct LineCase {
    std::string line;
    std::optional<std::string> expected;
};

// Every white-space character of the Unicode White_Space property, in UTF-8.
const std::vector<std::string> unicode_spaces = {
    "\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80"};

// Characters that look like white space or sit next to it in the code tables, but are not.
const std::vector<std::string> not_spaces = {
    "\x1C", "\x1D", "\x1E", "\x1F", "\xC2\x84", "\xC2\xA1", "\xE1\x9A\x81",
    "\xE2\x80\x8B" /* zero width space */, "\xE2\x80\xAE", "\xE2\x81\xA0" /* word joiner */,
    "\xEF\xBB\xBF" /* byte-order mark */, "\xE3\x80\x81"};

TEST(ImportRootOfLine, RecognisesTheLineForms) {
    const std::vector<LineCase> cases = {
        {"import os", "os"},
        {"import os.path", "os"},
        {"import os.path as p", "os"},
        {"import numpy as np", "numpy"},
        {"from a.b.c import d", "a"},
        {"from __future__ import annotations", "__future__"},
        {"from os import path, sep", "os"},
        {"    import json", "json"},
        {"\timport json", "json"},
        {"import    sys", "sys"},
        {"import \xC2\xA0sys", "sys"},
        {"import os, sys", std::nullopt},
        {"import os,sys", std::nullopt},
        {"from . import x", std::nullopt},
        {"from .mod import x", std::nullopt},
        {"from .. import x", std::nullopt},
        {"from (", std::nullopt},
        {"import\tos", std::nullopt},
        {"from\tx import y", std::nullopt},
        {"Import os", std::nullopt},
        {"importlib.reload(m)", std::nullopt},
        {"fromage = 1", std::nullopt},
        {"imports = []", std::nullopt},
        {"x = 1; import os", std::nullopt},
        {"if x: import y", std::nullopt},
        {"# import os", std::nullopt},
        {"import", std::nullopt},
        {"from", std::nullopt},
        {"import ", std::nullopt},
        {"import    ", std::nullopt},
        {"from ", std::nullopt},
        {"impor", std::nullopt},
        {"", std::nullopt},
        {"import 3d", std::nullopt},
        {"import caf\xC3\xA9", std::nullopt},
        {"import a-b", std::nullopt},
        {"import _private", "_private"},
        {"import A1", "A1"},
        {"import CamelCase", "CamelCase"},
        {"import os\r", "os"},
        {"import os  # comment", "os"},
        {"import os#comment", std::nullopt},
        {"import os.", "os"},
        {"import os..x", "os"},
        {"import os.caf\xC3\xA9", "os"},
        {"from os.path import (", "os"},
        {"import .x", std::nullopt},
        {"\xEF\xBB\xBFimport os", std::nullopt},
        {"import \xEF\xBB\xBFos", std::nullopt},
        {"import os\xEF\xBB\xBF", std::nullopt},
        {"import x y z", "x"},
        {"from from import import", "from"},
        {"import import", "import"},
        {"  \t import  a.b", "a"},
        {"import\xC2\xA0os", std::nullopt},
        {"import _", "_"},
        {"import __", "__"},
        {"import a1b2_", "a1b2_"},
        {"import Ä", std::nullopt},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(import_root_of_line(c.line), c.expected) << "line: " << c.line;
}

TEST(ImportRootOfLine, EveryUnicodeSpaceStripsSeparatesAndEnds) {
    for (const std::string& space : unicode_spaces) {
        EXPECT_EQ(import_root_of_line(space + "import os"), "os") << "leading";
        EXPECT_EQ(import_root_of_line(space + space + "from os import x"), "os") << "leading twice";
        EXPECT_EQ(import_root_of_line("import " + space + "os"), "os") << "between";
        EXPECT_EQ(import_root_of_line("import os" + space + "x"), "os") << "ends the token";
        EXPECT_EQ(import_root_of_line("import" + space + "os"),
                  space == " " ? std::optional<std::string>("os") : std::nullopt)
            << "only a plain space follows the keyword";
    }
}

TEST(ImportRootOfLine, LookalikesOfSpaceAreNotSpace) {
    for (const std::string& other : not_spaces) {
        EXPECT_EQ(import_root_of_line(other + "import os"), std::nullopt);
        EXPECT_EQ(import_root_of_line("import " + other + "os"), std::nullopt);
        EXPECT_EQ(import_root_of_line("import os" + other), std::nullopt);
    }
}

TEST(IsValidIdent, FollowsTheAsciiIdentifierRule) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", false},    {"a", true},      {"_", true},       {"Z9", true},   {"9a", false},
        {"a-b", false}, {"caf\xC3\xA9", false}, {"a b", false}, {"a.b", false}, {"__init__", true},
        {std::string("a\0b", 3), false},  {"\xC3\xA9", false}, {"abc$", false}, {"A_1_b", true},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(is_valid_ident(text), expected) << text;
}

// A line that is cut anywhere either is already decided exactly as the whole line, or
// is resumable: what it keeps, followed by the rest, gives the whole line's answer.
TEST(RecogniseCutLine, CutLinesResumeToTheSameAnswer) {
    std::vector<std::string> lines = {
        "import os.path", "   from a.b import c", "import \xC2\xA0sys", "imports = 1",
        "\xE2\x80\x80\xE3\x80\x80import x\xE2\x80\xA8y", "import caf\xC3\xA9", "from\tx",
        "import os\xC2\x85", "import os\xC2\xA9", "  import    averyveryverylongname_1 as z",
        "from .x import y", "import", "fr", "\xE1\x9A\x80\xE1\x9A\x81"};
    for (const std::string& space : unicode_spaces) lines.push_back(space + "import a" + space);
    for (const std::string& line : lines) {
        const auto whole = import_root_of_line(line);
        for (std::size_t cut = 0; cut <= line.size(); ++cut) {
            const std::string head = line.substr(0, cut);
            const LineVerdict verdict = recognise_cut_line(head);
            std::optional<std::string> got;
            if (verdict.kind == LineVerdict::name) {
                got = std::string(verdict.head);
            } else if (verdict.kind == LineVerdict::undecided) {
                const std::string resumed =
                    std::string(verdict.keyword) + head.substr(verdict.resume_at) + line.substr(cut);
                got = import_root_of_line(resumed);
                EXPECT_LE(resumed.size(), line.size());
            }
            EXPECT_EQ(got, whole) << "line: " << line << " cut at " << cut;
        }
    }
}

}  // namespace
