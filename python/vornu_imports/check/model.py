"""The records the check passes between its steps.

Plain classes rather than dataclasses: the check runs in commit hooks and editors, where
importing `dataclasses` (and `typing` with it) would cost more than reading a small project."""

from __future__ import annotations

import re

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Literal

    # How a declaration counts: "runtime" dependencies can be unused; "extra" (optional
    # dependencies) and "dev" (groups, dev-dependencies, build requirements) may be imported
    # by tests and tools but not by the package's own code; "environment" (conda, pixi)
    # describes a whole environment, tools included, so it declares but is never unused.
    Kind = Literal["runtime", "extra", "dev", "environment"]

CODES = ("undeclared", "undeclared-but-installed-transitively", "unused", "dev-in-runtime")
SEPARATORS = re.compile(r"[-_.]+")


def canonical(name: str) -> str:
    """A distribution name normalised as PEP 503 says (what packaging's canonicalize_name
    does, without importing its platform tags)."""
    return SEPARATORS.sub("-", name).lower()


class ConfigError(Exception):
    """A declaration or setting that cannot be read: one message, exit status 2."""


class Declaration:
    """One declared distribution. `scope`: the folder (relative to the checked PATH, with a
    final "/") below which the declaration counts, "" for the whole project: a requirements
    file among a test suite's fixtures declares only for the files beside and below it."""

    __slots__ = ("name", "text", "group", "kind", "file", "line", "extras", "scope")

    def __init__(self, name: str, text: str, group: str, kind: Kind, file: str, line: int | None,
                 extras: frozenset[str] = frozenset(), scope: str = "") -> None:
        self.name = name  # PEP 503 normalised distribution name
        self.text = text  # the requirement as written
        self.group = group  # "runtime", "extra:NAME", "group:NAME", "build-system", "environment", ...
        self.kind: Kind = kind
        self.file = file  # as shown: relative to the checked PATH
        self.line = line
        self.extras = extras
        self.scope = scope

    def covers(self, file: str) -> bool:
        return file.startswith(self.scope)


class Settings:
    """`[tool.vornu-imports]` of a project's pyproject.toml."""

    def __init__(self) -> None:
        self.ignore: list[str] = []
        self.exclude: list[str] = []
        self.module_map: dict[str, list[str]] = {}
        self.first_party: list[str] = []


class Project:
    def __init__(self, root: str) -> None:
        self.root = root  # relative to the checked PATH, "." for PATH itself
        self.name: str | None = None  # normalised
        self.declaration_files: list[str] = []
        self.declarations: list[Declaration] = []
        self.settings = Settings()
        # Package folders and modules named by setuptools, hatch, poetry or flit settings,
        # relative to the project root.
        self.package_paths: list[str] = []
        self.workspace_members: list[str] | None = None  # globs of a uv workspace root
        self.files: list[str] = []  # .py files, relative to PATH, in path order
        self.notebooks: list[str] = []
        self.first_party: set[str] = set()
        self.package_dirs: list[str] = []  # relative to PATH, the package's own code


class Site:
    """One import statement, as Python's parser sees it."""

    __slots__ = ("file", "line", "cell", "type_checking", "guarded", "deferred")

    def __init__(self, file: str, line: int, cell: int | None = None, type_checking: bool = False,
                 guarded: bool = False, deferred: bool = False) -> None:
        self.file = file
        self.line = line
        self.cell = cell  # notebook cell, counted from 1
        self.type_checking = type_checking  # under `if TYPE_CHECKING:`
        self.guarded = guarded  # in a `try:` whose handlers catch ImportError
        self.deferred = deferred  # inside a function or class body, not run at import

    @property
    def plain(self) -> bool:
        return not (self.type_checking or self.guarded)


class Finding:
    def __init__(self, code: str, project: str, name: str, module: str | None, distribution: str | None,
                 message: str, sites: list[Site] | None = None, declaration: Declaration | None = None,
                 via: list[str] | None = None, more: int = 0) -> None:
        self.code = code
        self.project = project
        self.name = name  # the module (import findings) or the distribution (unused)
        self.module = module
        self.distribution = distribution
        self.message = message
        self.sites = sites or []
        self.declaration = declaration
        self.via = via or []  # declared distributions that pull it in
        self.more = more  # further files that seem to import it, left unparsed once enough places were found

    @property
    def type_checking_only(self) -> bool:
        return bool(self.sites) and all(site.type_checking for site in self.sites)


class FileWarning:
    __slots__ = ("file", "message")

    def __init__(self, file: str, message: str) -> None:
        self.file = file
        self.message = message
