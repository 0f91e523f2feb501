"""What the code really imports: Python's own parser over the few files that decide a finding,
and over notebooks; a look at the bytes of every file picks those few."""

from __future__ import annotations

import ast
import json
import re
import warnings
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field

from vornu_imports.check.model import Site

# Import statements that the scan's line rule does not read: "import a, b", a statement after
# ":" or ";" on one line ("try: import x"), a tab after the keyword, a comment glued to the
# name, a line continued with "\", a name that is not ASCII.
MISSED = re.compile(
    rb"^[ \t\f]*import[ \t][^\n#]*,"
    rb"|[:;][ \t]*(?:import|from)[ \t]"
    rb"|^[ \t\f]*(?:import|from)\t"
    rb"|^[ \t\f]*(?:import|from)[ \t][^\n]*\\\r?$"
    rb"|^[ \t\f]*import[ \t]+[\w.]+#"
    rb"|^[ \t\f]*(?:import|from)[ \t]+[^\x00-\x7f]",
    re.M,
)
STATEMENT = re.compile(rb"(?:^|[\s:;])(import|from)[ \t]+([^#;\n]*)")
IMPORT_ERRORS = {"ImportError", "ModuleNotFoundError", "Exception", "BaseException"}
# Cell magics whose cell is still Python.
PYTHON_CELL_MAGICS = {"%%time", "%%timeit", "%%capture", "%%prun", "%%debug"}


@dataclass
class Parsed:
    sites: dict[str, list[Site]] = field(default_factory=dict)
    error: str | None = None


def names_in_statement_lines(data: bytes, position: int) -> tuple[set[str], bool]:
    """The top-level names of the import statements on the line holding `position`, and
    whether the statement goes on to the next line (so that its names cannot all be seen)."""
    start = data.rfind(b"\n", 0, position) + 1
    end = data.find(b"\n", position)
    line = data[start : len(data) if end < 0 else end]
    names: set[str] = set()
    continued = line.rstrip().endswith((b"\\", b"("))
    for keyword, rest in STATEMENT.findall(line):
        pieces = rest.split(b",") if keyword == b"import" else [rest]
        for piece in pieces:
            words = piece.split()
            if words and not words[0].startswith(b"."):
                names.add(words[0].split(b".")[0].decode("utf-8", "replace"))
    return names, continued


def needs_parse(data: bytes, candidates: re.Pattern[bytes] | None, interesting: Callable[[str], bool]) -> bool:
    """Whether a file may import a name that decides a finding in a way the scan's count of it
    cannot be trusted for: a candidate name after an import keyword, or a statement form the
    scan does not read that names anything of interest; and every file the scan cannot read."""
    if data.startswith(b"\xef\xbb\xbf"):
        return True  # the byte-order mark hides the first line from the scan
    if not data.isascii():
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            return True
    if candidates is not None and candidates.search(data):
        return True
    for match in MISSED.finditer(data):
        names, continued = names_in_statement_lines(data, match.start())
        if continued or any(interesting(name) for name in names):
            return True
    return False


def candidate_pattern(names: Iterable[str]) -> re.Pattern[bytes] | None:
    chosen = sorted(names, key=lambda n: (-len(n), n))
    if not chosen:
        return None
    alternatives = b"|".join(re.escape(n.encode("utf-8")) for n in chosen)
    return re.compile(rb"\b(?:import|from)\b[^\n]*?(?<![\w.])(?:" + alternatives + rb")\b")


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


def collect(tree: ast.AST, file: str, cell: int | None, into: Parsed) -> None:
    # A stack rather than recursion: a deep tree that parsed must not fail here.
    stack: list[tuple[ast.AST, bool, bool, bool]] = [(tree, False, False, False)]
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
        inner = deferred or isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.Lambda))
        stack += [(child, checking, guarded, inner) for child in ast.iter_child_nodes(node)]


def parse_python(data: bytes, file: str, cell: int | None = None, into: Parsed | None = None) -> Parsed:
    result = into if into is not None else Parsed()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # invalid escape sequences and the like
            tree = ast.parse(data, file)
    except (SyntaxError, ValueError, RecursionError, MemoryError) as error:
        where = f" (line {error.lineno})" if isinstance(error, SyntaxError) and error.lineno else ""
        message = error.msg if isinstance(error, SyntaxError) else str(error)
        if result.error is None:
            result.error = f"{'cell ' + str(cell) + ': ' if cell else ''}{message}{where}"
        return result
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


def read(path: str) -> bytes | None:
    try:
        with open(path, "rb") as file:
            return file.read()
    except OSError:
        return None
