"""Declared dependencies of one project, with the group each belongs to: pyproject.toml
(see `pyproject`), setup.cfg, requirements files, conda's environment.yml and pixi.toml."""

from __future__ import annotations

import os
import re

from vornu_imports.check.model import ConfigError, Declaration, Project, canonical
from vornu_imports.check.pyproject import CONDA_TOOLS, Reader, open_text, read_pixi, read_pyproject, table
from vornu_imports.check.requirements import declaration, is_requirements_file, read_requirements_file

CONDA_NAME = re.compile(r"^(?:[\w.-]+::)?([A-Za-z0-9_][A-Za-z0-9_.\-]*)")


def read_setup_cfg(project: Project, base: str, relative: str, shown: str) -> None:
    import configparser

    text = open_text(os.path.join(base, relative), shown)
    parser = configparser.ConfigParser(interpolation=None)
    try:
        parser.read_string(text, source=shown)
    except configparser.Error as error:
        raise ConfigError(f"{shown}: {error}") from None
    reader = Reader(project, base, relative, shown)
    name = parser.get("metadata", "name", fallback=None)
    if name and project.name is None:
        project.name = canonical(name)

    def entries(value: str) -> list[str]:
        return [line.split(" #")[0].strip() for line in value.splitlines() if line.strip() and not line.strip().startswith("#")]

    for text_ in entries(parser.get("options", "install_requires", fallback="")):
        reader.add(text_, "runtime", "runtime", "options.install_requires")
    for text_ in entries(parser.get("options", "tests_require", fallback="")):
        reader.add(text_, "group:tests", "dev", "options.tests_require")
    if parser.has_section("options.extras_require"):
        for extra, value in parser.items("options.extras_require"):
            for text_ in entries(value):
                reader.add(text_, f"extra:{extra}", "extra", f"options.extras_require.{extra}")
    packages = parser.get("options", "packages", fallback="")
    package_dir = parser.get("options", "package_dir", fallback="").replace("=", " ").split()
    prefix = package_dir[0] if len(package_dir) == 1 else ""
    if packages.strip().startswith("find"):
        where = parser.get("options.packages.find", "where", fallback=prefix or ".").strip()
        project.package_paths.append(os.path.join(where, "*"))
    else:
        for name in entries(packages):
            project.package_paths.append(os.path.join(prefix, name.split(".")[0]))


def read_environment_yml(project: Project, base: str, relative: str, shown: str) -> None:
    """The `dependencies:` list of a conda environment file, and its `pip:` sub-list; a small
    reader for that common shape, since no YAML parser comes with Python."""
    text = open_text(os.path.join(base, relative), shown)
    inside = False
    pip_indent: int | None = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.split(" #")[0].rstrip()
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        indent = len(line) - len(line.lstrip())
        if indent == 0:
            inside = line.strip() == "dependencies:"
            pip_indent = None
            continue
        item = line.strip()
        if not inside or not item.startswith("-"):
            continue
        entry = item[1:].strip().strip("\"'")
        if entry == "pip:":
            pip_indent = indent
            continue
        if pip_indent is not None and indent > pip_indent:
            if not entry.startswith("-"):
                project.declarations.append(declaration(entry, "environment", "environment", shown, number, f"{shown}:{number}"))
            continue
        pip_indent = None
        match = CONDA_NAME.match(entry)
        if match is None:
            raise ConfigError(f"{shown}:{number}: not a conda package: {entry!r}")
        if match.group(1).lower() not in CONDA_TOOLS:
            project.declarations.append(
                Declaration(canonical(match.group(1)), entry, "environment", "environment", shown, number)
            )


def read_pixi_toml(project: Project, base: str, relative: str, shown: str) -> None:
    reader = Reader(project, base, relative, shown)
    data = reader.toml()
    for key in ("project", "workspace"):
        name = table(data, key, shown).get("name")
        if isinstance(name, str) and project.name is None:
            project.name = canonical(name)
    read_pixi(reader, data)


DECLARATION_FILES = {
    "pyproject.toml": read_pyproject,
    "setup.cfg": read_setup_cfg,
    "environment.yml": read_environment_yml,
    "environment.yaml": read_environment_yml,
    "pixi.toml": read_pixi_toml,
}


def is_declaration_file(relative: str) -> bool:
    return os.path.basename(relative) in DECLARATION_FILES or is_requirements_file(relative)


def read_project(project: Project, base: str) -> None:
    """Reads every declaration file of `project`, whose root is `base` on disk."""
    seen: set[str] = set()
    files = sorted(project.declaration_files, key=lambda f: (os.path.basename(f) != "pyproject.toml", f))
    for relative in files:
        shown = os.path.normpath(os.path.join(project.root, relative))
        reader = DECLARATION_FILES.get(os.path.basename(relative))
        if reader is not None:
            reader(project, base, relative, shown)
            continue
        if os.path.normpath(os.path.join(base, relative)) in seen:
            continue
        stem = relative.rsplit(".", 1)[0]
        if relative.endswith(".txt") and f"{stem}.in" in project.declaration_files:
            continue  # compiled from the .in next to it: a lock of everything, not a declaration
        declarations, _ = read_requirements_file(base, relative, shown, seen)
        scope = fixture_scope(relative)
        if scope:
            scope = ("" if project.root == "." else project.root + "/") + scope
            for found in declarations:
                found.scope = scope
        project.declarations += declarations


TEST_FOLDERS = {"tests", "test", "testing"}


def fixture_scope(relative: str) -> str:
    """The folder (with a final "/") that a requirements file declares for, when that is not
    the whole project: a file below a test folder that sits in a folder of its own (not in a
    `requirements` folder) belongs to the files beside it and below, such as a project
    template among the fixtures or a part of the suite installed apart
    (tests/admin_scripts/custom_templates/project_template/requirements.in,
    testing/plugins_integration/requirements.txt)."""
    folders = relative.split("/")[:-1]
    if not folders or folders[-1].lower() in ("requirements", "reqs"):
        return ""
    if any(folder.lower() in TEST_FOLDERS for folder in folders[:-1]):
        return "/".join(folders) + "/"
    return ""
