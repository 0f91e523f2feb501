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
take as `str`; a warning counts them). The module imports only `os` and `sys` up front:
the commands start on every save in an editor, and git's `subprocess` is needed only when
git is asked.
"""

from __future__ import annotations

import errno
import os
import stat
import sys

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Mapping, Sequence

    Warn = Callable[[str], object]

# Roots per worker that a split aims at: enough for the pool to even out subtrees of
# different sizes, few enough that each root is still a tree of its own.
ROOTS_PER_WORKER = 8
# Directories listed at most per split path and worker, so that a chain of nested
# directories is not listed down to its bottom only to hand over its files one by one.
LISTINGS_PER_WORKER = 32


class GitError(Exception):
    """Git cannot list the files of a directory; the message says why in one line
    (git's own message, where git gave one)."""


class NotInWorkTree(GitError):
    """The directory lies inside no git work tree."""


def warn_on_stderr(message: str) -> None:
    say(f"vornu-imports: {message}")


def say(line: str) -> None:
    """Writes one line to standard error, if the command was started with one (`print`
    would write to standard output instead)."""
    if sys.stderr is not None:
        sys.stderr.write(line + "\n")


def shown(path: str) -> str:
    """`path` for a one-line message: as it is, or quoted like a Python string literal
    where it holds a line feed or another character that is not printable."""
    return path if path.isprintable() else repr(path)


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
# Git


def may_be_in_work_tree(directory: str) -> bool:
    """False when git would certainly find no repository for `directory`: no `.git` in it
    or above it, and no GIT_DIR or GIT_WORK_TREE in the environment. Answering this without
    git keeps the command from starting a process and importing `subprocess` outside git."""
    if "GIT_DIR" in os.environ or "GIT_WORK_TREE" in os.environ:
        return True
    # git starts from the physical directory, so its search goes up the link's target.
    path = os.path.realpath(directory)
    while True:
        if os.path.lexists(os.path.join(path, ".git")):
            return True
        parent = os.path.dirname(path)
        if parent == path:
            return False
        path = parent


# The variables by which git names a repository to its child processes (a hook runs with
# GIT_DIR and GIT_INDEX_FILE, for instance): a nested work tree is a repository of its own,
# so git is asked there without them, as git itself does for a submodule.
REPOSITORY_VARIABLES = frozenset(
    "GIT_DIR GIT_WORK_TREE GIT_INDEX_FILE GIT_OBJECT_DIRECTORY GIT_ALTERNATE_OBJECT_DIRECTORIES"
    " GIT_COMMON_DIR GIT_PREFIX GIT_IMPLICIT_WORK_TREE GIT_GRAFT_FILE GIT_NO_REPLACE_OBJECTS"
    " GIT_REPLACE_REF_BASE GIT_SHALLOW_FILE GIT_INTERNAL_SUPER_PREFIX".split()
)


def run_git(directory: str, *arguments: str, nested: bool = False) -> bytes:
    """Standard output of `git -C directory ARGUMENTS`; GitError with git's first line of
    standard error when git fails, or the reason it cannot be run. `nested`: the directory
    is a work tree inside the one that the environment may name."""
    environment: Mapping[str, str] = os.environ
    if nested:
        environment = {name: value for name, value in os.environ.items() if name not in REPOSITORY_VARIABLES}
    output, errors, status = run_process(["git", "-C", directory, *arguments], environment)
    if status != 0:
        lines = errors.decode("utf-8", "replace").splitlines()
        message = next((line.strip() for line in lines if line.strip()), "")
        raise GitError(message or f"git {arguments[0]} failed with exit status {status}")
    return output


def on_path(program: str, environment: Mapping[str, str]) -> str:
    """The executable that `program` names on the PATH of `environment`. Looked up here rather
    than by posix_spawnp: where a spawn runs as a plain fork (under an emulator, for one), a
    program that cannot be started shows only as exit status 127, not as the reason."""
    for folder in environment.get("PATH", os.defpath).split(os.pathsep):
        candidate = os.path.join(folder or ".", program)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), program)


