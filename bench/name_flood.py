"""Timings of one file of N distinct import names, for names built to collide and for random ones.

    python bench/name_flood.py [--rounds N] [--counts 10000,20000,40000] LABEL=COMMAND ...

Each COMMAND is a vornu-scan command line without roots (for instance "build/vornu-scan" or
"/tmp/old/vornu-scan"); "--time --" and the file are added. The files (bench/out/names/,
made once, the same bytes on every machine) hold one `import NAME` line per name:

- shared-ends: `headhead_%08d_tailtail`, names longer than 16 bytes that differ only in
  their middle;
- four-bytes: 16-byte names that differ only in bytes 6, 7, 14 and 15, the high bytes of
  each 8-byte word;
- random: 16 random identifier bytes each.

Every round runs every command once per file, in turn (A B A B ...), after an untimed read
of the file. The time is the driver's own (--time); figures are medians. A command whose
result does not hold exactly N names stops the run.
"""

import argparse
import random
import shlex
import statistics
import string
import subprocess
import sys
from pathlib import Path

OUT = Path(__file__).resolve().parent / "out" / "names"
LETTERS = string.ascii_letters
IDENT = string.ascii_letters + string.digits + "_"


def shared_ends(count):
    return [f"headhead_{i:08d}_tailtail" for i in range(count)]


def four_bytes(count):
    names = []
    for i in range(count):
        a, b, c, d = (LETTERS[(i // 52**k) % 52] for k in range(4))
        names.append(f"abcdef{a}{b}ghijkl{c}{d}")
    return names


def random_names(count):
    generator = random.Random(count)
    names = set()
    while len(names) < count:
        names.add(generator.choice(LETTERS) + "".join(generator.choices(IDENT, k=15)))
    return sorted(names, key=lambda _: generator.random())


SHAPES = {"shared-ends": shared_ends, "four-bytes": four_bytes, "random": random_names}


def flood_file(shape, count):
    path = OUT / f"{shape}-{count}.py"
    if not path.exists():
        OUT.mkdir(parents=True, exist_ok=True)
        text = "".join(f"import {name}\n" for name in SHAPES[shape](count))
        path.with_suffix(".tmp").write_text(text)
        path.with_suffix(".tmp").rename(path)
    return path


def timed(command, path, count):
    result = subprocess.run([*command, "--time", "--", str(path)], capture_output=True, check=True)
    found = len(result.stdout.splitlines())
    if found != count:
        sys.exit(f"{shlex.join(command)}: {found} names in {path}, not {count}")
    return float(result.stderr.decode().strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--counts", default="10000,20000,40000")
    parser.add_argument("commands", nargs="+", metavar="LABEL=COMMAND")
    args = parser.parse_args()
    commands = [(label, shlex.split(command)) for label, _, command in
                (labelled.partition("=") for labelled in args.commands)]
    counts = [int(count) for count in args.counts.split(",")]
    print(f"{args.rounds} rounds, medians, seconds")
    print(f"{'shape':>12} {'names':>6}  " + "  ".join(f"{label:>10}" for label, _ in commands))
    for shape in SHAPES:
        for count in counts:
            path = flood_file(shape, count)
            times = {label: [] for label, _ in commands}
            for _ in range(args.rounds):
                for label, command in commands:
                    path.read_bytes()
                    times[label].append(timed(command, path, count))
            print(f"{shape:>12} {count:>6}  " +
                  "  ".join(f"{statistics.median(times[label]):10.4f}" for label, _ in commands))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
