#!/usr/bin/env python3
"""How long SIGINT takes to end a long scan_imports call.

For each sample a helper process sends SIGINT to this one at a random moment of a long call
(0.1 to 0.5 s into an endless one, 20 to 60 % into one of real files), noting the time on
the monotonic clock (which all processes share) just before it does; this process notes
when KeyboardInterrupt arrives. A sample whose call ended before SIGINT came is dropped.
The calls:

- one root, endless: a link named *.py to /proc/self/pagemap, which reads as hundreds of
  GB of zero bytes, scanned on the calling thread;
- one root, real: pyenv's versions/ folder (every interpreter with its site-packages);
- many roots, endless: as many such links as the pool has threads and more, each a root;
- many roots, real: every standard library that pyenv has, repeated to 40 roots.

Real trees are read once, untimed, before every sample, so that the page cache is warm.
Target: at most 0.5 s from SIGINT to KeyboardInterrupt. Prints the median and the maximum.

Usage: python bench/interrupt_latency.py [--samples N]   (with vornu_core importable)
"""

from __future__ import annotations

import argparse
import os
import random
import signal
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time
from pathlib import Path

import vornu_core

HELPER = """
import os, signal, sys, time
pid, delay = int(sys.argv[1]), float(sys.argv[2])
time.sleep(delay)
sent = time.monotonic()
os.kill(pid, signal.SIGINT)
print(sent)
"""


def pyenv_versions() -> Path | None:
    try:
        root = subprocess.run(["pyenv", "root"], capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    return Path(root) / "versions"


def standard_libraries() -> list[str]:
    found = {sysconfig.get_paths()["stdlib"]}
    versions = pyenv_versions()
    if versions:
        found.update(str(lib) for lib in versions.glob("3.*/lib/python3.*") if (lib / "os.py").exists())
    return sorted(found)


def latency(roots: list[str], delay: float) -> float | None:
    """Seconds from SIGINT to KeyboardInterrupt for one call over `roots`, SIGINT coming
    `delay` seconds after the call starts; None if the call ended first."""
    helper = subprocess.Popen(
        [sys.executable, "-c", HELPER, str(os.getpid()), f"{delay:.3f}"], stdout=subprocess.PIPE, text=True
    )
    try:
        vornu_core.scan_imports(roots)
    except KeyboardInterrupt:
        caught = time.monotonic()
    else:
        try:
            helper.wait()
            time.sleep(1)
        except KeyboardInterrupt:
            pass
        return None
    sent = float(helper.communicate()[0])
    return caught - sent


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=15)
    args = parser.parse_args()
    # Started in the background of a shell, the process inherits SIGINT ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    rng = random.Random(1)
    whole = 0.0
    vornu_core.scan_imports([])  # the pool is started outside the measurement

    with tempfile.TemporaryDirectory(prefix="vornu-interrupt-") as tmp:
        links = []
        for i in range(2 * (os.cpu_count() or 1) + 2):
            (Path(tmp) / f"r{i}").mkdir()
            link = Path(tmp) / f"r{i}" / "endless.py"
            link.symlink_to("/proc/self/pagemap")
            links.append(str(link))
        stdlibs = standard_libraries()
        shapes = {"one root, endless": ([links[0]], False), "many roots, endless": (links, False)}
        versions = pyenv_versions()
        if versions and versions.is_dir():
            shapes["one root, real (pyenv versions/)"] = ([str(versions)], True)
        shapes[f"many roots, real ({len(stdlibs)} standard libraries to 40 roots)"] = (
            (stdlibs * 40)[:40],
            True,
        )

        for name, (roots, real) in shapes.items():
            if real:
                vornu_core.scan_imports(roots)
                start = time.perf_counter()
                vornu_core.scan_imports(roots)
                whole = time.perf_counter() - start
                print(f"{name}: an uninterrupted call takes {whole:.2f} s")
            samples = []
            for _ in range(args.samples):
                if real:
                    vornu_core.scan_imports(roots)  # untimed: the page cache is warm for the sample
                delay = rng.uniform(0.2, 0.6) * whole if real else rng.uniform(0.1, 0.5)
                sample = latency(roots, delay)
                if sample is not None:
                    samples.append(sample)
            if not samples:
                print(f"{name}: every call ended before SIGINT came")
                continue
            print(
                f"{name}: SIGINT to KeyboardInterrupt median {statistics.median(samples) * 1000:.0f} ms, "
                f"max {max(samples) * 1000:.0f} ms over {len(samples)} of {args.samples} calls (target <= 500 ms)"
            )


if __name__ == "__main__":
    main()
