"""The projects below the checked PATH (one, or the members of a monorepo), the files each
owns, and its first-party names."""

from __future__ import annotations

import fnmatch
import os
import posixpath

from vornu_imports.check.declarations import DECLARATION_FILES, read_project
from vornu_imports.check.files import Excluder
from vornu_imports.check.model import Project
from vornu_imports.check.requirements import is_requirements_file

MARKERS = set(DECLARATION_FILES) | {"setup.py"}
REQUIREMENT_FOLDERS = {"requirements", "reqs"}
# Top-level folders that hold code about the package rather than the package itself.
NOT_PACKAGE = {"tests", "test", "testing", "docs", "doc", "examples", "example", "benchmarks", "bench", "scripts", "tools", "tasks"}
TEST_FOLDERS = {"tests", "test", "testing"}


def owner_folder(relative: str) -> str | None:
    """The folder whose project a declaration file belongs to, or None for other files."""
    folder, base = posixpath.split(relative)
    if base in MARKERS:
        return folder
    if is_requirements_file(relative):
        if posixpath.basename(folder).lower() in REQUIREMENT_FOLDERS:
            return posixpath.dirname(folder)
        return folder
    return None


def within(relative: str, folder: str) -> bool:
    return folder == "" or relative.startswith(folder + "/")


def discover(path: str, files: list[str]) -> list[Project]:
    """Projects rooted at PATH and at each folder below it holding a project file (pyproject.toml,
    setup.py, setup.cfg, pixi.toml, environment.yml); every file goes to the deepest project
    that holds it. A folder with only requirements files is a project of its own when PATH
    declares nothing itself (a tree of several requirements roots); otherwise its files are
    development requirements of the project around it (docs/requirements.txt)."""
    listed = set(files)
    owners = {relative: owner_folder(relative) for relative in files}
    for relative, folder in owners.items():
        # A setup.py inside a package is one of its modules (Ansible's "setup"), not a project.
        if posixpath.basename(relative) == "setup.py" and posixpath.join(folder or "", "__init__.py") in listed:
            owners[relative] = None
    roots: set[str] = {""}
    requirement_roots: set[str] = set()
    for relative, folder in owners.items():
        if folder is None:
            continue
        if is_requirements_file(relative):
            requirement_roots.add(folder)
        else:
            roots.add(folder)
    top_declares = any(folder == "" for relative, folder in owners.items() if relative != "setup.py")
    if not top_declares:
        roots |= requirement_roots
    deepest_first = sorted(roots, key=lambda f: -(f.count("/") + 1 if f else 0))
    projects = {folder: Project(root=folder or ".") for folder in sorted(roots)}

    def owner(relative: str) -> str:
        return next(f for f in deepest_first if within(relative, f))

    for relative, folder in owners.items():
        if folder is not None and posixpath.basename(relative) != "setup.py":
            home = owner(relative) if folder not in roots else folder
            projects[home].declaration_files.append(relative[len(home) + 1 :] if home else relative)
    for relative in files:
        if relative.endswith((".py", ".ipynb")):
            target = projects[owner(relative)]
            (target.notebooks if relative.endswith(".ipynb") else target.files).append(relative)
    for folder, project in projects.items():
        project.declaration_files.sort()
        read_project(project, os.path.join(path, folder) if folder else path)
        if project.settings.exclude:
            prefix = folder + "/" if folder else ""
            excluder = Excluder(project.settings.exclude)
            project.files = [f for f in project.files if not excluder.excludes_file(f[len(prefix):])]
            project.notebooks = [f for f in project.notebooks if not excluder.excludes_file(f[len(prefix):])]
    inherit_workspace_groups(projects)
    chosen = [p for folder, p in sorted(projects.items()) if folder or p.declarations or len(projects) == 1]
    for project in chosen:
        find_first_party(path, project)
    return chosen


