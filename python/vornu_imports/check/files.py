"""The files of the checked tree: Python sources, notebooks and declaration files, listed by
git (as `vornu_imports.git_listing` lists them for the scan) or by a walk that leaves out tools'
environments and build output, less the excluded ones."""

from __future__ import annotations

import os
import re

from vornu_imports import git_listing
from vornu_imports.check.model import ConfigError, FileWarning
from vornu_imports.check.requirements import is_requirements_file

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable

# Folders a walk leaves out: tools' environments and build output. A folder that holds
# pyvenv.cfg is a virtual environment whatever its name; "build" and "dist" holding an
# __init__.py are packages, not build output.
DEFAULT_EXCLUDED = {".git", ".hg", ".svn", ".tox", ".nox", "node_modules", "__pycache__"}
OUTPUT_FOLDERS = {"build", "dist"}


def glob_regex(pattern: str) -> tuple[re.Pattern[str], bool, bool]:
    """A gitignore-style pattern as (regex, anchored, folders only)."""
    folders_only = pattern.endswith("/")
    body = pattern.rstrip("/")
    anchored = "/" in body
    body = body.lstrip("/")
    out = []
    index = 0
    while index < len(body):
        if body.startswith("**/", index):
            out.append("(?:.*/)?")
            index += 3
        elif body.startswith("/**", index) and index + 3 == len(body):
            out.append("/.*")
            index += 3
        elif body[index] == "*":
            out.append("[^/]*")
            index += 1
        elif body[index] == "?":
            out.append("[^/]")
            index += 1
        elif body[index] == "[" and "]" in body[index + 1 :]:
            end = body.index("]", index + 1)
            out.append("[" + body[index + 1 : end].replace("!", "^", 1) + "]")
            index = end + 1
        else:
            out.append(re.escape(body[index]))
            index += 1
    return re.compile("".join(out)), anchored, folders_only


class Excluder:
    def __init__(self, patterns: Iterable[str]) -> None:
        self.rules = []
        for pattern in patterns:
            if not pattern.strip() or pattern.startswith("!"):
                raise ConfigError(f"--exclude: unsupported pattern {pattern!r}")
            self.rules.append(glob_regex(pattern.strip()))
        self.folders: dict[str, bool] = {}

    def matches(self, relative: str, is_folder: bool) -> bool:
        for regex, anchored, folders_only in self.rules:
            if folders_only and not is_folder:
                continue
            subject = relative if anchored else relative.rsplit("/", 1)[-1]
            if regex.fullmatch(subject):
                return True
        return False

    def excludes_file(self, relative: str) -> bool:
        parts = relative.split("/")
        for depth in range(1, len(parts)):
            folder = "/".join(parts[:depth])
            if folder not in self.folders:
                self.folders[folder] = self.matches(folder, True)
            if self.folders[folder]:
                return True
        return self.matches(relative, False)


# The files a project declares its dependencies in, by name.
DECLARATION_NAMES = frozenset({"pyproject.toml", "setup.cfg", "setup.py", "environment.yml", "environment.yaml",
                               "pixi.toml"})


def wanted(relative: str) -> bool:
    base = relative.rpartition("/")[2]
    if base.endswith((".py", ".ipynb")):
        return len(base) > 3
    return base in DECLARATION_NAMES or base.endswith((".txt", ".in")) and is_requirements_file(relative)


def wanted_bytes(relative: bytes) -> bool:
    return relative.endswith((b".py", b".ipynb", b".toml", b".cfg", b".yml", b".yaml", b".txt", b".in")) and \
        wanted(os.fsdecode(relative))


def walk(path: str, excluder: Excluder, skipped: list[str] | None = None) -> list[str]:
    """The wanted files below `path`, in no particular order; links to folders are not
    followed, as in the scan. A folder is judged by its own entries (pyvenv.cfg,
    __init__.py), so it costs no extra call; each entry is looked at once. Names that are
    not valid UTF-8, which `scan_imports` cannot take, go to `skipped` instead."""
    found: list[str] = []
    pending = [("", path)]
    rules = bool(excluder.rules)
    while pending:
        prefix, folder = pending.pop()
        files: list[str] = []
        folders: list[tuple[str, str]] = []
        environment = package = False
        try:
            with os.scandir(folder) as listing:
                for entry in listing:
                    name = entry.name
                    if not name.isascii() and not utf8(name):
                        if skipped is not None:
                            skipped.append(prefix + name)
                        continue
                    try:
                        is_folder = entry.is_dir(follow_symlinks=False)
                    except OSError:
                        continue
                    if is_folder:
                        if name not in DEFAULT_EXCLUDED:
                            folders.append((prefix + name, entry.path))
                    elif name.endswith(".py"):
                        if len(name) > 3:
                            files.append(prefix + name)
                            package = package or name == "__init__.py"
                    elif name == "pyvenv.cfg":
                        environment = True
                    elif wanted(prefix + name):
                        files.append(prefix + name)
        except OSError:
            continue
        if prefix and (environment or prefix[:-1].rpartition("/")[2] in OUTPUT_FOLDERS and not package):
            continue
        if rules:
            files = [f for f in files if not excluder.matches(f, False)]
            folders = [f for f in folders if not excluder.matches(f[0], True)]
        found += files
        pending += [(relative + "/", full) for relative, full in folders]
    return found


def utf8(name: str) -> bool:
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def list_files(path: str, use_git: bool | None, patterns: Iterable[str],
               warnings: list[FileWarning]) -> tuple[list[str], bool]:
    """The wanted files below `path`, relative to it with "/" between folders, sorted; and
    whether git listed them. `use_git` None: git when `path` is inside a work tree, and a walk
    with a warning when git cannot list it there; True: git or a ConfigError."""
    excluder = Excluder(patterns)
    listed = None
    if use_git is not False and (use_git or git_listing.may_be_in_work_tree(path)):
        try:
            listed, skipped = git_listing.git_files(path, wanted_bytes)
            if skipped:
                warnings.append(FileWarning(path, f"skipped {skipped} file name(s) that are not valid UTF-8"))
        except git_listing.NotInWorkTree as error:
            if use_git:
                raise ConfigError(f"--git: {error}") from None
        except git_listing.GitError as error:
            if use_git:
                raise ConfigError(f"--git: git cannot list the files: {error}") from None
            warnings.append(FileWarning(path, f"walking every file, ignored ones too, as git cannot list them: {error}"))
    if listed is not None:
        files = [name for name in listed if not excluder.excludes_file(name)]
    else:
        skipped_names: list[str] = []
        files = walk(path, excluder, skipped_names)
        if skipped_names:
            warnings.append(FileWarning(path, f"skipped {len(skipped_names)} name(s) that are not valid UTF-8"))
    return sorted(files), listed is not None
