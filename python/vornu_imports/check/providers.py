"""Which modules each distribution provides: the installed environment first, then the
bundled table of distributions whose modules are not named like them, then the name itself.

The environment is read from the distributions' own metadata folders (`*.dist-info`,
`*.egg-info`) on the interpreter's search path, and only as far as a question needs: the
folders' names at once, a distribution's modules and requirements when it is declared or
reached from a declared one, and every distribution's modules only to name the provider of
an undeclared import. `importlib.metadata` would read every distribution's metadata up
front, which on a large environment costs more than the rest of the check."""

from __future__ import annotations

import os
import re
import sys

from vornu_imports.check import pep508
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
TABLE = os.path.join(os.path.dirname(__file__), "data", "distribution_modules.json")
PROBE = os.path.join(os.path.dirname(__file__), "_probe.py")
EXTENSION = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\..*(?:\.so|\.pyd)$")
METADATA_SUFFIXES = (".dist-info", ".egg-info")


class Installed:
    """One installed distribution: its metadata folder, read when asked."""

    def __init__(self, folder: str) -> None:
        self.folder = folder
        self._modules: list[str] | None = None
        self._requires: list[str] | None = None

    def text(self, name: str) -> str | None:
        try:
            with open(os.path.join(self.folder, name), encoding="utf-8", errors="replace") as file:
                return file.read()
        except OSError:
            return None

    def has_metadata(self) -> bool:
        """False for a folder an interrupted install left without its METADATA (PKG-INFO)."""
        name = "METADATA" if self.folder.endswith(".dist-info") else "PKG-INFO"
        return os.path.isfile(os.path.join(self.folder, name))

    @property
    def modules(self) -> list[str]:
        if self._modules is None:
            modules: set[str] = set()
            top_level = self.text("top_level.txt")
            if top_level:
                tops = {line.strip().split("/")[0] for line in top_level.splitlines() if line.strip()}
                modules = {m.removesuffix("-stubs") for m in tops}
            if not modules:
                modules = self.from_files()
            self._modules = sorted(modules)
        return self._modules

    def paths(self) -> list[list[str]]:
        """The installed files (RECORD, or installed-files.txt of an egg-info, whose paths
        are relative to that folder), each split into its parts below site-packages."""
        base = os.path.dirname(self.folder)
        record = self.text("RECORD")
        if record is not None:
            found = record_paths(record)
        else:
            listed = self.text("installed-files.txt") or ""
            found = [os.path.relpath(os.path.join(self.folder, line.strip()), base)
                     for line in listed.splitlines() if line.strip()]
        return [path.replace("\\", "/").split("/") for path in found]

    def portions(self) -> set[str]:
        """The modules that are folders without an `__init__` of their own: portions of a
        namespace (or plugins in another project's package) that say nothing of which
        distribution an import of them means."""
        folders, initialised = set(), set()
        for parts in self.paths():
            if len(parts) > 1:
                folders.add(parts[0])
                if len(parts) == 2 and parts[1].startswith("__init__."):
                    initialised.add(parts[0])
        return (folders - initialised) & set(self.modules)

    def from_files(self) -> set[str]:
        """Top-level modules from the list of installed files."""
        base = os.path.dirname(self.folder)
        names: set[str] = set()
        for parts in self.paths():
            top = parts[0]
            if not top or top in ("..", "__pycache__") or top.endswith((".dist-info", ".egg-info", ".data")):
                continue
            if top.startswith("__editable__"):
                if top.endswith("_finder.py"):
                    names.update(editable_modules(os.path.join(base, top)))
                continue
            extension = EXTENSION.match(top)
            if len(parts) == 1:
                if top.endswith(".py") and top[:-3].isidentifier():
                    names.add(top[:-3])
                elif extension:
                    names.add(extension.group(1))
                continue
            top = top.removesuffix("-stubs")
            if top.isidentifier():
                names.add(top)
        return names

    @property
    def requires(self) -> list[str]:
        """Requirement strings, as importlib.metadata gives them: Requires-Dist, or an
        egg-info's requires.txt with its sections turned into markers."""
        if self._requires is None:
            if self.folder.endswith(".dist-info"):
                self._requires = requires_dist(self.text("METADATA") or "")
            else:
                self._requires = requires_txt(self.text("requires.txt") or "")
        return self._requires


def record_paths(record: str) -> list[str]:
    if '"' not in record:
        return [line.split(",", 1)[0] for line in record.splitlines() if line]
    import csv

    return [row[0] for row in csv.reader(record.splitlines()) if row]


