#!/usr/bin/env python3
"""Cost of the Python boundary of vornu_core.scan_imports.

1. Calling overhead: scan_imports([]) and scan_imports over one root whose scan costs
   next to nothing (a path that does not exist, and a one-line file), against calls of
   builtins that do almost nothing in C (the "empty C function call" baseline).
2. Result conversion: a file importing 10,000 distinct names against a file of the same
   size that imports one name 10,000 times. The difference bounds the cost of building
   the 10,000-item result list (it also contains the extra name-set insertions, so it is
   an upper bound).

Usage: python bench/call_overhead.py   (with vornu_core importable)
"""

from __future__ import annotations

import math
import os
import sys
import tempfile
import timeit

import vornu_core


def best_us(statement, number: int, repeat: int = 7) -> float:
    return min(timeit.repeat(statement, number=number, repeat=repeat)) / number * 1e6


def main() -> None:
    scan = vornu_core.scan_imports
    empty: list[str] = []
    scan(empty)  # creates the worker pool outside the measurement

    with tempfile.TemporaryDirectory(prefix="vornu-bench-") as tmp:
        missing = [os.path.join(tmp, "missing")]
        tiny_file = os.path.join(tmp, "tiny.py")
        with open(tiny_file, "w") as f:
            f.write("import os\n")
        tiny = [tiny_file]

        n = 200_000
        rows = [
            ("len([]) (METH_O builtin)", best_us(lambda: len(empty), n)),
            ("id([]) (METH_O builtin)", best_us(lambda: id(empty), n)),
            ("math.gcd() (METH_FASTCALL builtin)", best_us(lambda: math.gcd(), n)),
            ("scan_imports([])", best_us(lambda: scan(empty), n)),
            ("scan_imports(paths=[])", best_us(lambda: scan(paths=empty), n)),
            ("scan_imports([missing root])", best_us(lambda: scan(missing), n // 4)),
            ("scan_imports([one-line .py file])", best_us(lambda: scan(tiny), n // 10)),
        ]
        baseline = rows[0][1]
        print(f"Python {sys.version.split()[0]}, vornu_core at {vornu_core.__file__}")
        print(f"{'call':45} {'µs/call':>9} {'vs len([])':>11}")
        for name, us in rows:
            print(f"{name:45} {us:9.3f} {us - baseline:+11.3f}")

        distinct_dir = os.path.join(tmp, "distinct")
        repeated_dir = os.path.join(tmp, "repeated")
        os.makedirs(distinct_dir)
        os.makedirs(repeated_dir)
        with open(os.path.join(distinct_dir, "m.py"), "w") as f:
            f.writelines(f"import name_{i:05d}\n" for i in range(10_000))
        with open(os.path.join(repeated_dir, "m.py"), "w") as f:
            f.writelines("import name_00000\n" for _ in range(10_000))
        distinct = [distinct_dir]
        repeated = [repeated_dir]
        assert len(scan(distinct)) == 10_000 and len(scan(repeated)) == 1

        distinct_us = best_us(lambda: scan(distinct), 200)
        repeated_us = best_us(lambda: scan(repeated), 200)
        convert_only_us = best_us(lambda: list(map(str, scan(distinct))), 200) - distinct_us
        print()
        print(f"{'10,000 distinct names':45} {distinct_us:9.1f} µs")
        print(f"{'same file size, 1 name':45} {repeated_us:9.1f} µs")
        print(f"{'difference (set growth + 10,000-str list)':45} {distinct_us - repeated_us:9.1f} µs")
        print(f"{'(for scale: list(map(str, result)))':45} {convert_only_us:9.1f} µs")


if __name__ == "__main__":
    main()
