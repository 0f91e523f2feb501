"""The files git lists below a directory, as a walk of it would read them.

git runs through `posix_spawn` and `poll` rather than `subprocess`: importing that (with
`locale`, `re` and `enum`) costs as much as the rest of the commands' start, and they run
inside editors and commit hooks, where the start is most of the cost."""

from __future__ import annotations

import errno
import os
import stat

from vornu_imports.messages import shown

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Mapping


class GitError(Exception):
    """Git cannot list the files of a directory; the message says why in one line
    (git's own message, where git gave one)."""


class NotInWorkTree(GitError):
    """The directory lies inside no git work tree."""



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
