"""The projects below the checked PATH (one, or the members of a monorepo), the files each
owns, and its first-party names."""

from __future__ import annotations

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
    # Of the Python files only setup.py can declare anything.
    owners = {relative: owner_folder(relative) for relative in files
              if not relative.endswith((".py", ".ipynb")) or relative.endswith("setup.py")}
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
    from fnmatch import fnmatchcase

    for folder, root in projects.items():
        if root.workspace_members is None:
            continue
        shared = [d for d in root.declarations if d.kind == "dev"]
        for member_folder, member in projects.items():
            if member is root or not within(member_folder, folder):
                continue
            below = member_folder[len(folder) + 1 :] if folder else member_folder
            if any(fnmatchcase(below, pattern.rstrip("/")) for pattern in root.workspace_members):
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
    own_name = (project.name or "").replace("-", "_")
    # Only the first two levels decide: each distinct (top entry, second entry, deeper?) once.
    shapes: set[tuple[str, str, bool]] = set()
    for relative in project.files + project.notebooks:
        head, _, rest = relative[len(prefix):].partition("/")
        below, _, further = rest.partition("/")
        shapes.add((head, below, bool(further)))
    for top, second, deeper in shapes:
        first = top_name(top)
        if first:
            names.add(first)
        own = first == own_name
        if not second and own:
            packages.add(prefix + top)
        if second and first and first not in NOT_PACKAGE:
            if second == "__init__.py" and not deeper or own:
                packages.add(prefix + top)
        if top == "src" and deeper and top_name(second):
            names.add(second)
            packages.add(prefix + "src/" + second)
        elif top == "src" and second and not deeper and top_name(second):
            names.add(str(top_name(second)))
            packages.add(prefix + "src/" + second)
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


def is_test_file(relative: str, root: str = ".") -> bool:
    """Whether a file (relative to PATH) is test code of the project at `root`: in a `tests`
    or `testing` folder, in a `test` folder at the project's top (a package's own `test`
    module, such as django.test, is code it ships), or named like a test module."""
    parts = (relative[len(root) + 1:] if root != "." and relative.startswith(root + "/") else relative).split("/")
    base = parts[-1]
    return (
        any(part in ("tests", "testing") for part in parts[:-1])
        or parts[0] == "test" and len(parts) > 1
        or base.startswith("test_")
        or base.endswith("_test.py")
        or base in ("conftest.py", "tests.py")
    )


def is_package_code(project: Project, relative: str) -> bool:
    if is_test_file(relative, project.root):
        return False
    return any(relative == d or relative.startswith(d + "/") for d in project.package_dirs)


class Locality:
    """Modules next to a script or test, or in a folder above it within the project: run as a
    script, or by a test runner that puts its folder on sys.path, a file imports them by
    their plain name. Code of the package itself imports absolutely, so it has no such names."""

    def __init__(self, project: Project) -> None:
        self.project = project
        self.files = set(project.files)
        self.folders: set[str] = set()  # every folder holding a file, at any depth
        for relative in project.files:
            folder = relative.rpartition("/")[0]
            while folder and folder not in self.folders:
                self.folders.add(folder)
                folder = folder.rpartition("/")[0]
        self.package: dict[str, bool] = {}

    def is_package_code(self, relative: str) -> bool:
        if relative not in self.package:
            self.package[relative] = is_package_code(self.project, relative)
        return self.package[relative]

    def is_local(self, relative: str, module: str) -> bool:
        if self.is_package_code(relative):
            return False
        folder = relative.rpartition("/")[0]
        while True:
            beside = f"{folder}/{module}" if folder else module
            if beside + ".py" in self.files or beside in self.folders:
                return True
            if not folder:
                return False
            folder = folder.rpartition("/")[0]
