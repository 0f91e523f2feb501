"""How long `vornu-imports` takes to start: the command on a one-file tree against
`python -c pass` of the same interpreter, spawn to exit.

    .venv/bin/python bench/cli_start.py [--rounds N]

Run it with the interpreter of a venv where vornu_core is installed: the command is the
console script next to that interpreter. Each round runs every case once and the
interpreter once, in an order that rotates from round to round; the figures are medians,
and the ratio of a case is the median of its ratios to the interpreter run of the same
round (samples seconds apart, which holds up on a shared machine). The target is a ratio
of at most 1.5 for the plain run on a PATH.
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def make_trees(base: Path) -> dict[str, Path]:
    plain = base / "plain"
    plain.mkdir()
    (plain / "a.py").write_text("import os\nimport numpy\n")
    repository = base / "repository"
    repository.mkdir()
    (repository / "a.py").write_text("import os\nimport numpy\n")
    subprocess.run(["git", "init", "-q", str(repository)], check=True)
    return {"plain": plain, "repository": repository}


def cases(script: Path, trees: dict[str, Path]) -> dict[str, tuple[list[str], Path]]:
    """name: (command, working directory)."""
    return {
        "python -c pass": ([sys.executable, "-c", "pass"], trees["plain"]),
        "vornu-imports PATH": ([str(script), str(trees["plain"])], trees["plain"]),
        "vornu-imports --json PATH": ([str(script), "--json", str(trees["plain"])], trees["plain"]),
        "vornu-imports (no PATH, outside git)": ([str(script)], trees["plain"]),
        "vornu-imports (no PATH, in a git work tree)": ([str(script)], trees["repository"]),
        "vornu-imports --version": ([str(script), "--version"], trees["plain"]),
    }


def sample(command: list[str], cwd: Path) -> float:
    for file in cwd.glob("*.py"):
        file.read_bytes()  # the tree read once more, untimed, right before the sample
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=31)
    arguments = parser.parse_args()
    script = Path(sys.executable).with_name("vornu-imports")
    if not script.is_file():
        sys.exit(f"{script}: no vornu-imports next to this interpreter")
    with tempfile.TemporaryDirectory() as base:
        todo = cases(script, make_trees(Path(base)))
        for command, cwd in todo.values():  # warm up: caches, byte code
            sample(command, cwd)
        times: dict[str, list[float]] = {name: [] for name in todo}
        ratios: dict[str, list[float]] = {name: [] for name in todo}
        names = list(todo)
        for round_ in range(arguments.rounds):
            shift = round_ % len(names)
            for name in names[shift:] + names[:shift]:
                times[name].append(sample(*todo[name]))
            for name in names:
                ratios[name].append(times[name][-1] / times["python -c pass"][-1])
    print(f"{sys.executable} ({sys.version.split()[0]}), {arguments.rounds} rounds, load {os.getloadavg()[0]:.1f}")
    print(f"{'case':45} {'median ms':>10} {'ratio':>7} {'ratio p25-p75':>14}")
    for name in names:
        quartiles = statistics.quantiles(ratios[name], n=4)
        print(
            f"{name:45} {statistics.median(times[name]) * 1e3:10.1f} {statistics.median(ratios[name]):7.2f}"
            f" {quartiles[0]:6.2f}-{quartiles[2]:<6.2f}"
        )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
