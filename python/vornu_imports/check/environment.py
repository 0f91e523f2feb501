"""The installed environment: which modules each distribution provides, and what it requires.

It is read from the distributions' own metadata folders (`*.dist-info`, `*.egg-info`) on the
interpreter's search path, and only as far as a question needs: the folders' names at once,
a distribution's modules and requirements when it is declared or reached from a declared
one, and every distribution's modules only to name the provider of an undeclared import.
`importlib.metadata` would read every distribution's metadata up front, which on a large
environment costs more than the rest of the check."""

from __future__ import annotations

import os
import sys

from vornu_imports.check import pep508
from vornu_imports.check.installed import METADATA_SUFFIXES, Installed
from vornu_imports.check.model import ConfigError, canonical

# Standard library modules of the CPython versions before and after the running one: code
# that supports several versions imports them behind version checks.
OTHER_STDLIB = frozenset(
    "annotationlib compression _zstd asynchat asyncore distutils imp smtpd aifc audioop cgi cgitb chunk crypt"
    " imghdr mailcap msilib nis nntplib ossaudiodev pipes sndhdr spwd sunau telnetlib uu xdrlib lib2to3 binhex"
    " formatter parser symbol dummy_threading _dummy_thread macpath"
    # CPython's modules for its own tests, which ship with it but are left out of
    # sys.stdlib_module_names.
    " _testbuffer _testcapi _testclinic _testclinic_limited _testimportmultiple _testinternalcapi _testlimitedcapi"
    " _testmultiphase _testsinglephase _testexternalinspection _ctypes_test _xxtestfuzz xxlimited xxlimited_35"
    " xxsubtype".split()
)
PROBE = os.path.join(os.path.dirname(__file__), "_probe.py")


class Environment:
    """The distributions installed for one interpreter, found on its search path."""

    def __init__(self, python: str, stdlib: frozenset[str], path: list[str],
                 markers: dict[str, str] | None = None) -> None:
        self.python = python
        self.stdlib = stdlib
        self._markers = markers
        self.installed: dict[str, Installed] = {}
        for folder in path:
            try:
                with os.scandir(folder) as entries:
                    names = [entry.name for entry in entries if entry.name.endswith(METADATA_SUFFIXES)]
            except OSError:
                continue
            for name in sorted(names):
                key = canonical(name.rsplit(".", 1)[0].split("-")[0])
                if key not in self.installed:  # an earlier folder of the path shadows later ones
                    self.installed[key] = Installed(os.path.join(folder, name))
        self._providers: dict[str, list[str]] | None = None

    def get(self, name: str) -> Installed | None:
        found = self.installed.get(name)
        return found if found is not None and found.has_metadata() else None

    def modules(self, name: str) -> list[str]:
        found = self.get(name)
        return found.modules if found is not None else []

    @property
    def markers(self) -> dict[str, str]:
        if self._markers is None:
            from vornu_imports.check._probe import marker_environment

            self._markers = marker_environment()
        return self._markers

    def providers(self, module: str) -> list[str]:
        """The installed distributions that provide `module` other than as a namespace
        portion (reads every one's metadata, once)."""
        if self._providers is None:
            self._providers = {}
            for name in sorted(self.installed):
                for provided in self.modules(name):
                    self._providers.setdefault(provided, []).append(name)
        found = self._providers.get(module, [])
        return [name for name in found if module not in self.installed[name].portions()]

    def transitive(self, declared: dict[str, frozenset[str]]) -> dict[str, str]:
        """Installed distributions that the declared ones require, directly or not, each with
        the declared distribution through which it comes."""
        reached: dict[str, str] = {}
        queue = [(name, extras, name) for name, extras in sorted(declared.items())]
        expanded: set[tuple[str, frozenset[str]]] = set()
        while queue:
            name, extras, root = queue.pop(0)
            if (name, extras) in expanded:
                continue
            expanded.add((name, extras))
            installed = self.get(name)
            for text in installed.requires if installed is not None else []:
                parsed = requirement(text)
                if parsed is None:
                    continue
                target, target_extras, marker = parsed
                if marker is not None and not self.holds(marker, extras):
                    continue
                if target not in declared and target not in reached:
                    reached[target] = root
                queue.append((target, target_extras, root))
        return reached

    def providing(self, module: str, reached: dict[str, str]) -> list[str]:
        """The distributions among `reached` that provide `module`."""
        return [name for name in sorted(reached) if module in self.modules(name)]

    def holds(self, marker: str, extras: frozenset[str]) -> bool:
        for extra in sorted(extras | {""}):
            environment = dict(self.markers, extra=extra)
            value = pep508.evaluate(marker, environment)
            if value is None:
                value = packaging_marker(marker, environment)
            if value:
                return True
        return False


