"""The files whose bytes the line rule of the scan cannot answer for, found at C speed.

The scan reads one name a line, from lines that start with `import ` or `from `, in files
that are valid UTF-8. Python also imports in the forms it passes over: `import a, b`,
`try: import x`, `x = 1; import y`, a tab after the keyword, a statement continued with a
backslash, a file with a byte-order mark (its first line) or in another encoding (which
Python reads only with a coding line, PEP 263). And a dependency that is declared but that
the scan never saw must be looked for in every file, under its modules' own names. Both are
byte searches over every file: `grep -E -l` (C locale) does them, in the background on the
cores that the check's own thread leaves, while the check goes on with the scan's answers;
each file it names is then read in Python, and only those. Where grep cannot be run, the same
patterns run in Python over every file."""

from __future__ import annotations

import os
import re

# Lines whose imports the line rule misses or misreads (each a POSIX extended expression
# and the same in Python's syntax for the fallback).
MISSED = [
    r"[:;][[:space:]]*(import|from)[[:space:]]",  # after another statement: try: import x
    r"^[[:space:]]*import[[:space:]][^#]*,",  # several modules: import a, b
    r"^[[:space:]]*(import|from)[[:space:]]+[^[:space:]]*[^[:space:]A-Za-z0-9_.]",  # import a,b  import a;
    "^[[:space:]]*(import|from)[\t\v\f\r]",  # a tab after the keyword
    r"^[[:space:]]*import[[:space:]].*\\[[:space:]]*$",  # continued with a backslash
    r"^[[:space:]]*#.*coding[:=]",  # a coding line (PEP 263): maybe not UTF-8
]
BOM = b"^\xef\xbb\xbf"
# Bytes of file names a grep process is given at most: well within the kernel's limit on
# a command line (which counts the environment too), so that a tree of a hundred thousand
# files needs a few processes, not dozens.
ARGUMENT_BYTES = min(1 << 20, os.sysconf("SC_ARG_MAX") // 2)


def patterns(needles: list[str]) -> list[bytes]:
    """The forms the line rule misses, or, given `needles`, those names as words."""
    if needles:
        return [b"(^|[^A-Za-z0-9_])(" + b"|".join(n.encode() for n in sorted(needles)) + b")([^A-Za-z0-9_]|$)"]
    return [p.encode() for p in MISSED] + [BOM]


def python_pattern(expressions: list[bytes]) -> re.Pattern[bytes]:
    """The patterns in Python's syntax, each kept within a line as grep keeps it."""
    translated = []
    for expression in expressions:
        expression = expression.replace(b"[^[:space:]", b"[^ \t\n\v\f\r").replace(b"[:space:]", b" \t\v\f\r")
        expression = expression.replace(b"[^#]", b"[^#\n]")
        translated.append(b"(?:" + expression + b")")
    return re.compile(b"|".join(translated), re.MULTILINE)


class Search:
    """A search of `files` (paths as they are to be opened) for the forms the line rule
    misses, or for `needles` (module names) as words, started at once in the background;
    `result()` gives the files that hold a match."""

    def __init__(self, files: list[str], needles: list[str], workers: int) -> None:
        self.files = files
        self.expressions = patterns(needles)
        # (process id, read end of its output, the files it searches)
        self.processes: list[tuple[int, int, list[bytes]]] = []
        self.left: list[bytes] = []  # files that no grep could be started for
        if files:
            self.start(max(1, workers))

    def start(self, workers: int) -> None:
        # -Z: names end with a NUL, as a name may hold a line feed.
        arguments = [b"grep", b"-E", b"-l", b"-s", b"-Z"]
        for expression in self.expressions:
            arguments += [b"-e", expression]
        arguments.append(b"--")
        encoded = [os.fsencode(f) for f in self.files]
        total = sum(len(f) + 1 for f in encoded)
        share = min(ARGUMENT_BYTES, total // workers + 1)
        chunks: list[list[bytes]] = [[]]
        used = 0
        for name in encoded:
            if chunks[-1] and used + len(name) + 1 > share:
                chunks.append([])
                used = 0
            chunks[-1].append(name)
            used += len(name) + 1
        environment = {"LC_ALL": "C", "PATH": os.environ.get("PATH", os.defpath)}
        for chunk in chunks:
            try:
                self.processes.append((*spawn(arguments + chunk, environment), chunk))
            except OSError:
                self.left += chunk

    def result(self) -> list[str]:
        """The files that hold a match. A grep that fails without naming a file (one that
        does not know an option, or was killed) leaves its files to Python."""
        found: list[bytes] = []
        processes, self.processes = self.processes, []
        for index, (process, output, chunk) in enumerate(processes):
            try:
                named, status = collect(process, output)
            except BaseException:
                self.processes = processes[index + 1:]
                raise
            if status in (0, 1) or named:
                found += [name for name in named.split(b"\0") if name]
            else:
                self.left += chunk
        if self.left:
            found += self.in_python(self.left)
        return [os.fsdecode(name) for name in found]

    def close(self) -> None:
        """Ends the processes whose results were not asked for (the check stopped early)."""
        processes, self.processes = self.processes, []
        for process, output, _ in processes:
            os.close(output)
            try:
                os.kill(process, 9)
                os.waitpid(process, 0)
            except OSError:
                pass

    def in_python(self, files: list[bytes]) -> list[bytes]:
        pattern = python_pattern(self.expressions)
        found = []
        for file in files:
            data = read(file)
            if data is not None and pattern.search(data):
                found.append(file)
        return found


def spawn(command: list[bytes], environment: dict[str, str]) -> tuple[int, int]:
    """Starts `command` with its output into a pipe and nothing on its input or errors:
    its process id and the pipe's read end. Without `subprocess`, whose import costs more
    than the search of a small project."""
    read_end, write_end = os.pipe()
    nothing = os.open(os.devnull, os.O_RDWR)
    try:
        process = os.posix_spawnp(command[0], command, environment, file_actions=[
            (os.POSIX_SPAWN_DUP2, nothing, 0), (os.POSIX_SPAWN_DUP2, write_end, 1), (os.POSIX_SPAWN_DUP2, nothing, 2),
        ])
    except OSError:
        os.close(read_end)
        raise
    finally:
        os.close(write_end)
        os.close(nothing)
    return process, read_end


def collect(process: int, output: int) -> tuple[bytes, int]:
    """All that the process writes, once it has ended, and its exit status."""
    chunks = []
    status = None
    try:
        while chunk := os.read(output, 1 << 16):
            chunks.append(chunk)
        status = os.waitstatus_to_exitcode(os.waitpid(process, 0)[1])
    finally:
        os.close(output)
        if status is None:  # interrupted: the process goes too
            try:
                os.kill(process, 9)  # SIGKILL, without importing signal
                os.waitpid(process, 0)
            except OSError:
                pass
    return b"".join(chunks), -1 if status is None else status


def read(path: str | bytes) -> bytes | None:
    try:
        descriptor = os.open(path, os.O_RDONLY)
    except OSError:
        return None
    try:
        size = os.fstat(descriptor).st_size
        chunks = []
        while chunk := os.read(descriptor, max(size + 1, 1 << 16)):
            chunks.append(chunk)
        return b"".join(chunks)
    except OSError:
        return None
    finally:
        os.close(descriptor)
