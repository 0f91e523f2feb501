"""The roots that a scan of the `vornu-imports` commands is given.

`roots_for(paths, use_git)` is the one entry point:

- with git (`use_git=True`), the *.py files that git lists below each directory PATH,
  tracked or untracked and not ignored, in submodules and nested repositories too, and
  only those that a walk of the directory would read (see `git_python_files`);
- without (`use_git=False`), the paths themselves, each directory split into roots below
  it so that one large tree keeps every worker of the pool busy (see `split_roots`);
- by default (`use_git=None`), git when the paths lie inside a git work tree, else the
  walk; when git cannot be asked there, a warning says so and everything is walked.

Every choice scans to the same names as the paths themselves would, minus, with git, the
ignored files and the file names that are not valid UTF-8 (which `scan_imports` cannot
take as `str`; a warning counts them). git's listing is in `git_listing`.
"""

from __future__ import annotations

import os

from vornu_imports.git_listing import GitError, git_python_files, may_be_in_work_tree
from vornu_imports.messages import say

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence

    Warn = Callable[[str], object]

# Roots per worker that a split aims at: enough for the pool to even out subtrees of
# different sizes, few enough that each root is still a tree of its own.
ROOTS_PER_WORKER = 8
# Directories listed at most per split path and worker, so that a chain of nested
# directories is not listed down to its bottom only to hand over its files one by one.
LISTINGS_PER_WORKER = 32


def warn_on_stderr(message: str) -> None:
    say(f"vornu-imports: {message}")


def roots_for(paths: Sequence[str], use_git: bool | None, warn: Warn = warn_on_stderr) -> list[str]:
    """The roots for one `scan_imports` call over `paths` (existing paths; a path that is
    not a directory stays as it is). Raises GitError (or NotInWorkTree) only when
    `use_git` is True; `warn` receives the one-line warnings."""
    if use_git is None:
        use_git = all(may_be_in_work_tree(path) for path in paths)
        if use_git:
            try:
                return git_roots(paths, warn)
            except GitError as error:
                warn(f"walking every file, ignored ones too, as git cannot list them: {error}")
        return split_roots(paths, worker_count())
    if use_git:
        return git_roots(paths, warn)
    return split_roots(paths, worker_count())


def git_roots(paths: Sequence[str], warn: Warn) -> list[str]:
    roots: list[str] = []
    skipped = 0
    for path in paths:
        if not os.path.isdir(path):
            roots.append(path)  # a file named on the command line is read as it is
            continue
        files, not_utf8 = git_python_files(path)
        roots.extend(files)
        skipped += not_utf8
    if skipped:
        warn(f"skipped {skipped} file name(s) that are not valid UTF-8")
    return roots


# ---------------------------------------------------------------------------------------
# Splitting a tree for the worker pool


def parse_count(text: str | None) -> int | None:
    """A pool-size variable's value as the module reads it: ASCII digits after an optional
    "+"; anything else is no value."""
    if text is None:
        return None
    digits = text.removeprefix("+")
    return int(digits) if digits.isascii() and digits.isdigit() else None


def worker_count() -> int:
    """The size of the module's worker pool, from the same sources in the same order:
    RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS (a valid 0 means the default), else the CPUs
    the process may run on. The module also lowers the last to the control group's CPU
    quota, which this leaves out: a guess too high costs a few more roots, nothing else."""
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        count = parse_count(os.environ.get(variable))
        if count is not None:
            if count > 0:
                return count
            break
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except OSError:
        return os.cpu_count() or 1


def split_roots(paths: Sequence[str], workers: int) -> list[str]:
    """`paths` with each directory replaced by roots below it that scan to the same names,
    so that about ROOTS_PER_WORKER roots reach each of `workers` workers. One worker: the
    paths as they are.

    A directory is split into its *.py files, each a root of its own, and its
    subdirectories, which are split in turn, level by level, until a level holds enough of
    them. Never a directory and something below it both: a directory root is walked whole.
    What a split leaves out is what the walk passes over: links to directories and files
    that are neither regular files nor links to them. A directory that cannot be listed, or
    whose subdirectory or *.py file has a name that is not valid UTF-8 (no `str` root can
    name it), stays whole, and so does one without subdirectories: splitting it would only
    turn one root into many single files."""
    if workers <= 1:
        return list(paths)
    roots: list[str] = []
    for path in paths:
        if os.path.isdir(path):
            roots += split_directory(path, workers * ROOTS_PER_WORKER, workers * LISTINGS_PER_WORKER)
        else:
            roots.append(path)
    return roots


def split_directory(path: str, wanted: int, listings: int) -> list[str]:
    roots: list[str] = []
    level = [path]
    while level and len(level) < wanted and listings > 0:
        below: list[str] = []
        for index, directory in enumerate(level):
            if listings == 0:
                below += level[index:]  # out of listings: the rest of the level stays whole
                break
            listings -= 1
            split = split_once(directory)
            if split is None:
                roots.append(directory)
            else:
                files, subdirectories = split
                roots += files
                below += subdirectories
        level = below
    return level + roots


def split_once(directory: str) -> tuple[list[str], list[str]] | None:
    """The *.py files and the subdirectories of `directory` as the walk would take them,
    or None where the directory must stay whole."""
    files: list[str] = []
    subdirectories: list[str] = []
    try:
        with os.scandir(directory) as entries:
            for entry in entries:
                name = entry.name
                if entry.is_dir(follow_symlinks=False):
                    into = subdirectories
                elif len(name) > 3 and name.endswith(".py") and is_regular_file(entry):
                    into = files
                else:
                    continue
                if not name.isascii():
                    try:
                        name.encode("utf-8")
                    except UnicodeEncodeError:
                        return None
                into.append(entry.path)
    except OSError:
        return None
    return (files, subdirectories) if subdirectories else None


def is_regular_file(entry: os.DirEntry[str]) -> bool:
    """Whether `entry` is a regular file or a link to one (a link is followed, and a loop
    of links is not a file)."""
    try:
        return entry.is_file()
    except OSError:
        return False
