"""The records the check passes between its steps."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Literal

# How a declaration counts: "runtime" dependencies can be unused; "extra" (optional
# dependencies) and "dev" (groups, dev-dependencies, build requirements) may be imported by
# tests and tools but not by the package's own code; "environment" (conda, pixi) describes a
# whole environment, tools included, so it declares but is never reported unused.
Kind = Literal["runtime", "extra", "dev", "environment"]

CODES = ("undeclared", "undeclared-but-installed-transitively", "unused", "dev-in-runtime")


class ConfigError(Exception):
    """A declaration or setting that cannot be read: one message, exit status 2."""


@dataclass(frozen=True)
class Declaration:
    name: str  # PEP 503 normalised distribution name
    text: str  # the requirement as written
    group: str  # "runtime", "extra:NAME", "group:NAME", "build-system", "environment", ...
    kind: Kind
    file: str  # as shown: relative to the checked PATH
    line: int | None
    extras: frozenset[str] = frozenset()


@dataclass
class Settings:
    """`[tool.vornu-imports]` of a project's pyproject.toml."""

    ignore: list[str] = field(default_factory=list)
    exclude: list[str] = field(default_factory=list)
    module_map: dict[str, list[str]] = field(default_factory=dict)
    first_party: list[str] = field(default_factory=list)


@dataclass
class Project:
    root: str  # relative to the checked PATH, "." for PATH itself
    name: str | None = None  # normalised
    declaration_files: list[str] = field(default_factory=list)
    declarations: list[Declaration] = field(default_factory=list)
    settings: Settings = field(default_factory=Settings)
    # Package folders and modules named by setuptools, hatch, poetry or flit settings,
    # relative to the project root.
    package_paths: list[str] = field(default_factory=list)
    workspace_members: list[str] | None = None  # globs of a uv workspace root
    files: list[str] = field(default_factory=list)  # .py files, relative to PATH
    notebooks: list[str] = field(default_factory=list)
    first_party: set[str] = field(default_factory=set)
    package_dirs: list[str] = field(default_factory=list)  # relative to PATH, the package's own code


@dataclass(frozen=True)
class Site:
    """One import statement, as Python's parser sees it."""

    file: str
    line: int
    cell: int | None = None  # notebook cell, counted from 1
    type_checking: bool = False  # under `if TYPE_CHECKING:`
    guarded: bool = False  # in a `try:` whose handlers catch ImportError
    deferred: bool = False  # inside a function or class body, not run at import


@dataclass
class Finding:
    code: str
    project: str
    name: str  # the module (import findings) or the distribution (unused)
    module: str | None
    distribution: str | None
    message: str
    sites: list[Site] = field(default_factory=list)
    declaration: Declaration | None = None
    via: list[str] = field(default_factory=list)  # declared distributions that pull it in
    more: int = 0  # further files that seem to import it, left unparsed once enough places were found

    @property
    def type_checking_only(self) -> bool:
        return bool(self.sites) and all(site.type_checking for site in self.sites)


@dataclass(frozen=True)
class FileWarning:
    file: str
    message: str
