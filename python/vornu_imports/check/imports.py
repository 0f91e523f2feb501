"""What the code really imports: Python's own parser over the few files that decide a finding,
and over notebooks; and the looks at a file's bytes that pick those few."""

from __future__ import annotations

# `_ast` rather than `ast`: the parser's nodes without the helpers around them, whose
# imports (enum, contextlib) cost a small project's check more than its parse.
import _ast as ast
import re

from vornu_imports.check.model import Site

# The import statements of a line, in any of the forms Python allows ("import a, b",
# "try: import x", "x = 1; import y", a tab after the keyword): at the line's start or after
# ":" or ";". Prose at a line's start matches too; the parser sorts it out.
STATEMENT = re.compile(rb"(?:^[ \t\f]*|[:;][ \t]*)(import|from)[ \t]+([^#;\n]*)")
IMPORT_ERRORS = {"ImportError", "ModuleNotFoundError", "Exception", "BaseException"}
# Cell magics whose cell is still Python.
PYTHON_CELL_MAGICS = {"%%time", "%%timeit", "%%capture", "%%prun", "%%debug"}


class Parsed:
    def __init__(self) -> None:
        self.sites: dict[str, list[Site]] = {}
        self.error: str | None = None


def imported_names(data: bytes) -> tuple[set[str], bool]:
    """Every name that a line holding the word "import" may import, and whether an "import"
    statement goes on past its line's end with a backslash (its names then cannot all be
    seen). A statement always has "import" on its first line, "from x import (" included; a
    line with "from" and no "import", which the scan takes, is prose. Found with bytes.find,
    which runs at memory speed, rather than a regular expression over every byte."""
    names: set[str] = set()
    continued = False
    position = data.find(b"import")
    while position >= 0:
        start = data.rfind(b"\n", 0, position) + 1
        end = data.find(b"\n", position)
        if end < 0:
            end = len(data)
        found, goes_on = statements(data[start:end])
        names |= found
        continued = continued or goes_on
        position = data.find(b"import", end)
    return names, continued


def statements(line: bytes) -> tuple[set[str], bool]:
    """The names the import statements of a line may import, and whether one goes on past
    the line's end with a backslash."""
    names = set()
    continued = False
    for keyword, rest in STATEMENT.findall(line):
        pieces = rest.split(b",") if keyword == b"import" else [rest]
        continued = continued or (keyword == b"import" and rest.rstrip().endswith(b"\\"))
        for piece in pieces:
            words = piece.split()
            if words:
                name = words[0].split(b".")[0].decode("utf-8", "replace")
                if name.isidentifier():
                    names.add(name)
    return names, continued


def look(data: bytes) -> tuple[set[str], bool]:
    """The names a file may import, found in its bytes, and whether it must be parsed
    whatever they are: a file the scan cannot read (not UTF-8, or starting with a byte-order
    mark, which hides its first line) or one whose names cannot all be seen."""
    names, continued = imported_names(data)
    if continued or data.startswith(b"\xef\xbb\xbf"):
        return names, True
    if not data.isascii():
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            return names, True
    return names, False


# The first line of a compound statement whose block holds the lines indented below it.
HEADER = re.compile(
    rb"[ \t]*(async[ \t]+def|def|class|if|elif|else|try|except|finally|with|async[ \t]+with|for|async[ \t]+for"
    rb"|while|match|case)\b[^#]*:[ \t]*(?:#.*)?\r?$"
)


# The first line of an import statement, as far as its words go: "import" and dotted names
# with "as" and commas; or "from", a dotted name and "import". A line that the scan reads as
# an import and that does not look so is prose: "import error." ends a sentence of a
# docstring, and "from oldest to newest" has no "import" at all.
NAME = rb"[A-Za-z_][A-Za-z0-9_]*"
DOTTED = NAME + rb"(?:[ \t]*\.[ \t]*" + NAME + rb")*"
ALIASED = DOTTED + rb"(?:[ \t]+as[ \t]+" + NAME + rb")?"
FIRST_LINE = re.compile(
    rb"[ \t\f]*(?:import[ \t]+" + ALIASED + rb"(?:[ \t]*,[ \t]*" + ALIASED + rb")*[ \t]*(?:[#;].*|,[ \t]*\\)?"
    rb"|from[ \t]+" + DOTTED + rb"[ \t]+import\b.*|.*\\)[ \t\r]*"
)


def rule_lines(data: bytes, name: str) -> list[tuple[int, int]]:
    """(start, end) of each line that the scan reads as an import of `name` and that looks
    like the first line of an import statement (`FIRST_LINE`); the parser has the last word."""
    lines = []
    for keyword in (b"import ", b"from "):
        needle = keyword + name.encode()
        position = data.find(needle)
        while position >= 0:
            start = data.rfind(b"\n", 0, position) + 1
            after = position + len(needle)
            follows = data[after:after + 1]
            if not data[start:position].strip() and (not follows or follows.isspace() or follows == b"."):
                end = data.find(b"\n", after)
                end = len(data) if end < 0 else end
                if FIRST_LINE.fullmatch(data, start, end):
                    lines.append((start, end))
            position = data.find(needle, after)
    return lines


def in_functions_only(data: bytes, lines: list[tuple[int, int]]) -> bool:
    """Whether each of these lines certainly lies in the body of a function, seen from the
    indentation alone, so that none runs when the module is imported: it is indented, and
    the blocks around it, found by going up to a line indented less, are headed by compound
    statements up to a `def`. A line that a string or a bracket holds is never taken for a
    header unless it looks like one, and anything else answers False: the parser then
    decides."""
    return bool(lines) and all(in_function(data, start) for start, _ in lines)


