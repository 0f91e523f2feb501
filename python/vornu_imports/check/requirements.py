"""Requirement strings and pip's requirements files (`-r`, `-c`, options, hashes, markers,
URLs, editable lines)."""

from __future__ import annotations

import os
import re

from vornu_imports.check import pep508
from vornu_imports.check.model import ConfigError, Declaration, canonical

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterator

    from vornu_imports.check.model import Kind

# A file name such as "foo-1.2.tar.gz" or "foo-1.2-py3-none-any.whl" at the end of a URL or path.
ARCHIVE = re.compile(r"([A-Za-z0-9][A-Za-z0-9._]*?)-\d[^/]*?(?:\.tar\.gz|\.tar\.bz2|\.zip|\.whl|\.tgz)$")
EGG = re.compile(r"[#&]egg=([A-Za-z0-9][A-Za-z0-9._-]*)")
# Options pip accepts after a requirement on the same line.
TRAILING_OPTION = re.compile(r"\s+--?[a-zA-Z]")
INCLUDE = re.compile(r"^(-r|--requirement|-c|--constraint)(?:\s*=?\s*|\s+)(\S.*)$")
EDITABLE = re.compile(r"^(?:-e|--editable)(?:\s*=?\s*|\s+)(\S.*)$")
# Names of requirements files whose dependencies are the project's runtime ones.
RUNTIME_STEMS = {"", "base", "main", "prod", "production", "runtime", "common", "core", "install", "default"}


def parse_requirement(text: str, where: str) -> tuple[str, frozenset[str]]:
    """The distribution a requirement names, normalised, and its extras."""
    common = pep508.parse(text)
    if common is not None:
        return canonical(common[0]), common[1]
    from packaging.requirements import InvalidRequirement, Requirement

    try:
        requirement = Requirement(text)
    except InvalidRequirement as error:
        # The parser's first line; the lines after it repeat the text with a caret.
        raise ConfigError(f"{where}: {str(error).splitlines()[0]}") from None
    return canonical(requirement.name), frozenset(requirement.extras)


def declaration(text: str, group: str, kind: Kind, file: str, line: int | None, where: str,
                scope: str = "") -> Declaration:
    name, extras = parse_requirement(text, where)
    return Declaration(name, text, group, kind, file, line, extras, scope)


def group_of_file(relative: str) -> tuple[str, Kind]:
    """The group of a requirements file from its path below the project root:
    "requirements.txt" and "requirements/base.txt" hold the runtime dependencies;
    "requirements-dev.txt", "requirements/test.in" the groups "dev" and "test";
    files further down ("docs/requirements.txt") the group of their path ("docs")."""
    parent, base = os.path.split(relative)
    stem = base.rsplit(".", 1)[0].lower()
    folder = os.path.basename(parent).lower()
    if folder in ("requirements", "reqs"):
        name = stem
        parent = os.path.dirname(parent)
    else:
        name = stem.replace("requirements", "").strip("-_.")
    if parent:
        return f"group:{'/'.join(filter(None, [parent, name]))}", "dev"
    if name in RUNTIME_STEMS:
        return "runtime", "runtime"
    return f"group:{name}", "dev"


def is_requirements_file(relative: str) -> bool:
    parent, base = os.path.split(relative)
    lower = base.lower()
    if not lower.endswith((".txt", ".in")) or lower == "manifest.in":
        return False
    return "requirements" in lower or os.path.basename(parent).lower() in ("requirements", "reqs")


def logical_lines(text: str) -> Iterator[tuple[int, str]]:
    """(first line number, text) of each line, with continuations joined and comments cut."""
    pending: list[str] = []
    start = 0
    for number, raw in enumerate(text.splitlines(), 1):
        if not pending:
            start = number
        line = re.sub(r"(^|\s)#.*$", "", raw)
        if line.endswith("\\"):
            pending.append(line[:-1])
            continue
        pending.append(line)
        joined = " ".join(part.strip() for part in pending).strip()
        pending = []
        if joined:
            yield start, joined


def name_of_location(location: str, base: str) -> str | None:
    """The distribution named by a URL, an archive or a local project folder, if any."""
    egg = EGG.search(location)
    if egg:
        return egg.group(1)
    clean = location.split("#", 1)[0].split("?", 1)[0].rstrip("/")
    archive = ARCHIVE.search(clean)
    if archive:
        return archive.group(1)
    if "://" in clean and not clean.startswith("file:"):
        return None
    path = clean.removeprefix("file://").removeprefix("file:")
    folder = os.path.normpath(os.path.join(base, path))
    return local_project_name(folder)


def local_project_name(folder: str) -> str | None:
    import tomllib

    try:
        with open(os.path.join(folder, "pyproject.toml"), "rb") as file:
            data = tomllib.load(file)
    except (OSError, tomllib.TOMLDecodeError):
        data = {}
    for table in (data.get("project"), data.get("tool", {}).get("poetry")):
        if isinstance(table, dict) and isinstance(table.get("name"), str):
            return str(table["name"])
    import configparser

    parser = configparser.ConfigParser(interpolation=None)
    try:
        parser.read(os.path.join(folder, "setup.cfg"), encoding="utf-8")
    except (configparser.Error, UnicodeDecodeError):
        return None
    return parser.get("metadata", "name", fallback=None)


def read_requirements_file(
    root: str, relative: str, shown: str, seen: set[str], group: tuple[str, Kind] | None = None
) -> tuple[list[Declaration], list[str]]:
    """The declarations of one requirements file and of the files it names with -r, and every
    file read (constraint files included). `shown` is how messages name the file."""
    path = os.path.normpath(os.path.join(root, relative))
    if path in seen:
        return [], []
    seen.add(path)
    try:
        with open(path, encoding="utf-8") as file:
            text = file.read()
    except (OSError, UnicodeDecodeError) as error:
        raise ConfigError(f"{shown}: cannot read: {error}") from None
    group_name, kind = group or group_of_file(relative)
    declarations: list[Declaration] = []
    files = [relative]
    base = os.path.dirname(path)
    for number, line in logical_lines(text):
        where = f"{shown}:{number}"
        include = INCLUDE.match(line)
        if include:
            target = os.path.relpath(os.path.join(base, include.group(2).strip()), root)
            target_shown = os.path.join(os.path.dirname(shown), include.group(2).strip())
            if not os.path.isfile(os.path.join(root, target)):
                raise ConfigError(f"{where}: no such requirements file: {include.group(2).strip()}")
            more, read = read_requirements_file(root, target, os.path.normpath(target_shown), seen)
            # Constraints pin versions; they declare nothing.
            if include.group(1) in ("-r", "--requirement"):
                declarations += more
            files += read
            continue
        editable = EDITABLE.match(line)
        if editable:
            location = TRAILING_OPTION.split(editable.group(1), 1)[0]
            name = name_of_location(location, base)
            if name:
                declarations.append(
                    Declaration(canonical(name), line, group_name, kind, shown, number)
                )
            continue
        if line.startswith("-"):
            continue  # an option of pip's: index, find-links, hashes, ...
        requirement = TRAILING_OPTION.split(line, 1)[0]
        if requirement.startswith((".", "/", "file:")) or re.match(r"^[a-z+]+://", requirement):
            name = name_of_location(requirement, base)
            if name:
                declarations.append(
                    Declaration(canonical(name), line, group_name, kind, shown, number)
                )
            continue
        declarations.append(declaration(requirement, group_name, kind, shown, number, where))
    return declarations, files
