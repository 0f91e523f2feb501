"""Many Python threads calling at once, and fork() while other threads keep calling.

A call holds the interpreter lock, so a fork made from Python falls between the calls of
the other threads; the pool's workers may still be on their way back to sleep, holding the
pool's lock, and a child inherits that pool without its threads. Children and
grandchildren must make pools of their own and scan right.
"""

from __future__ import annotations

from pathlib import Path

from conftest import last_json, make_static_tree, run_python

CALLERS = """
import json, random, sys, threading, time
import vornu_core

reference, threads, seconds, forks = json.load(sys.stdin)
roots = list(reference)


def expected(chosen):
    return sorted(set().union(*(reference[root] for root in chosen)))


def check(rng):
    chosen = rng.sample(roots, rng.randrange(1, len(roots) + 1)) + rng.sample(roots, rng.randrange(2))
    result = vornu_core.scan_imports(chosen)
    return None if result == expected(chosen) else [chosen, result]


calls, wrong = [0], []
deadline = time.monotonic() + seconds


def call_in_a_loop(seed):
    rng = random.Random(seed)
    while time.monotonic() < deadline:
        calls[0] += 1
        if (failure := check(rng)) is not None:
            wrong.append(failure)


workers = [threading.Thread(target=call_in_a_loop, args=(n,)) for n in range(threads)]
for worker in workers:
    worker.start()
"""

FORKS = """
import os, signal, warnings

warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads running


def scan_in_child(seed, depth):
    # A child that hangs is ended by the alarm and counts as a failure.
    signal.alarm(30)
    rng = random.Random(seed)
    ok = all(check(rng) is None for _ in range(3)) and vornu_core.scan_imports(roots) == expected(roots)
    if ok and depth:
        ok = wait_for(os.fork(), seed, depth - 1) == 0
    os._exit(0 if ok else 1)


def wait_for(pid, seed, depth):
    if pid == 0:
        scan_in_child(seed, depth)
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])


rng = random.Random(1)
codes = []
for n in range(forks):
    time.sleep(rng.uniform(0, 2 * seconds / forks))
    codes.append(wait_for(os.fork(), n, 1))
"""

REPORT = """
for worker in workers:
    worker.join()
print(json.dumps({"calls": calls[0], "wrong": wrong[:3], "codes": locals().get("codes", [])}))
"""


def test_many_threads_at_once(tmp_path: Path) -> None:
    reference = make_static_tree(tmp_path, seed=3)
    report = last_json(run_python(CALLERS + REPORT, reference, 16, 4.0, 0, timeout=120))
    assert report["wrong"] == [] and report["calls"] > 0


def test_fork_while_other_threads_call(tmp_path: Path) -> None:
    reference = make_static_tree(tmp_path, seed=4)
    report = last_json(run_python(CALLERS + FORKS + REPORT, reference, 4, 3.0, 24, timeout=120))
    assert report["wrong"] == []
    assert report["codes"] == [0] * 24
