"""What each project's code imports, at about the cost of one scan of its files.

1. The scan: `scan_imports` over each file of the project, one call a file. A call of one
   root is scanned by the calling thread itself, without handing it to the pool, which for
   a file of a few kilobytes costs more than the scan; so the calls together cost about one
   scan on one core, and say which file imports what. The other cores meanwhile run the
   byte search of step 3.
2. The names that decide a finding: imported and declared nowhere (`undeclared`), declared
   only for development and imported by the package's own code (`dev-in-runtime`), and the
   modules of runtime dependencies that the scan never saw (`unused`, unless some file
   imports them in a form the line rule misses). The files whose scan holds a deciding
   name are read, and a name kept where a line of it looks like an import statement's first
   line; an import only inside functions does not make `dev-in-runtime`, and where the
   indentation alone shows that, the file is not parsed for it.
3. The byte search (`search.Search`, grep in the background from the listing on): the files
   holding a form the line rule misses, and, when the scan did not see a runtime
   dependency, the files that name its modules.
4. Python's parser on the files of step 2, in path order, while a name lacks places; then on
   those of step 3 where a name still does. Notebooks are always parsed.

No file is read in Python but those the scan or the search named, and notebooks.
"""

from __future__ import annotations

import os
import re

import vornu_core

from vornu_imports.check.imports import Parsed, in_functions_only, look, parse_notebook, parse_python, rule_lines
from vornu_imports.check.model import Declaration, FileWarning, Project, Site
from vornu_imports.check.projects import Locality
from vornu_imports.check.search import Search, read
from vornu_imports.sources import worker_count

# Places of an import finding looked for: the parser stops reading further files for a name
# once it has seen this many plain imports of it (not under TYPE_CHECKING, not guarded).
PLACES = 3


class Declared:
    """The declared distributions of a project and the modules each provides."""

    def __init__(self) -> None:
        self.by_module: dict[str, list[Declaration]] = {}
        self.stub_modules: set[str] = set()
        self.modules: dict[str, list[str]] = {}
        self.runtime: dict[str, Declaration] = {}

    def kinds(self, module: str) -> set[str]:
        return {d.kind for d in self.by_module.get(module, [])}

    def everywhere(self, module: str) -> bool:
        """Whether a declaration providing `module` covers every file of the project."""
        return any(not d.scope for d in self.by_module.get(module, ()))

    def covers(self, module: str, file: str) -> bool:
        return any(d.covers(file) for d in self.by_module.get(module, ()))


class Evidence:
    """What one project imports: the scan's names, and the sites that the parser saw in the
    files it read. A name the scan found counts only if it needed no confirmation or the parser
    confirmed it."""

    def __init__(self, scanned: set[str], sites: dict[str, list[Site]], unconfirmed: set[str],
                 unread: dict[str, int], parsed: int) -> None:
        self.scanned = scanned
        self.sites = sites
        self.unconfirmed = unconfirmed  # names whose scan count needs the parser's word
        self.unread = unread  # files naming a module left unparsed
        self.parsed = parsed

    def imported(self, module: str) -> bool:
        return module in self.sites or (module in self.scanned and module not in self.unconfirmed)