def inherit_workspace_groups(projects: dict[str, Project]) -> None:
    """Members of a uv workspace share its environment: the development groups declared at the
    workspace root count for them too."""
    for folder, root in projects.items():
        if root.workspace_members is None:
            continue
        shared = [d for d in root.declarations if d.kind == "dev"]
        for member_folder, member in projects.items():
            if member is root or not within(member_folder, folder):
                continue
            below = member_folder[len(folder) + 1 :] if folder else member_folder
            if any(fnmatch.fnmatchcase(below, pattern.rstrip("/")) for pattern in root.workspace_members):
                member.declarations += shared


def top_name(entry: str) -> str | None:
    name = entry[:-3] if entry.endswith(".py") else entry
    return name if name.isidentifier() else None


def find_first_party(path: str, project: Project) -> None:
    """Names of the project's own modules: its name, what sits at its top and in src/, the
    packages its build settings name; and the folders of the package's own code."""
    prefix = "" if project.root == "." else project.root + "/"
    names = project.first_party
    if project.name:
        names.add(project.name.replace("-", "_"))
    names.update(project.settings.first_party)
    packages: set[str] = set()
    for relative in project.files + project.notebooks:
        parts = relative[len(prefix) :].split("/")
        first = top_name(parts[0])
        if first:
            names.add(first)
        own = first == (project.name or "").replace("-", "_")
        if len(parts) == 1 and own:
            packages.add(relative)
        if len(parts) > 1 and first and first not in NOT_PACKAGE:
            if parts[1] == "__init__.py" or own:
                packages.add(prefix + parts[0])
        if parts[0] == "src" and len(parts) > 2 and top_name(parts[1]):
            names.add(parts[1])
            packages.add(prefix + "src/" + parts[1])
        elif parts[0] == "src" and len(parts) == 2 and top_name(parts[1]):
            names.add(str(top_name(parts[1])))
            packages.add(prefix + relative[len(prefix) :])
    base = os.path.join(path, project.root)
    declared: set[str] = set()
    for pattern in project.package_paths:
        for match in glob_folder(base, pattern):
            name = top_name(os.path.basename(match))
            if name and name not in NOT_PACKAGE:
                names.add(name)
                declared.add(prefix + os.path.relpath(match, base).replace(os.sep, "/"))
    project.package_dirs = sorted(declared or packages)


def glob_folder(base: str, pattern: str) -> list[str]:
    pattern = os.path.normpath(pattern)
    if pattern.endswith("*"):
        folder = os.path.join(base, pattern[:-1])
        try:
            # Packages found below a folder: its subfolders, never its scripts (setup.py).
            return [entry.path for entry in os.scandir(folder) if entry.is_dir()]
        except OSError:
            return []
    full = os.path.join(base, pattern)
    return [full] if os.path.exists(full) else []


def is_test_file(relative: str) -> bool:
    parts = relative.split("/")
    base = parts[-1]
    return (
        any(part in TEST_FOLDERS for part in parts[:-1])
        or base.startswith("test_")
        or base.endswith("_test.py")
        or base in ("conftest.py", "tests.py")
    )


def is_package_code(project: Project, relative: str) -> bool:
    if is_test_file(relative):
        return False
    return any(relative == d or relative.startswith(d + "/") for d in project.package_dirs)


class Locality:
    """Modules next to a script or test, or in a folder above it within the project: run as a
    script, or by a test runner that puts its folder on sys.path, a file imports them by
    their plain name. Code of the package itself imports absolutely, so it has no such names."""

    def __init__(self, project: Project) -> None:
        self.project = project
        self.children: dict[str, set[str]] = {}
        for relative in project.files:
            parts = relative.split("/")
            for depth in range(len(parts)):
                name = top_name(parts[depth])
                if name:
                    self.children.setdefault("/".join(parts[:depth]), set()).add(name)
        self.package: dict[str, bool] = {}

    def is_package_code(self, relative: str) -> bool:
        if relative not in self.package:
            self.package[relative] = is_package_code(self.project, relative)
        return self.package[relative]

    def is_local(self, relative: str, module: str) -> bool:
        if self.is_package_code(relative):
            return False
        folder = posixpath.dirname(relative)
        while True:
            if module in self.children.get(folder, ()):
                return True
            if not folder:
                return False
            folder = posixpath.dirname(folder)
