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
    """Projects rooted at PATH and at each folder below it holding a declaration file; every
    file goes to the deepest project that holds it."""
    roots: dict[str, list[str]] = {"": []}
    for relative in files:
        folder = owner_folder(relative)
        if folder is not None:
            roots.setdefault(folder, [])
    for relative in files:
        folder = owner_folder(relative)
        if folder is not None and posixpath.basename(relative) != "setup.py":
            roots[folder].append(relative[len(folder) + 1 :] if folder else relative)
    deepest_first = sorted(roots, key=lambda f: -(f.count("/") + 1 if f else 0))
    projects = {folder: Project(root=folder or ".", declaration_files=sorted(roots[folder])) for folder in sorted(roots)}
    for relative in files:
        if not relative.endswith((".py", ".ipynb")):
            continue
        folder = next(f for f in deepest_first if within(relative, f))
        target = projects[folder]
        (target.notebooks if relative.endswith(".ipynb") else target.files).append(relative)
    for folder, project in projects.items():
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
            return [entry.path for entry in os.scandir(folder) if entry.is_dir() or entry.name.endswith(".py")]
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