class Gathering:
    """The evidence of one project, gathered in the steps above."""

    def __init__(self, path: str, project: Project, declared: Declared, stdlib: frozenset[str]) -> None:
        self.path = path
        self.project = project
        self.declared = declared
        self.known = stdlib | project.first_party
        self.locality = Locality(project)
        # One call a file: a call of one root is scanned by the calling thread, without the
        # pool's hand-over (which costs more than a small file's scan), and its names are the
        # file's own.
        scan = vornu_core.scan_imports
        self.file_names = [scan([os.path.join(path, file)]) for file in project.files]
        self.scanned: set[str] = set().union(*self.file_names)
        self.undeclared = {m for m in self.scanned if m not in self.known and not declared.everywhere(m)}
        self.dev_only = {m for m in declared.by_module if declared.kinds(m) <= {"dev", "extra"}}
        self.unseen = {
            m
            for name in declared.runtime
            if not any(m in self.scanned for m in declared.modules[name])
            for m in declared.modules[name]
        }
        self.order = {file: index for index, file in enumerate(project.files)}
        self.texts: dict[str, bytes] = {}
        self.lines: dict[str, dict[str, list[tuple[int, int]]]] = {}  # located files: the lines of each name
        self.parsed: dict[str, Parsed] = {}
        self.seen: dict[str, int] = {}  # every import the parser saw
        self.plain: dict[str, int] = {}  # those not under TYPE_CHECKING or guarded
        self.in_package: dict[str, int] = {}  # those, run at import, in the package's own code
        self.skipped: dict[str, int] = {}  # files naming a module left unparsed

    def full(self, file: str) -> str:
        return os.path.join(self.path, file)

    def interesting(self, name: str, file: str) -> bool:
        if name in self.known or self.locality.is_local(file, name):
            return False
        if not self.declared.covers(name, file) or name in self.unseen:
            return True
        return name in self.dev_only and self.locality.is_package_code(file)

    def only_deferred(self, name: str, file: str, data: bytes, lines: list[tuple[int, int]]) -> bool:
        """Whether `name` matters in `file` only for `dev-in-runtime`, which imports inside
        functions do not make, and the file imports it only there."""
        return (name in self.dev_only and self.declared.covers(name, file) and name not in self.unseen
                and in_functions_only(data, lines))

    def located(self) -> dict[str, set[str]]:
        """The files whose own scan holds a deciding name, with those names that a line
        holding "import" names there: the scan also takes prose for an import ("from oldest
        to newest"), but an import statement always has the word on its first line."""
        deciding = self.undeclared | (self.dev_only & self.scanned)
        found: dict[str, set[str]] = {}
        for file, names in zip(self.project.files, self.file_names):
            own = deciding.intersection(names)
            if not own:
                continue
            kept = {name for name in own if self.interesting(name, file)}
            if not kept:
                continue
            data = read(self.full(file))
            if data is not None:
                lines = {name: rule_lines(data, name) for name in kept}
                kept = {name for name in kept if lines[name] and not self.only_deferred(name, file, data, lines[name])}
            if kept and data is not None:
                found[file] = kept
                self.texts[file] = data
                self.lines[file] = lines
        return found

    def parse(self, candidates: dict[str, set[str]], must: frozenset[str] | set[str] = frozenset()) -> None:
        """The parser over the files of `candidates` in path order, each while one of its
        names still lacks places (and over those of `must` whatever their names)."""
        for file in sorted(candidates, key=self.order.__getitem__):
            if file in self.parsed:
                continue
            open_ = [name for name in candidates[file] if self.lacking(name)]
            for name in candidates[file]:
                if name not in open_:
                    self.skipped[name] = self.skipped.get(name, 0) + 1
            if not open_ and file not in must:
                continue
            data = self.texts.get(file) or read(self.full(file))
            if data is None:
                continue
            result = self.parsed[file] = self.parse_file(file, data, open_)
            package_code = self.locality.is_package_code(file)
            for module, found in result.sites.items():
                kept = [site for site in found if not self.locality.is_local(file, module)]
                self.seen[module] = self.seen.get(module, 0) + len(kept)
                self.plain[module] = self.plain.get(module, 0) + sum(1 for s in kept if s.plain)
                if package_code:
                    in_package = sum(1 for s in kept if s.plain and not s.deferred)
                    self.in_package[module] = self.in_package.get(module, 0) + in_package

    def parse_file(self, file: str, data: bytes, names: list[str]) -> Parsed:
        """The parser on the beginning of the file that holds the first lines of `names`
        that the scan read, as many as places are looked for: up to the end of the
        innermost block around the last of those lines, else of the top-level statement
        around it, else the whole file. A beginning that parses is the file's own text up to
        a statement's end (a cut inside a string or a bracket does not parse, nor one
        between a `try:` and its handlers), and the end of the text closes the blocks still
        open: so what it imports the whole file imports, with the same tags. Imports
        further down are not seen."""
        lines = self.lines.get(file, {})
        if names and all(lines.get(name) for name in names):
            last = max(lines[name][:PLACES][-1] for name in names)
            tried = len(data) * 3 // 4
            for cut in (block_end(data, *last), statement_end(data, last[1])):
                if cut < tried:
                    result = parse_python(data[:cut], file)
                    if result.error is None:
                        return result
                    tried = cut
        return parse_python(data, file)

    def lacking(self, name: str) -> bool:
        if name in self.dev_only and self.declared.everywhere(name):
            return self.in_package.get(name, 0) < PLACES
        if name in self.unseen:
            return self.seen.get(name, 0) == 0
        return self.plain.get(name, 0) < PLACES

    def searched(self, files: set[str]) -> None:
        """The files the byte search named: their names from every line holding "import",
        and the parser where one decides a finding, or where the scan could not read the file."""
        candidates: dict[str, set[str]] = {}
        must: set[str] = set()
        for file in files:
            data = self.texts[file] if file in self.texts else read(self.full(file))
            if data is None:
                continue
            names, must_parse = look(data)
            kept = {name for name in names if self.interesting(name, file)}
            if must_parse:
                must.add(file)
            if kept or must_parse:
                candidates[file] = kept
                self.texts[file] = data
        self.parse(candidates, must)

    def evidence(self, warnings: list[FileWarning]) -> Evidence:
        for notebook in self.project.notebooks:
            data = read(self.full(notebook))
            if data is not None:
                self.parsed[notebook] = parse_notebook(data, notebook)
        sites: dict[str, list[Site]] = {}
        for file, result in self.parsed.items():
            if result.error is not None:
                warnings.append(FileWarning(file, f"cannot parse: {result.error}"))
            for module, found in result.sites.items():
                kept = [site for site in found if not self.locality.is_local(file, module)]
                if kept:
                    sites.setdefault(module, []).extend(kept)
        unconfirmed = (self.undeclared | self.unseen) & self.scanned
        return Evidence(self.scanned, sites, unconfirmed, self.skipped, len(self.parsed))


