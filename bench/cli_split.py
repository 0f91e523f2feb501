"""Does one big tree use every worker? `vornu-imports TREE` with two workers against one
(RAYON_NUM_THREADS=2 and =1), spawn to exit, on the 100,000-file tree of make_tree.py.

    .venv/bin/python bench/cli_split.py [--rounds N] [--tree DIR]

Run it with the interpreter of a venv where vornu_core is installed: the command is the
console script next to that interpreter. The tree is made under bench/out/trees if it is
missing. Each round runs every case once, in an order that rotates from round to round,
and each timed run comes right after an untimed run of the same command, so that the
tree's pages are in memory for every sample. Figures are medians; the ratio is the median
of the per-round ratios to the one-worker run. The target is a ratio of at most 0.6 for
two workers, with the same output.

A third case, `scan_imports([TREE])` in `python -c` with two workers, shows what the
command did before it split a tree: one root, one worker busy.

On a machine busy with other work the times cannot show the gain (with autogroup
scheduling a session's threads share one session's part of the CPUs), so the script says
how many CPUs it could have at once (two CPU-bound processes side by side against one),
and prints how the CPU time of one scan divides among the threads of the process, from
/proc/self/task, for the tree as one root and as the command splits it.
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent


def run(command: list[str], workers: int) -> tuple[float, bytes]:
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)  # untimed: the tree read once more
    start = time.perf_counter()
    output = subprocess.run(command, env=env, stdout=subprocess.PIPE, check=True).stdout
    return time.perf_counter() - start, output


PER_THREAD = """
import os, sys
import vornu_core
from vornu_imports.sources import split_roots

def cpu_seconds():
    seconds = {}
    for task in os.listdir("/proc/self/task"):
        fields = open(f"/proc/self/task/{task}/stat").read().rsplit(")", 1)[1].split()
        seconds[task] = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return seconds

tree = sys.argv[1]
for name, roots in (("one root", [tree]), ("split", split_roots([tree], 2))):
    vornu_core.scan_imports(roots)  # the pool started, the tree read once more
    before = cpu_seconds()
    vornu_core.scan_imports(roots)
    after = cpu_seconds()
    busy = sorted((after[task] - before.get(task, 0) for task in after), reverse=True)
    print(f"{name:9} ({len(roots)} roots): CPU seconds by thread " + " ".join(f"{s:.2f}" for s in busy))
"""


BURN = "import time; t = time.perf_counter(); sum(range(10_000_000)); print(time.perf_counter() - t)"


def free_cpus() -> float:
    """How many CPUs this benchmark can have at once right now, as two CPU-bound processes
    side by side find it against one alone: about 2 on an idle two-CPU machine."""
    def burn(count: int) -> float:
        processes = [subprocess.Popen([sys.executable, "-c", BURN], stdout=subprocess.PIPE) for _ in range(count)]
        return max(float(process.communicate()[0]) for process in processes)

    alone, pair = statistics.median(burn(1) for _ in range(3)), statistics.median(burn(2) for _ in range(3))
    return 2 * alone / pair


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--tree", default=str(HERE / "out" / "trees" / "small-100000"))
    arguments = parser.parse_args()
    script = Path(sys.executable).with_name("vornu-imports")
    if not script.is_file():
        sys.exit(f"{script}: no vornu-imports next to this interpreter")
    tree = arguments.tree
    subprocess.run([sys.executable, str(HERE / "make_tree.py"), tree, "--files", "100000"], check=True)

    scan = "import sys, vornu_core; print('\\n'.join(vornu_core.scan_imports(sys.argv[1:])))"
    cases = {
        "vornu-imports TREE, 1 worker": ([str(script), tree], 1),
        "vornu-imports TREE, 2 workers": ([str(script), tree], 2),
        "scan_imports([TREE]), 2 workers": ([sys.executable, "-c", scan, tree], 2),
    }
    free_before = free_cpus()
    names = list(cases)
    times: dict[str, list[float]] = {name: [] for name in names}
    outputs: dict[str, set[bytes]] = {name: set() for name in names}
    for round_ in range(arguments.rounds):
        shift = round_ % len(names)
        for name in names[shift:] + names[:shift]:
            seconds, output = run(*cases[name])
            times[name].append(seconds)
            outputs[name].add(output)
    base = names[0]
    print(f"{tree}, {arguments.rounds} rounds, {os.cpu_count()} CPUs, load {os.getloadavg()[0]:.1f},"
          f" CPUs free for it {free_before:.1f} before, {free_cpus():.1f} after")
    print(f"{'case':35} {'median s':>9} {'ratio':>7} {'ratio p25-p75':>14}")
    for name in names:
        ratios = [t / b for t, b in zip(times[name], times[base])]
        quartiles = statistics.quantiles(ratios, n=4)
        print(f"{name:35} {statistics.median(times[name]):9.3f} {statistics.median(ratios):7.2f}"
              f" {quartiles[0]:6.2f}-{quartiles[2]:<6.2f}")
    print("two workers, in-process:")
    env = dict(os.environ, RAYON_NUM_THREADS="2")
    subprocess.run([sys.executable, "-c", PER_THREAD, tree], env=env, check=True)
    distinct = set().union(*outputs.values())
    print("outputs: identical" if len(distinct) == 1 else f"outputs: {len(distinct)} different ones")
    return 0 if len(distinct) == 1 else 1


if __name__ == "__main__":
    raise SystemExit(main())