def requirement(text: str) -> tuple[str, frozenset[str], str | None] | None:
    parsed = pep508.parse(text)
    if parsed is not None:
        return canonical(parsed[0]), parsed[1], parsed[2]
    from packaging.requirements import InvalidRequirement, Requirement

    try:
        found = Requirement(text)
    except InvalidRequirement:
        return None
    return canonical(found.name), frozenset(found.extras), str(found.marker) if found.marker else None


def packaging_marker(marker: str, environment: dict[str, str]) -> bool:
    from packaging.markers import InvalidMarker, Marker, UndefinedComparison, UndefinedEnvironmentName

    try:
        return Marker(marker).evaluate(environment)
    except (InvalidMarker, UndefinedComparison, UndefinedEnvironmentName):
        return True


def interpreter_of(python: str) -> str:
    """An interpreter named directly, or the one of a virtual environment's folder."""
    if os.path.isdir(python):
        for candidate in ("bin/python", "bin/python3", "Scripts/python.exe"):
            if os.path.isfile(os.path.join(python, candidate)):
                return os.path.join(python, candidate)
        raise ConfigError(f"--python: no interpreter in {python}")
    return python


def is_running(executable: str) -> bool:
    """Whether `executable` is the interpreter running the check, in the same environment: the
    same program in the same folder (a venv's python is a link to the base interpreter, so
    the folder tells the environments apart)."""
    own = sys.executable
    try:
        return os.path.dirname(os.path.abspath(executable)) == os.path.dirname(os.path.abspath(own)) and \
            os.path.samefile(executable, own)
    except OSError:
        return False


def load_environment(python: str | None) -> Environment:
    executable = None if python is None else interpreter_of(python)
    if executable is None or is_running(executable):
        from vornu_imports.check import _probe

        return Environment(sys.executable, stdlib(_probe.stdlib_names()), _probe.search_path())
    import json

    from vornu_imports.git_listing import GitError, run_process

    with open(PROBE, encoding="utf-8") as file:
        # The folder it starts in is no place to import from: a module of the checked
        # project would shadow one that the probe imports.
        code = "import sys\nsys.path[:] = [p for p in sys.path if p]\n" + file.read()
    try:
        output, errors, status = run_process([executable, "-c", code], os.environ)
    except GitError as error:  # the process could not be started
        raise ConfigError(f"--python: {error}") from None
    if status != 0:
        last = (errors.decode("utf-8", "replace").strip().splitlines() or ["no message"])[-1]
        raise ConfigError(f"--python: {executable} failed: {last}")
    try:
        report = json.loads(output)
    except ValueError:
        report = None
    if not isinstance(report, dict):
        raise ConfigError(f"--python: {executable} did not report its distributions")
    return Environment(str(report["python"]), stdlib(report["stdlib"]), list(report["path"]), dict(report["environment"]))


def stdlib(names: list[str]) -> frozenset[str]:
    return frozenset(names) | sys.stdlib_module_names | OTHER_STDLIB | {"__main__"}
