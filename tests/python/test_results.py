"""What scan_imports returns, compared with the pure-Python scan, and under threads."""

from __future__ import annotations

import os
import random
import signal
import sys
import threading
import warnings
from pathlib import Path

import pytest

# The project's pure-Python scan (os.walk and the same line rules) is the model.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import pyscan  # noqa: E402

MODULE_NAMES = ["os", "sys", "json", "numpy", "_private", "A1", "Zeta", "zeta", "__future__", "a", "b9"]
NOISE = [
    "x = 1; import hidden",
    "# import commented",
    "importlib.reload(m)",
    "from . import x",
    "from .. import y",
    "import os, sys",
    "import\tos",
    "Import caps",
    "import café",
    "import 3d",
    "fromage = 1",
    "from (",
    "",
    "    ",
]


def random_line(rng: random.Random) -> str:
    name = rng.choice(MODULE_NAMES) + rng.choice(["", "", str(rng.randrange(1000))])
    indent = rng.choice(["", "    ", "\t", "\u00a0", "\u3000"])
    form = rng.randrange(6)
    if form == 0:
        return f"{indent}import {name}"
    if form == 1:
        return f"{indent}import {name}.sub as alias"
    if form == 2:
        return f"{indent}from {name}.deep import thing"
    if form == 3:
        return f"{indent}import    {name}"
    return rng.choice(NOISE)


def random_tree(root: Path, rng: random.Random, files: int) -> Path:
    for n in range(files):
        depth = rng.randrange(4)
        directory = root.joinpath(*(f"d{rng.randrange(3)}" for _ in range(depth)))
        directory.mkdir(parents=True, exist_ok=True)
        suffix = rng.choice([".py", ".py", ".py", ".pyi", ".txt", ".PY"])
        ending = rng.choice(["\n", "\r\n"])
        text = ending.join(random_line(rng) for _ in range(rng.randrange(1, 30)))
        if rng.random() < 0.5:
            text += ending
        (directory / f"m{n}{suffix}").write_text(text, encoding="utf-8", newline="")
    return root


@pytest.mark.parametrize("seed", range(6))
def test_matches_reference_on_generated_trees(vornu_core, tmp_path: Path, seed: int) -> None:
    rng = random.Random(seed)
    roots = [str(random_tree(tmp_path / f"r{i}", rng, rng.randrange(1, 40))) for i in range(rng.randrange(1, 5))]
    roots.append(str(tmp_path / "missing"))
    expected = pyscan.scan_roots(roots)
    assert expected, "the generated tree should import something"
    assert vornu_core.scan_imports(roots) == expected
    assert vornu_core.scan_imports(list(reversed(roots))) == expected


def test_simple_tree(vornu_core, make_tree) -> None:
    root = make_tree(
        {
            "pkg/__init__.py": "import os\nfrom sys import argv\n",
            "pkg/sub/mod.py": "import numpy as np\nimport os.path\n",
            "pkg/notes.txt": "import ignored\n",
            "pkg/stub.pyi": "import ignored_too\n",
        }
    )
    assert vornu_core.scan_imports([str(root)]) == ["numpy", "os", "sys"]
    assert vornu_core.scan_imports([str(root / "pkg/sub/mod.py")]) == ["numpy", "os"]


def test_result_is_sorted_by_code_point(vornu_core, make_tree) -> None:
    root = make_tree({"m.py": "import zeta\nimport _under\nimport Alpha\nimport alpha\nimport Z9\n"})
    result = vornu_core.scan_imports([str(root)])
    assert result == ["Alpha", "Z9", "_under", "alpha", "zeta"]
    assert result == sorted(result)
    assert all(type(name) is str for name in result)


def test_duplicate_roots_and_nested_roots(vornu_core, make_tree) -> None:
    root = make_tree({"a.py": "import alpha\n", "sub/b.py": "import beta\n"})
    once = vornu_core.scan_imports([str(root)])
    assert once == ["alpha", "beta"]
    assert vornu_core.scan_imports((str(root), str(root))) == once
    assert vornu_core.scan_imports([str(root / "sub"), str(root)]) == once


def test_every_call_returns_a_new_list(vornu_core, make_tree) -> None:
    root = make_tree({"a.py": "import alpha\n"})
    first = vornu_core.scan_imports([str(root)])
    second = vornu_core.scan_imports([str(root)])
    assert first == second and first is not second
    empty1, empty2 = vornu_core.scan_imports([]), vornu_core.scan_imports([])
    assert empty1 == [] and empty1 is not empty2


def test_missing_and_empty_roots(vornu_core, tmp_path: Path) -> None:
    assert vornu_core.scan_imports(["", str(tmp_path / "nope"), str(tmp_path)]) == []


def test_many_threads_at_once(vornu_core, tmp_path: Path) -> None:
    rng = random.Random(99)
    roots = [str(random_tree(tmp_path / f"r{i}", rng, 20)) for i in range(4)]
    expected = pyscan.scan_roots(roots)
    results: list[list[str]] = []
    errors: list[BaseException] = []
    barrier = threading.Barrier(8)

    def worker(n: int) -> None:
        try:
            barrier.wait()
            for i in range(40):
                subset = roots[: 1 + (n + i) % len(roots)]
                result = vornu_core.scan_imports(subset)
                if len(subset) == len(roots):
                    results.append(result)
                else:
                    assert result == pyscan.scan_roots(subset)
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert results and all(result == expected for result in results)


def test_a_forked_child_scans_with_a_pool_of_its_own(vornu_core, tmp_path: Path) -> None:
    # multiprocessing forks by default on Linux: a child must not inherit a pool whose
    # threads stayed behind in the parent.
    rng = random.Random(7)
    roots = [str(random_tree(tmp_path / f"r{i}", rng, 10)) for i in range(6)]
    expected = vornu_core.scan_imports(roots)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads running
        pid = os.fork()
    if pid == 0:
        signal.alarm(30)
        ok = vornu_core.scan_imports(roots) == expected == vornu_core.scan_imports(roots)
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert vornu_core.scan_imports(roots) == expected
