"""What the code really imports: Python's own parser over the few files that decide a finding,
and over notebooks; a look at the bytes of every file picks those few."""

from __future__ import annotations

import ast
import json
import re
import warnings
from collections.abc import Callable
from dataclasses import dataclass, field

from vornu_imports.check.model import Site

# The import statements of a line, in any of the forms Python allows ("import a, b",
# "try: import x", "x = 1; import y", a tab after the keyword): at the line's start or after
# ":" or ";". Prose at a line's start matches too; the parser sorts it out.
STATEMENT = re.compile(rb"(?:^[ \t\f]*|[:;][ \t]*)(import|from)[ \t]+([^#;\n]*)")
IMPORT_ERRORS = {"ImportError", "ModuleNotFoundError", "Exception", "BaseException"}
# Cell magics whose cell is still Python.
PYTHON_CELL_MAGICS = {"%%time", "%%timeit", "%%capture", "%%prun", "%%debug"}


@dataclass
class Parsed:
    sites: dict[str, list[Site]] = field(default_factory=dict)
    error: str | None = None


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
        line = data[start:end]
        for keyword, rest in STATEMENT.findall(line):
            pieces = rest.split(b",") if keyword == b"import" else [rest]
            continued = continued or (keyword == b"import" and rest.rstrip().endswith(b"\\"))
            for piece in pieces:
                words = piece.split()
                if words:
                    name = words[0].split(b".")[0].decode("utf-8", "replace")
                    if name.isidentifier():
                        names.add(name)
        position = data.find(b"import", end)
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
