"""Running out of address space during a scan: the call raises PanicException or returns
the right list, and the process lives on; never an abort or a signal.

Children scan a tree of ordinary sources and files that make the scan allocate (many
distinct names, one enormous name, a long hole) under RLIMIT_AS set at a sweep of
margins above what they already use. The exact margins do not matter: every outcome
must be one of the two at any limit. "Cold" children set the limit before their first
call, so the worker pool starts under it too; a "warm" child scanned everything once first.
Sanitizers need address space of their own, so this runs only against a plain build.
"""

from __future__ import annotations

import json
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import pytest

import pyscan
from conftest import make_static_tree, run_python, under_sanitizer

pytestmark = pytest.mark.skipif(under_sanitizer(), reason="a sanitizer's own address space needs are unknown")

MARGINS_MIB = [0, 2, 4, 8, 16, 32, 48, 64, 80, 96, 112, 128, 160, 256]

CHILD = """
import json, resource, sys
import vornu_core

roots, expected, warm, margins = json.load(sys.stdin)
soft, hard = resource.getrlimit(resource.RLIMIT_AS)


def vm_size():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024


def scan():
    try:
        return "right" if vornu_core.scan_imports(roots) == expected else "wrong"
    except BaseException as error:
        # Kept as the object: describing it could itself need memory.
        return error


def describe(outcome):
    if isinstance(outcome, str):
        return outcome
    return f"{type(outcome).__module__}.{type(outcome).__qualname__}: {outcome}"


if warm:
    vornu_core.scan_imports(roots)
report = []
for margin in margins:
    resource.setrlimit(resource.RLIMIT_AS, (vm_size() + margin * 1024 * 1024, hard))
    outcome = scan()
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    # Whatever failed under the limit, the module goes on working once memory is back.
    report.append([margin, describe(outcome), "right" if outcome == "right" else describe(scan())])
print(json.dumps(report))
"""

PANIC = "pyo3_runtime.PanicException: "
NO_POOL = PANIC + "The global thread pool has not been initialized."


@dataclass(repr=False)  # the expected names would flood a failure's report
class Tree:
    roots: list[str]
    expected: list[str]


@pytest.fixture(scope="module")
def tree(tmp_path_factory: pytest.TempPathFactory) -> Tree:
    base = tmp_path_factory.mktemp("oom")
    make_static_tree(base / "sources", seed=5, files=600)
    big = base / "big"
    big.mkdir()
    (big / "many.py").write_text("".join(f"import n{i % 20000}\n" for i in range(350_000)))
    (big / "enormous.py").write_text("import " + "a" * (4 << 20) + "\nimport after_enormous\n")
    with open(big / "hole.py", "wb") as hole:
        hole.truncate(32 << 20)
        hole.seek(32 << 20)
        hole.write(b"\nimport after_hole\n")
    roots = [str(base / "sources" / "d0"), str(big / "many.py"), str(base / "sources"), str(big)]
    return Tree(roots, pyscan.scan_roots(roots))


def failures(report: list, cold: bool) -> list[str]:
    found = []
    for margins, under_limit, after in report:
        if cold and under_limit.startswith(NO_POOL):
            ok = after.startswith(NO_POOL)  # the pool is not tried again
        else:
            ok = (under_limit == "right" or under_limit.startswith(PANIC)) and after == "right"
        if not ok:
            found.append(f"{margins} MiB to spare: {under_limit[:200]!r}, then {after[:200]!r}")
    return found


def run(tree: Tree, warm: bool, margins: list[int]) -> list:
    """[margin, outcome under the limit, outcome after it] for each margin."""
    result = run_python(CHILD, tree.roots, tree.expected, warm, margins, timeout=120, env_update={"RAYON_NUM_THREADS": "4"})
    if result.returncode != 0:
        return [[margins, f"exit {result.returncode}: {result.stderr[-300:]}", ""]]
    return json.loads(result.stdout.splitlines()[-1])


def test_a_pool_made_before_memory_ran_out(tree: Tree) -> None:
    with ThreadPoolExecutor(2) as children:
        reports = list(children.map(lambda margins: run(tree, True, margins), [MARGINS_MIB[::2], MARGINS_MIB[1::2]]))
    found = failures([entry for report in reports for entry in report], cold=False)
    assert not found, "\n".join(found)
    assert sum(map(len, reports)) == len(MARGINS_MIB)


def test_the_first_call_under_the_limit(tree: Tree) -> None:
    # The pool starts at most once per process, so each margin needs a process of its own.
    with ThreadPoolExecutor(2) as children:
        reports = list(children.map(lambda margin: run(tree, False, [margin]), MARGINS_MIB))
    found = failures([entry for report in reports for entry in report], cold=True)
    assert not found, "\n".join(found)
