"""Which modules each distribution provides: the installed environment first, then the
bundled table of distributions whose modules are not named like them, then the name itself."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from collections import deque
from dataclasses import dataclass, field
from functools import cache

from packaging.markers import InvalidMarker, UndefinedComparison, UndefinedEnvironmentName
from packaging.requirements import InvalidRequirement, Requirement
from packaging.utils import canonicalize_name

from vornu_imports.check.model import ConfigError

# Standard library modules of the CPython versions before and after the running one: code
# that supports several versions imports them behind version checks.
OTHER_STDLIB = frozenset(
    "annotationlib compression _zstd asynchat asyncore distutils imp smtpd aifc audioop cgi cgitb chunk crypt"
    " imghdr mailcap msilib nis nntplib ossaudiodev pipes sndhdr spwd sunau telnetlib uu xdrlib lib2to3 binhex"
    " formatter parser symbol dummy_threading _dummy_thread macpath".split()
)
TABLE = os.path.join(os.path.dirname(__file__), "data", "distribution_modules.json")


@dataclass
class Environment:
    python: str
    stdlib: frozenset[str]
    modules: dict[str, list[str]]  # distribution -> top-level modules
    requires: dict[str, list[str]]  # distribution -> requirement strings
    providers: dict[str, list[str]] = field(default_factory=dict)  # module -> distributions

    def __post_init__(self) -> None:
        for distribution, modules in sorted(self.modules.items()):
            for module in modules:
                self.providers.setdefault(module, []).append(distribution)


def probe_command(python: str) -> list[str]:
    with open(os.path.join(os.path.dirname(__file__), "_probe.py"), encoding="utf-8") as file:
        return [python, "-c", file.read()]


def interpreter_of(python: str) -> str:
    """An interpreter named directly, or the one of a virtual environment's folder."""
    if os.path.isdir(python):
        for candidate in ("bin/python", "bin/python3", "Scripts/python.exe"):
            if os.path.isfile(os.path.join(python, candidate)):
                return os.path.join(python, candidate)
        raise ConfigError(f"--python: no interpreter in {python}")
    return python


def load_environment(python: str | None) -> Environment:
    if python is None:
        from vornu_imports.check._probe import probe

        report = probe()
    else:
        executable = interpreter_of(python)
        try:
            # From the root folder, so that no module of the checked project shadows one that
            # the probe imports.
            result = subprocess.run(probe_command(executable), capture_output=True, text=True, cwd="/", check=False)
        except OSError as error:
            raise ConfigError(f"--python: cannot run {executable}: {error.strerror}") from None
        if result.returncode != 0:
            last = (result.stderr.strip().splitlines() or ["no message"])[-1]
            raise ConfigError(f"--python: {executable} failed: {last}")
        report = json.loads(result.stdout)
    distributions = report["distributions"]
    return Environment(
        python=str(report["python"]),
        stdlib=frozenset(report["stdlib"]) | sys.stdlib_module_names | OTHER_STDLIB | {"__main__"},
        modules={name: list(info["modules"]) for name, info in distributions.items()},
        requires={name: list(info["requires"]) for name, info in distributions.items()},
    )


@cache
def bundled_table() -> dict[str, list[str]]:
    try:
        with open(TABLE, encoding="utf-8") as file:
            table: dict[str, list[str]] = json.load(file)["distributions"]
    except (OSError, ValueError, KeyError) as error:
        raise ConfigError(f"the bundled table {TABLE} cannot be read: {error}") from None
    return table


@cache
def table_providers() -> dict[str, list[str]]:
    reverse: dict[str, list[str]] = {}
    for distribution, modules in sorted(bundled_table().items()):
        for module in modules:
            reverse.setdefault(module, []).append(distribution)
    return reverse


def stub_base(name: str) -> str | None:
    """The distribution a stub-only distribution describes: types-X and X-stubs give X."""
    if name.startswith("types-"):
        return name[len("types-") :]
    if name.endswith("-stubs"):
        return name[: -len("-stubs")]
    return None


@dataclass
class Providers:
    environment: Environment
    module_map: dict[str, list[str]]
    siblings: dict[str, list[str]]  # projects of the same tree: name -> their own modules

    def modules_of(self, name: str) -> tuple[list[str], str]:
        """The modules of a distribution, and where that answer comes from."""
        base = stub_base(name)
        if base is not None:
            modules, source = self.modules_of(base)
            installed = self.environment.modules.get(name, [])
            return sorted(set(modules) | set(installed)), source
        if name in self.module_map:
            return self.module_map[name], "module-map"
        if name in self.siblings:
            return self.siblings[name], "project"
        if name in self.environment.modules and self.environment.modules[name]:
            return self.environment.modules[name], "installed"
        table = bundled_table()
        if name in table:
            return table[name], "table"
        return [name.replace("-", "_")], "name"

    def suggestion(self, module: str) -> str | None:
        """A distribution that would provide `module`, for the message of an undeclared import."""
        for name, modules in sorted(self.siblings.items()):
            if module in modules:
                return name
        for source in (self.environment.providers, table_providers()):
            if module in source:
                return source[module][0]
        return None


def transitive(environment: Environment, declared: dict[str, frozenset[str]]) -> dict[str, str]:
    """Installed distributions that the declared ones require, directly or not, each with the
    declared distribution through which it comes."""
    reached: dict[str, str] = {}
    queue: deque[tuple[str, frozenset[str], str]] = deque((n, e, n) for n, e in sorted(declared.items()))
    expanded: set[tuple[str, frozenset[str]]] = set()
    while queue:
        name, extras, root = queue.popleft()
        if (name, extras) in expanded:
            continue
        expanded.add((name, extras))
        for text in environment.requires.get(name, []):
            try:
                requirement = Requirement(text)
            except InvalidRequirement:
                continue
            if requirement.marker is not None and not marker_holds(requirement, extras):
                continue
            target = canonicalize_name(requirement.name)
            if target not in declared and target not in reached:
                reached[target] = root
            queue.append((target, frozenset(requirement.extras), root))
    return reached


def marker_holds(requirement: Requirement, extras: frozenset[str]) -> bool:
    assert requirement.marker is not None
    try:
        return any(requirement.marker.evaluate({"extra": extra}) for extra in sorted(extras | {""}))
    except (InvalidMarker, UndefinedComparison, UndefinedEnvironmentName):
        return True