# The start of a line at the left margin that begins a statement: not the rest of the one
# before it (`except:`, `else:`, a closing bracket) and not a comment.
NEXT_STATEMENT = re.compile(rb"\n(?![\s#)\]}]|(?:except|else|elif|finally)\b)")


BLOCK_ENDS: dict[int, re.Pattern[bytes]] = {}


def block_end(data: bytes, start: int, end: int) -> int:
    """Where the innermost block around the line from `start` to `end` ends: the start of
    the next line indented less that begins a statement; the end of the data if none."""
    depth = len(data[start:end]) - len(data[start:end].lstrip(b" \t"))
    if depth == 0:
        return statement_end(data, end)
    if depth not in BLOCK_ENDS:
        BLOCK_ENDS[depth] = re.compile(rb"\n[ \t]{0,%d}(?![\s#)\]}]|(?:except|else|elif|finally)\b)" % (depth - 1))
    found = BLOCK_ENDS[depth].search(data, end)
    return found.start() + 1 if found else len(data)


def statement_end(data: bytes, position: int) -> int:
    """Where the top-level statement around `position` ends: the start of the next line
    that begins one at the left margin; the end of the data if none."""
    found = NEXT_STATEMENT.search(data, position)
    return found.start() + 1 if found else len(data)


def gather(path: str, projects: list[tuple[Project, Declared]], stdlib: frozenset[str], forms: Search,
           warnings: list[FileWarning]) -> list[Evidence]:
    """The evidence of every project. `forms` is the search for the forms the line rule
    misses, started as soon as the files were listed; the search for the modules of
    dependencies that the scan did not see starts after the scan. Both run while the parser
    reads the files that the scan names."""
    gatherings = [Gathering(path, project, declared, stdlib) for project, declared in projects]
    needles = sorted(set().union(*(g.unseen for g in gatherings)))
    full = {os.path.join(path, f): f for g in gatherings for f in g.project.files}
    modules = Search(list(full), needles, worker_count() - 1) if needles else None
    for g in gatherings:
        g.parse(g.located())
    found = set(forms.result()) | set(modules.result() if modules else ())
    searched = {full[f] for f in found if f in full}
    for g in gatherings:
        g.searched(searched.intersection(g.project.files))
    return [g.evidence(warnings) for g in gatherings]