def indentation(line: bytes) -> int:
    return len(line) - len(line.lstrip(b" \t"))


def in_function(data: bytes, start: int) -> bool:
    end = data.find(b"\n", start)
    depth = indentation(data[start:end if end >= 0 else len(data)])
    end = start - 1
    while end > 0 and depth > 0:
        begin = data.rfind(b"\n", 0, end) + 1
        line = data[begin:end]
        end = begin - 1
        stripped = line.strip()
        if not stripped or stripped.startswith(b"#") or indentation(line) >= depth:
            continue
        header = HEADER.match(line)
        if header is None:
            return False
        if header.group(1).endswith(b"def"):
            return True
        depth = indentation(line)
    return False


def is_type_checking(test: ast.expr) -> bool:
    return (isinstance(test, ast.Name) and test.id == "TYPE_CHECKING") or (
        isinstance(test, ast.Attribute) and test.attr == "TYPE_CHECKING"
    )


def catches_import_error(handlers: list[ast.ExceptHandler]) -> bool:
    for handler in handlers:
        kinds = handler.type.elts if isinstance(handler.type, ast.Tuple) else [handler.type]
        for kind in kinds:
            if kind is None:
                return True
            name = kind.id if isinstance(kind, ast.Name) else kind.attr if isinstance(kind, ast.Attribute) else ""
            if name in IMPORT_ERRORS:
                return True
    return False


BODIES = ("body", "orelse", "finalbody", "handlers", "cases")


def collect(tree: ast.Module, file: str, cell: int | None, into: Parsed) -> None:
    """The import statements of a module with where they stand. Only statement bodies are
    walked, never expressions, which hold no import statement; a stack rather than recursion,
    so that any tree the parser accepted is walked."""
    stack: list[tuple[ast.AST, bool, bool, bool]] = [(node, False, False, False) for node in tree.body]
    while stack:
        node, checking, guarded, deferred = stack.pop()
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            if isinstance(node, ast.Import):
                modules = [alias.name for alias in node.names]
            else:
                modules = [node.module] if node.module and not node.level else []
            for module in modules:
                site = Site(file, node.lineno, cell, checking, guarded, deferred)
                into.sites.setdefault(module.split(".")[0], []).append(site)
            continue
        if isinstance(node, ast.If):
            test = node.test
            negated = isinstance(test, ast.UnaryOp) and isinstance(test.op, ast.Not)
            operand = test.operand if isinstance(test, ast.UnaryOp) else test
            if is_type_checking(operand):
                stack += [(child, checking or not negated, guarded, deferred) for child in node.body]
                stack += [(child, checking or negated, guarded, deferred) for child in node.orelse]
                continue
        if isinstance(node, (ast.Try, ast.TryStar)) and catches_import_error(node.handlers):
            stack += [(child, checking, True, deferred) for child in node.body]
            rest: list[ast.AST] = [*node.handlers, *node.orelse, *node.finalbody]
            stack += [(child, checking, guarded, deferred) for child in rest]
            continue
        inner = deferred or isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef))
        for key in BODIES:
            children = getattr(node, key, None)
            if children:
                stack += [(child, checking, guarded, inner) for child in children]


def parse_python(data: bytes, file: str, cell: int | None = None, into: Parsed | None = None) -> Parsed:
    result = into if into is not None else Parsed()
    import warnings

    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # invalid escape sequences and the like
            tree = compile(data, file, "exec", ast.PyCF_ONLY_AST)
    except (SyntaxError, ValueError, RecursionError, MemoryError) as error:
        where = f" (line {error.lineno})" if isinstance(error, SyntaxError) and error.lineno else ""
        message = error.msg if isinstance(error, SyntaxError) else str(error)
        if result.error is None:
            result.error = f"{'cell ' + str(cell) + ': ' if cell else ''}{message}{where}"
        return result
    if isinstance(tree, ast.Module):
        collect(tree, file, cell, result)
    return result


def cell_source(lines: list[str]) -> str | None:
    """A code cell as Python: magics, shell escapes and help lines blanked (so that line
    numbers stay), a cell that another language's magic runs dropped."""
    if lines and lines[0].lstrip().startswith("%%"):
        if lines[0].split()[0] not in PYTHON_CELL_MAGICS:
            return None
    kept = []
    for line in lines:
        stripped = line.strip()
        if stripped.startswith(("%", "!", "?")) or stripped.endswith("?") or re.search(r"=\s*[!%]", stripped):
            kept.append("\n")
        else:
            kept.append(line if line.endswith("\n") else line + "\n")
    return "".join(kept)


def parse_notebook(data: bytes, file: str) -> Parsed:
    import json

    result = Parsed()
    try:
        notebook = json.loads(data)
        cells = notebook.get("cells", [])
        metadata = notebook.get("metadata", {})
        language = metadata.get("kernelspec", {}).get("language") or metadata.get("language_info", {}).get("name")
    except (ValueError, AttributeError) as error:
        result.error = f"not a notebook: {error}"
        return result
    if language and str(language).lower() != "python":
        return result
    for index, cell in enumerate(cells, 1):
        if not isinstance(cell, dict) or cell.get("cell_type") != "code":
            continue
        source = cell.get("source", [])
        lines = source.splitlines(keepends=True) if isinstance(source, str) else [str(s) for s in source]
        text = cell_source(lines)
        if text is not None:
            parse_python(text.encode("utf-8"), file, index, result)
    return result

