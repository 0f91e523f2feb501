"""The files of the checked tree: Python sources, notebooks and declaration files, listed by
git or by a walk, less the excluded ones."""

from __future__ import annotations

import os
import re
import subprocess
from collections.abc import Iterable

from vornu_imports.check.declarations import is_declaration_file
from vornu_imports.check.model import ConfigError

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


def wanted(name: str) -> bool:
    return name.endswith((".py", ".ipynb")) or is_declaration_file(name)


def walk(path: str, excluder: Excluder) -> list[str]:
    """The wanted files below `path`; links to folders are not followed, as in the scan. A
    folder is judged by its own entries (pyvenv.cfg, __init__.py), so it costs no extra call."""
    found: list[str] = []
    pending = [("", path)]
    while pending:
        prefix, folder = pending.pop()
        try:
            entries = list(os.scandir(folder))
        except OSError:
            continue
        names = {entry.name for entry in entries}
        if prefix and "pyvenv.cfg" in names:
            continue
        base = prefix.rstrip("/").rsplit("/", 1)[-1]
        if base in OUTPUT_FOLDERS and "__init__.py" not in names:
            continue
        for entry in entries:
            relative = prefix + entry.name
            try:
                is_folder = entry.is_dir(follow_symlinks=False)
            except OSError:
                continue
            if is_folder:
                if entry.name not in DEFAULT_EXCLUDED and not excluder.matches(relative, True):
                    pending.append((relative + "/", entry.path))
            elif wanted(relative) and not excluder.matches(relative, False):
                found.append(relative)
    return found


def git_listing(path: str) -> list[str] | None:
    try:
        result = subprocess.run(
            ["git", "-C", path, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
            capture_output=True,
            check=False,
        )
    except OSError:
        return None
    if result.returncode != 0:
        return None
    names: dict[str, None] = {}
    for raw in result.stdout.split(b"\0"):
        try:
            name = raw.decode("utf-8")
        except UnicodeDecodeError:
            continue
        if name and wanted(name):
            names[name] = None
    return list(names)


def in_git_work_tree(path: str) -> bool:
    try:
        result = subprocess.run(["git", "-C", path, "rev-parse", "--is-inside-work-tree"], capture_output=True, check=False)
    except OSError:
        return False
    return result.stdout == b"true\n"


def list_files(path: str, use_git: bool | None, patterns: Iterable[str]) -> tuple[list[str], bool]:
    """The wanted files below `path`, relative to it with "/" between folders, sorted; and
    whether git listed them. `use_git` None: git when `path` is inside a work tree."""
    excluder = Excluder(patterns)
    if use_git is None:
        use_git = in_git_work_tree(path)
    if use_git:
        listed = git_listing(path)
        if listed is None:
            raise ConfigError(f"--git: not inside a git work tree, or git cannot be run: {path}")
        files = [name for name in listed if not excluder.excludes_file(name)]
    else:
        files = walk(path, excluder)
    return sorted(files), use_git
