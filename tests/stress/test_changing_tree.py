"""Scans of a tree that another process keeps changing: never a crash, a hang or a block,
and never a name that was not written into the tree.

How a reader can be sure of that while files change under it: every byte at offset i of a
regular file is either byte i of the file's own endless text or zero. The text belongs to
the file (to its inode, through renames) and is made of lines that never straddle a page,
and the writer only cuts a file back to a line end, extends it with zeros or appends its
text's next whole lines. Whatever mix of old and new pages, sizes and zeroed tails a read
sees, a line is then one of the text's lines in full, or holds a zero and imports nothing;
so any name a scan returns was written whole by one append, where the writer logs it.
"""

from __future__ import annotations

import functools
import json
import os
import random
import shutil
import socket
import stat
import subprocess
import sys
import time
from pathlib import Path

import pyscan
from conftest import last_json, run_python

PAGE = os.sysconf("SC_PAGE_SIZE")
ROOTS = ["r0", "r1", "r2", "r3"]
DIRS = [f"{root}{sub}" for root in ROOTS for sub in ("", "/a", "/a/b", "/c", "/m.py")]
FILES = [f"{directory}/f{n}.py" for directory in DIRS for n in range(4)]
SEED = 7
LINES = [
    "import {}\n",
    "    from {}.sub import thing\n",
    "\u3000import {} as alias\n",
    "x = 'caf\u00e9'  # import {}\n",
    "\n",
]