def run_process(command: list[str], environment: Mapping[str, str]) -> tuple[bytes, bytes, int]:
    """Runs `command` (found on PATH) with nothing on its standard input: what it wrote to
    standard output and to standard error, and its exit status. GitError when it cannot be
    started. `subprocess` would do the same, but importing it (with `locale`, `re` and
    `enum`) costs as much as the rest of the command's start; the command runs git inside
    editors and commit hooks, where that start is most of the cost."""
    import select

    streams = [os.pipe(), os.pipe()]  # (read end, write end) of standard output and error
    nothing = os.open(os.devnull, os.O_RDONLY)
    try:
        process = os.posix_spawn(
            on_path(command[0], environment),
            command,
            environment,
            file_actions=[
                (os.POSIX_SPAWN_DUP2, nothing, 0),
                (os.POSIX_SPAWN_DUP2, streams[0][1], 1),
                (os.POSIX_SPAWN_DUP2, streams[1][1], 2),
            ],
        )
    except OSError as error:
        for read_end, _ in streams:
            os.close(read_end)
        raise GitError(f"cannot run {command[0]}: {error}") from None
    finally:
        for descriptor in (nothing, streams[0][1], streams[1][1]):
            os.close(descriptor)
    status: int | None = None
    try:
        # Both at once: a process blocked on one full pipe would never close the other.
        chunks: dict[int, list[bytes]] = {read_end: [] for read_end, _ in streams}
        poll = select.poll()
        for read_end in chunks:
            poll.register(read_end, select.POLLIN)
        open_ends = len(chunks)
        while open_ends:
            for read_end, _ in poll.poll():
                chunk = os.read(read_end, 1 << 16)
                if chunk:
                    chunks[read_end].append(chunk)
                else:
                    poll.unregister(read_end)
                    open_ends -= 1
        status = os.waitstatus_to_exitcode(os.waitpid(process, 0)[1])
    finally:
        for read_end, _ in streams:
            os.close(read_end)
        if status is None:  # interrupted (by Ctrl-C, most likely): the process goes too
            import signal

            try:
                os.kill(process, signal.SIGKILL)
                os.waitpid(process, 0)
            except OSError:
                pass  # it was gone already
    output, errors = (b"".join(chunks[read_end]) for read_end, _ in streams)
    return output, errors, status


def listed_paths(directory: str, nested: bool = False) -> Iterator[bytes]:
    """The paths, relative to `directory`, of the files git lists below it: tracked, and
    untracked but not ignored. A submodule or an untracked nested repository is a work tree
    of its own; its files are listed by its own git, under its own ignore rules.
    (`ls-files --recurse-submodules` would do the first, but cannot list untracked files.)"""
    work_trees: list[bytes] = []
    tracked = run_git(directory, "ls-files", "-z", "--cached", "--stage", nested=nested)
    for record in tracked.split(b"\0"):
        info, tab, path = record.partition(b"\t")
        if not tab:
            continue
        if info.startswith(b"160000 "):  # a submodule's commit
            work_trees.append(path)
        else:
            yield path
    untracked = run_git(directory, "ls-files", "-z", "--others", "--exclude-standard", nested=nested)
    for path in untracked.split(b"\0"):
        if path.endswith(b"/"):  # the only directories git lists are nested repositories
            work_trees.append(path.rstrip(b"/"))
        elif path:
            yield path
    for tree in work_trees:
        inside = os.path.join(os.fsencode(directory), tree)
        # A submodule that is not checked out is an empty directory without `.git`; git
        # there would answer for the repository around it.
        if is_real_directory(inside) and os.path.lexists(os.path.join(inside, b".git")):
            for path in listed_paths(os.fsdecode(inside), nested=True):
                yield os.path.join(tree, path)


def git_python_files(path: str) -> tuple[list[str], int]:
    """The *.py files git lists below the directory `path` (see `listed_paths`), as paths
    joined to `path`, that a walk of `path` would read: regular files and links to regular
    files, in directories that are not links (links to directories, which a walk does not
    follow, would be followed as roots of their own). Also the number of names left out
    because they are not valid UTF-8."""
    prefix = "" if path == "." else path.rstrip("/") + "/"
    files, skipped = git_files(path, has_python_extension)
    return [prefix + name for name in files], skipped


def git_files(path: str, wanted: Callable[[bytes], bool]) -> tuple[list[str], int]:
    """The files git lists below the directory `path` whose paths relative to it `wanted`
    accepts, relative to `path`, as `git_python_files` takes them: regular files and links
    to them, in directories that are not links, each once; and the number left out because
    their names are not valid UTF-8."""
    if not may_be_in_work_tree(path):
        raise NotInWorkTree(f"not inside a git work tree: {shown(path)}")
    files: dict[str, None] = {}  # an unmerged file is listed once per stage
    real_directories: dict[bytes, bool] = {b"": True}
    skipped = 0
    prefix = b"" if path == "." else os.fsencode(path).rstrip(b"/") + b"/"
    for relative in listed_paths(path):
        if not wanted(relative):
            continue
        full = prefix + relative
        if not in_real_directories(prefix, relative.rpartition(b"/")[0], real_directories):
            continue
        try:
            if not stat.S_ISREG(os.stat(full).st_mode):
                continue
        except (OSError, ValueError):
            continue
        try:
            files[relative.decode("utf-8")] = None
        except UnicodeDecodeError:
            skipped += 1
    return list(files), skipped


def has_python_extension(path: bytes) -> bool:
    """The walk's rule: a name that ends in ".py" and is more than the extension."""
    return path.endswith(b".py") and len(path) > 3 and path[-4:-3] != b"/"


def in_real_directories(prefix: bytes, directory: bytes, known: dict[bytes, bool]) -> bool:
    """Whether `directory` (relative to `prefix`, the path of the listed directory with a
    final "/") and every directory between are directories and not links to one: git lists
    the files of a directory that a link has since replaced."""
    answer = known.get(directory)
    if answer is None:
        answer = in_real_directories(prefix, directory.rpartition(b"/")[0], known) and is_real_directory(
            prefix + directory
        )
        known[directory] = answer
    return answer


def is_real_directory(path: bytes | str) -> bool:
    try:
        return stat.S_ISDIR(os.lstat(path).st_mode)
    except (OSError, ValueError):
        return False


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
