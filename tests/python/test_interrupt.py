"""A call can be interrupted: a signal handler that raises ends it, and the call raises that.

Each case runs in a child interpreter. The call reads links to a file of a tebibyte that is
all holes, which reads as zero bytes, valid text: without the interruption, a call would take
minutes, which the child's timeout (a hang guard, not the assertion) turns into a failure.
(A link to /proc/self/pagemap, which reads as hundreds of GB, is the same case where the
interpreter's program lies high in the address space; where it lies low, as a program built
without position independence does, the first pages read as entries that are not text.)
"""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from conftest import run_child, write_tree

ENDLESS_SIZE = 1 << 40

# SIGINT is sent from the handler of a timer that counts the process's CPU time: it can
# only run out during the call, never before it starts, however busy the machine is.
CHILD = """
import gc, json, os, signal, sys, weakref
import vornu_core

handler, endless, plain, expected = json.loads(ARGUMENTS)

class Stop(Exception):
    pass

nested = []

def scan_then_raise(signum, frame):
    nested.append(vornu_core.scan_imports(plain))
    raise Stop("from the handler")

# Set either way: a process started in the background of a shell inherits SIGINT ignored,
# and Python then installs no handler of its own.
signal.signal(signal.SIGINT, scan_then_raise if handler == "nested" else signal.default_int_handler)
raised = Stop if handler == "nested" else KeyboardInterrupt
signal.signal(signal.SIGPROF, lambda signum, frame: os.kill(os.getpid(), signal.SIGINT))

def interrupted():
    signal.setitimer(signal.ITIMER_PROF, 0.05)
    try:
        vornu_core.scan_imports(endless)
    except BaseException as caught:
        assert type(caught) is raised, repr(caught)
        return weakref.ref(caught) if handler == "nested" else None
    raise AssertionError("the call returned")

interrupted()
gc.collect()
before = (sys.getrefcount(endless), sys.getrefcount(plain), len(gc.get_objects()))
caught = [interrupted() for _ in range(5)]
gc.collect()
after = (sys.getrefcount(endless), sys.getrefcount(plain), len(gc.get_objects()))
print(json.dumps({
    "refcounts": [before[:2], after[:2]],
    "object_growth": after[2] - before[2],
    "exceptions_alive": sum(ref() is not None for ref in caught if ref is not None),
    "nested": nested,
    "next_call": vornu_core.scan_imports(plain),
}))
"""


def endless_file(folder: Path) -> Path | None:
    """A file of ENDLESS_SIZE zero bytes that takes no room, or None where the file system
    cannot hold a file that large."""
    path = folder / "holes"
    try:
        with open(path, "wb") as file:
            file.truncate(ENDLESS_SIZE)
    except OSError:
        return None
    return path


@pytest.mark.parametrize("handler", ["keyboard_interrupt", "nested"])
@pytest.mark.parametrize("shape", ["one_root", "many_roots"])
def test_a_signal_handler_ends_a_call_that_would_read_for_minutes(tmp_path: Path, shape: str, handler: str) -> None:
    plain_files = {f"p{i}/m.py": f"import n{i}\nfrom shared.x import y\n" for i in range(6)}
    plain = [str(write_tree(tmp_path / "plain", plain_files) / f"p{i}") for i in range(6)]
    expected = sorted({f"n{i}" for i in range(6)} | {"shared"})
    holes = endless_file(tmp_path)
    if holes is None:
        pytest.skip(f"no file of {ENDLESS_SIZE} bytes can be made in {tmp_path}")
    links = tmp_path / "endless"
    for i in range(4):
        (links / f"r{i}").mkdir(parents=True)
        for j in range(2):
            os.symlink(holes, links / f"r{i}" / f"e{j}.py")
    if shape == "one_root":
        endless = [str(links / "r0" / "e0.py")]
    else:
        endless = [str(links / f"r{i}") for i in range(4)] + plain

    arguments = json.dumps([handler, endless, plain, expected])
    result = run_child(f"ARGUMENTS = {arguments!r}\n" + CHILD, timeout=60)
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    assert report["next_call"] == expected
    assert report["nested"] == ([expected] * 6 if handler == "nested" else [])
    before, after = report["refcounts"]
    assert after == before
    assert report["object_growth"] < 100
    assert report["exceptions_alive"] == 0

