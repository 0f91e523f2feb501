"""One installed distribution, read from its metadata folder (`*.dist-info` or `*.egg-info`)
only as far as a question needs: its modules from RECORD, top_level.txt or an editable
install's path file, and its requirements from METADATA or requires.txt."""

from __future__ import annotations

import os
import re

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