@functools.lru_cache(maxsize=4096)
def page(lineage: int, number: int) -> tuple[bytes, tuple[tuple[int, int, frozenset[str]], ...]]:
    """Page `number` of a lineage's text, and its lines as (start, end, names imported)."""
    lines: list[bytes] = []
    size = 0
    for k, form in enumerate(random.Random(f"{lineage}/{number}").choices(LINES, k=PAGE // 16)):
        line = form.format(f"t{lineage}p{number}k{k}").encode()
        if size + len(line) > PAGE - 2:
            break
        lines.append(line)
        size += len(line)
    lines.append(b"#" * (PAGE - size - 1) + b"\n")  # the page ends with a line
    text = b"".join(lines)
    # Names are unique to their line, so the reference scan of the page tells each line's.
    imported = pyscan.names_in_text(text.decode())
    spans, at = [], 0
    for k, line in enumerate(lines):
        spans.append((at, at + len(line), frozenset({f"t{lineage}p{number}k{k}"} & imported)))
        at += len(line)
    return text, tuple(spans)


def line_end_at_or_after(lineage: int, offset: int) -> int:
    number, within = divmod(offset, PAGE)
    if within == 0:
        return offset
    return number * PAGE + min(end for _, end, _ in page(lineage, number)[1] if end >= within)


def line_end_at_or_before(lineage: int, offset: int) -> int:
    number, within = divmod(offset, PAGE)
    return number * PAGE + max([0] + [end for _, end, _ in page(lineage, number)[1] if end <= within])


class Mutator:
    def __init__(self, seed: int) -> None:
        self.rng = random.Random(seed)
        self.lineages = 0
        self.lineage_of: dict[int, int] = {}  # inode -> lineage
        self.written: set[str] = set()
        self.ops = 0

    def append(self, fd: int, size: int, end: int) -> None:
        lineage = self.lineage_of[os.fstat(fd).st_ino]
        for number in range(size // PAGE, (end + PAGE - 1) // PAGE):
            text, spans = page(lineage, number)
            base = number * PAGE
            for start, stop, names in spans:
                if base + start >= size and base + stop <= end:
                    self.written |= names
            piece = text[max(size - base, 0) : end - base]
            at = max(size, base)
            while piece:  # a page at a time: each write ends on a line
                done = os.pwrite(fd, piece, at)
                piece, at = piece[done:], at + done

    def create(self, path: str) -> None:
        # Made aside under a name that is never scanned, then moved in whole.
        temporary = path + ".new"
        fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            self.lineages += 1
            self.lineage_of[os.fstat(fd).st_ino] = self.lineages
            length = self.rng.choice([0, 100, 3000, 9000, 3 * PAGE]) if self.rng.random() < 0.97 else 140_000
            self.append(fd, 0, line_end_at_or_after(self.lineages, length))
            os.replace(temporary, path)
        except OSError:
            os.unlink(temporary)
            raise
        finally:
            os.close(fd)

    def special(self, path: str) -> None:
        kind = self.rng.randrange(7)
        if kind == 0:
            os.mkfifo(path)
        elif kind == 1:
            with socket.socket(socket.AF_UNIX) as server:
                server.bind(path)
        else:
            target = ["/dev/zero", ".", "..", os.path.basename(path), "f0.py", "missing"][kind - 2]
            os.symlink(target, path)

    def change_file(self, path: str) -> None:
        try:
            mode = os.lstat(path).st_mode
        except FileNotFoundError:
            (self.create if self.rng.random() < 0.7 else self.special)(path)
            return
        if not stat.S_ISREG(mode):
            os.unlink(path) if self.rng.random() < 0.5 else self.create(path)
            return
        action = self.rng.randrange(8)
        size = os.stat(path).st_size
        if action <= 1:
            fd = os.open(path, os.O_WRONLY)
            try:
                grow = self.rng.choice([1, 500, PAGE, 3 * PAGE]) if self.rng.random() < 0.97 else 70_000
                self.append(fd, size, line_end_at_or_after(self.lineage_of[os.fstat(fd).st_ino], size + grow))
            finally:
                os.close(fd)
        elif action == 2:
            lineage = self.lineage_of[os.stat(path).st_ino]
            os.truncate(path, line_end_at_or_before(lineage, self.rng.randrange(size + 1)))
        elif action == 3:
            os.truncate(path, size + self.rng.randrange(1, 2 * PAGE))  # zeros
        elif action == 4:
            os.chmod(path, self.rng.choice([0, 0o200, 0o444, 0o644, 0o755]))
        elif action == 5:
            os.replace(path, self.rng.choice(FILES))
        elif action == 6:
            os.unlink(path)
        else:
            os.unlink(path)
            self.special(path)

    def change_directory(self, path: str) -> None:
        if not os.path.lexists(path):
            os.mkdir(path)
            if self.rng.random() < 0.3:
                os.symlink("..", os.path.join(path, "loop"))
            return
        action = self.rng.randrange(40)
        if action < 20:
            os.chmod(path, self.rng.choice([0, 0o311, 0o555, 0o755]))
        elif action < 39:
            os.rename(path, self.rng.choice(DIRS))
        else:
            shutil.rmtree(path)

    def step(self) -> None:
        self.ops += 1
        try:
            if self.rng.random() < 0.9:
                self.change_file(self.rng.choice(FILES))
            else:
                self.change_directory(self.rng.choice(DIRS))
        except OSError:
            pass  # the move or the parent it needed is not there now: try something else


def mutate(base: str, seed: int, stop_file: str, limit: float) -> None:
    os.chdir(base)  # short relative paths: a socket's path has little room
    mutator = Mutator(seed)
    for directory in DIRS:
        os.makedirs(directory, exist_ok=True)
    for path in FILES:
        if mutator.rng.random() < 0.6:
            mutator.create(path)
    print("ready", flush=True)
    deadline = time.monotonic() + limit
    while not os.path.exists(stop_file) and time.monotonic() < deadline:
        mutator.step()
    # Leave a tree that anyone may clean up.
    for directory, subdirectories, files in os.walk("."):
        for name in subdirectories + files:
            path = os.path.join(directory, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)
    print(json.dumps({"ops": mutator.ops, "names": sorted(mutator.written)}), flush=True)


SCANNER = """
import json, sys, time
import vornu_core

lists, static, seconds = json.load(sys.stdin)
static = set(static)
seen, calls = set(), 0
deadline = time.monotonic() + seconds
while time.monotonic() < deadline:
    for roots in lists:
        result = vornu_core.scan_imports(roots)
        calls += 1
        assert result == sorted(set(result)), result
        assert static <= set(result), (roots, sorted(static - set(result)))
        seen.update(result)
print(json.dumps({"calls": calls, "names": sorted(seen)}))
"""


def test_scans_of_a_changing_tree(tmp_path: Path) -> None:
    base = tmp_path / "tree"
    base.mkdir()
    static = tmp_path / "static"
    static.mkdir()
    (static / "s.py").write_text("import static_one\nfrom static_two.x import y\n")
    static_names = pyscan.scan_roots([str(static)])
    stop = tmp_path / "stop"
    mutator = subprocess.Popen(
        [sys.executable, __file__, str(base), str(SEED), str(stop), "120"],
        stdout=subprocess.PIPE,
        text=True,
        env=dict(os.environ, PYTHONPATH=str(Path(__file__).resolve().parents[1])),
    )
    try:
        assert mutator.stdout.readline() == "ready\n"
        tree = lambda *parts: str(base.joinpath(*parts))  # noqa: E731
        lists = [
            [tree("r0"), tree("r1"), tree("r2"), tree("r3"), str(static)],
            [str(base), str(static)],
            [tree("r1", "a"), tree("r2", "f0.py"), tree("r3", "c", "f1.py"), str(static), tree("gone")],
            [str(static), tree("r0", "a", "b"), tree("r3"), tree("r2", "m.py"), tree("r1", "f3.py"), str(base)],
        ]
        scanned = last_json(run_python(SCANNER, lists, static_names, 4.0, timeout=90))
    finally:
        stop.touch()
        try:
            out, _ = mutator.communicate(timeout=60)
        finally:
            mutator.kill()
    assert mutator.returncode == 0
    written = json.loads(out.splitlines()[-1])
    assert written["ops"] > 0 and scanned["calls"] > 0
    assert set(scanned["names"]) - set(written["names"]) - set(static_names) == set()


if __name__ == "__main__":
    mutate(sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4]))
