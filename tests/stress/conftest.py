"""Shared helpers of the stress tests: each runs its load in child processes with a time
limit, so a crash fails one test and a hang fails it instead of blocking the run."""

from __future__ import annotations

import json
import os
import random
import subprocess
import sys
import textwrap
from pathlib import Path

TESTS = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TESTS))  # the pure-Python reference scan, tests/pyscan.py
import pyscan  # noqa: E402


def under_sanitizer() -> bool:
    return "asan" in os.environ.get("LD_PRELOAD", "")


def run_python(code: str, *args: object, timeout: float, env_update: dict[str, str] | None = None) -> subprocess.CompletedProcess[str]:
    """Runs `code` in a fresh interpreter of the same Python and environment (so a
    sanitizer preload or a PYTHONPATH to a build tree carries over); `args` reach it as
    JSON on its standard input. A child still running after `timeout` seconds is killed and
    the test fails."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [os.environ.get("PYTHONPATH"), str(TESTS)])))
    env.update(env_update or {})
    command = [sys.executable, "-c", textwrap.dedent(code)]
    try:
        return subprocess.run(command, input=json.dumps(args), env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        raise AssertionError(f"the child did not finish within {timeout} s (a hang?)\n{expired.stderr}") from None


def last_json(result: subprocess.CompletedProcess[str]):
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout[-2000:]}\n{result.stderr[-4000:]}"
    return json.loads(result.stdout.splitlines()[-1])


def make_static_tree(base: Path, seed: int, files: int = 60) -> dict[str, list[str]]:
    """Writes generated sources below `base` and returns roots of every kind (directories,
    nested ones, single files, files that are not sources, a link to a directory, a fifo,
    a device, paths that do not exist) with what the pure-Python scan finds under each."""
    rng = random.Random(seed)
    forms = ["import {}", "    from {}.x import y", "\u3000import {} as z", "# import {}", "x = {}", "import {}, b", "from . import {}", ""]
    for n in range(files):
        directory = base.joinpath(*(f"d{rng.randrange(3)}" for _ in range(rng.randrange(4))))
        directory.mkdir(parents=True, exist_ok=True)
        lines = rng.randrange(1, 8000) if n % 20 == 0 else rng.randrange(1, 60)
        # Names shared by all files and names of this file alone, so that roots differ.
        names = [f"m{rng.randrange(20)}" if rng.random() < 0.5 else f"f{n}x{rng.randrange(50)}" for _ in range(lines)]
        text = "\n".join(rng.choice(forms).format(name) for name in names)
        (directory / f"f{n}{rng.choice(['.py', '.py', '.py', '.txt'])}").write_text(text)
    (base / "d0").mkdir(exist_ok=True)
    (base / "d0" / "invalid.py").write_bytes(b"import not_utf8\n\xff\nimport neither\n")
    os.symlink(base / "d1", base / "link_to_d1")
    os.mkfifo(base / "fifo.py")
    roots = [base, base / "d0", base / "d1", base / "d2" / "d1", base / "link_to_d1", base / "fifo.py", base / "d0" / "invalid.py", base / "missing", "/dev/null", ""]
    roots += sorted(base.rglob("f*.py"))[:6] + sorted(base.rglob("*.txt"))[:2]
    return {str(root): pyscan.scan_roots([str(root)]) for root in roots}
