"""Prints, as JSON, what the interpreter running it has installed: for each distribution its
top-level modules and its requirements; and the interpreter's standard library names.

`vornu-imports check --python PATH` runs this file's text in that interpreter, so it imports
nothing but the standard library and keeps to what Python 3.8 has; the check imports it for
the interpreter that runs the check itself."""

from __future__ import annotations

import importlib.metadata as metadata
import json
import re
import sys
from typing import Any, Iterable

EXTENSION = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\..*(?:\.so|\.pyd)$")


def from_files(files: Iterable[metadata.PackagePath]) -> set[str]:
    """Top-level modules of a distribution from its RECORD."""
    names: set[str] = set()
    for path in files:
        parts = path.parts
        top = parts[0] if parts else ""
        if not top or top in ("..", "__pycache__") or top.endswith((".dist-info", ".egg-info", ".data")):
            continue
        if top.startswith("__editable__"):
            if top.endswith("_finder.py"):
                names.update(editable_modules(path))
            continue
        extension = EXTENSION.match(top)
        if len(parts) == 1:
            if top.endswith(".py") and top[:-3].isidentifier():
                names.add(top[:-3])
            elif extension:
                names.add(extension.group(1))
            continue
        if top.endswith("-stubs"):
            top = top[: -len("-stubs")]
        if top.isidentifier():
            names.add(top)
    return names


def editable_modules(path: metadata.PackagePath) -> set[str]:
    """The modules an editable install's finder maps (setuptools' __editable___*_finder.py)."""
    try:
        text = path.read_text()
    except (OSError, UnicodeDecodeError):
        return set()
    mapping = re.search(r"MAPPING[^=]*=\s*\{(.*?)\}", text, re.S)
    return set(re.findall(r"['\"]([A-Za-z_][A-Za-z0-9_]*)['\"]\s*:", mapping.group(1))) if mapping else set()


def probe() -> dict[str, Any]:
    distributions: dict[str, Any] = {}
    for dist in metadata.distributions():
        name = dist.metadata["Name"] if dist.metadata else None
        if not name:
            continue  # a folder left behind without its METADATA
        key = re.sub(r"[-_.]+", "-", name).lower()
        if key in distributions:
            continue  # shadowed by an earlier entry of sys.path
        top_level = dist.read_text("top_level.txt")
        modules: set[str] = set()
        if top_level:
            tops = {line.strip().split("/")[0] for line in top_level.splitlines() if line.strip()}
            modules = {m[: -len("-stubs")] if m.endswith("-stubs") else m for m in tops}
        if not modules:
            modules = from_files(dist.files or [])
        distributions[key] = {"modules": sorted(modules), "requires": list(dist.requires or [])}
    stdlib = set(getattr(sys, "stdlib_module_names", ())) | set(sys.builtin_module_names)
    return {"python": sys.executable, "stdlib": sorted(stdlib), "distributions": distributions}


if __name__ == "__main__":
    json.dump(probe(), sys.stdout)
