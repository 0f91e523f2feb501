"""Side-by-side timings of driver commands on the same trees, interleaved, with medians.

    python bench/ab.py [--rounds N] --tree PATH [--tree PATH ...] LABEL=COMMAND ...

Each COMMAND is a vornu-scan command line without roots (for instance
"build/vornu-scan --floor", "/tmp/old/vornu-scan" or "env VORNU_FORCE_KERNEL=avx2
build/vornu-scan"); "--time --" and the tree are added.
Every round runs every command once per tree, in turn (A B A B ...), and re-reads the tree
untimed right before each timed sample, so no command finds the page cache colder than
another. The time is the driver's own (--time). Ratios are medians of per-round ratios
against the first command.
"""

import argparse
import os
import shlex
import statistics
import subprocess
import sys


def timed(command, tree, env):
    result = subprocess.run([*command, "--time", "--", tree], capture_output=True, env=env, check=True)
    return float(result.stderr.decode().strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--tree", action="append", required=True)
    parser.add_argument("commands", nargs="+", metavar="LABEL=COMMAND")
    args = parser.parse_args()
    commands = []
    for labelled in args.commands:
        label, _, command = labelled.partition("=")
        commands.append((label, shlex.split(command)))
    driver = next(word for _, command in commands for word in command if word.endswith("vornu-scan"))
    warm = [driver, "--floor"]
    env = dict(os.environ)
    for tree in args.tree:
        times = {label: [] for label, _ in commands}
        for _ in range(args.rounds):
            for label, command in commands:
                subprocess.run([*warm, "--", tree], capture_output=True, check=True)
                times[label].append(timed(command, tree, env))
        first = commands[0][0]
        print(f"{tree}  ({args.rounds} rounds, medians)")
        for label, _ in commands:
            ratios = [t / b for t, b in zip(times[label], times[first])]
            print(f"  {label:>14}: {statistics.median(times[label]) * 1000:9.2f} ms"
                  f"  x{statistics.median(ratios):.3f} of {first}"
                  f"  (spread {min(times[label]) * 1000:.1f}-{max(times[label]) * 1000:.1f})")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