def editable_modules(path: str) -> set[str]:
    """The modules an editable install's finder maps (setuptools' __editable___*_finder.py)."""
    try:
        with open(path, encoding="utf-8") as file:
            text = file.read()
    except (OSError, UnicodeDecodeError):
        return set()
    mapping = re.search(r"MAPPING[^=]*=\s*\{(.*?)\}", text, re.S)
    return set(re.findall(r"['\"]([A-Za-z_][A-Za-z0-9_]*)['\"]\s*:", mapping.group(1))) if mapping else set()


def requires_dist(metadata: str) -> list[str]:
    found = []
    for line in metadata.split("\n\n", 1)[0].splitlines():
        if line[:14].lower() == "requires-dist:":
            found.append(line[14:].strip())
    return found


def requires_txt(text: str) -> list[str]:
    found = []
    section = ""
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1]
            continue
        extra, _, marker = section.partition(":")
        conditions = [f"({marker})"] if marker else []
        if extra:
            conditions.append(f'extra == "{extra}"')
        found.append(line + ("; " + " and ".join(conditions) if conditions else ""))
    return found


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

    from vornu_imports.sources import GitError, run_process

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


class Table:
    """The bundled table: `modules` of each distribution listed, and apart the meta-packages
    (whose modules are their requirements') and the namespace portions of each."""

    def __init__(self, modules: dict[str, list[str]], meta: frozenset[str], portions: dict[str, list[str]]) -> None:
        self.modules = modules
        self.meta = meta
        self.portions = portions


_table: Table | None = None


def bundled_table() -> Table:
    global _table
    if _table is None:
        import json

        try:
            with open(TABLE, encoding="utf-8") as file:
                data = json.load(file)
            _table = Table(dict(data["distributions"]), frozenset(data.get("meta-packages", ())),
                           dict(data.get("namespace-portions", {})))
        except (OSError, ValueError, KeyError) as error:
            raise ConfigError(f"the bundled table {TABLE} cannot be read: {error}") from None
    return _table


_reverse: dict[str, list[str]] | None = None


def table_providers(module: str) -> list[str]:
    """The distributions of the table that provide `module` themselves and as more than a
    namespace portion: a meta-package provides the modules of what it requires, and a
    portion is shared, so an import of either says nothing of the distribution."""
    global _reverse
    if _reverse is None:
        table = bundled_table()
        _reverse = {}
        for distribution, modules in sorted(table.modules.items()):
            if distribution not in table.meta:
                shared = table.portions.get(distribution, ())
                for provided in modules:
                    if provided not in shared:
                        _reverse.setdefault(provided, []).append(distribution)
    return _reverse.get(module, [])


# Words that distributions put around the name of the module they provide (python-dateutil,
# django-modelcluster, pyyaml's kin py-X, X-python): the name without them is a module too.
PREFIXES = ("python-", "py-", "django-")
SUFFIXES = ("-python", "-py")


def names_from_name(name: str) -> list[str]:
    """The modules a distribution that is neither installed nor in the table may provide: its
    name with "-" as "_", and that name without one of the usual prefixes or suffixes."""
    found = {name.replace("-", "_")}
    for prefix in PREFIXES:
        if name.startswith(prefix) and len(name) > len(prefix):
            found.add(name[len(prefix):].replace("-", "_"))
    for suffix in SUFFIXES:
        if name.endswith(suffix) and len(name) > len(suffix):
            found.add(name[: -len(suffix)].replace("-", "_"))
    return sorted(module for module in found if module.isidentifier()) or [name.replace("-", "_")]


def stub_base(name: str) -> str | None:
    """The distribution a stub-only distribution describes: types-X and X-stubs give X."""
    if name.startswith("types-"):
        return name[len("types-") :]
    if name.endswith("-stubs"):
        return name[: -len("-stubs")]
    return None


class Providers:
    def __init__(self, environment: Environment, module_map: dict[str, list[str]],
                 siblings: dict[str, list[str]]) -> None:
        self.environment = environment
        self.module_map = module_map
        self.siblings = siblings  # projects of the same tree: name -> their own modules

    def modules_of(self, name: str) -> tuple[list[str], str]:
        """The modules of a distribution, and where that answer comes from."""
        base = stub_base(name)
        if base is not None:
            modules, source = self.modules_of(base)
            installed = self.environment.modules(name)
            return sorted(set(modules) | set(installed)), source
        if name in self.module_map:
            return self.module_map[name], "module-map"
        if name in self.siblings:
            return self.siblings[name], "project"
        installed = self.environment.modules(name)
        if installed:
            return installed, "installed"
        table = bundled_table().modules
        if name in table:
            return table[name], "table"
        return names_from_name(name), "name"

    def suggestion(self, module: str) -> str | None:
        """A distribution that would provide `module`, for the message of an undeclared import."""
        for name, modules in sorted(self.siblings.items()):
            if module in modules:
                return name
        for found in (self.environment.providers(module), table_providers(module)):
            if found:
                return found[0]
        return None
