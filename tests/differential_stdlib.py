"""Compares the native scan with the pure-Python scan on real trees.

Usage: differential_stdlib.py VORNU_SCAN [ROOT...]

Every search kernel is tried in turn (VORNU_FORCE_KERNEL); one that the processor lacks
falls back to the widest it has, so the run passes the same way on every machine.

Without roots, the trees are the standard libraries of every Python interpreter found on
this machine (pyenv's and the system's): large, real, and full of odd files (CRLF and CR
line ends, byte-order marks, files that are not UTF-8, deep packages).
"""

import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pyscan  # noqa: E402


def standard_libraries():
    prefixes = ["/usr/lib", "/usr/local/lib"]
    try:
        pyenv_root = subprocess.run(["pyenv", "root"], capture_output=True, text=True, check=True).stdout.strip()
        prefixes += sorted(glob.glob(os.path.join(pyenv_root, "versions", "*", "lib")))
    except (OSError, subprocess.CalledProcessError):
        pass
    found = []
    for prefix in prefixes:
        for path in sorted(glob.glob(os.path.join(prefix, "python3.*"))):
            if os.path.isfile(os.path.join(path, "os.py")):
                found.append(path)
    return found


KERNELS = ["avx512", "avx2", "sse2", "scalar"]


def native_scan(scanner, roots, kernel):
    env = dict(os.environ, VORNU_FORCE_KERNEL=kernel)
    output = subprocess.run([scanner, "--", *roots], capture_output=True, check=True, env=env).stdout
    return output.decode("utf-8").split()


def main():
    scanner = sys.argv[1]
    roots = sys.argv[2:] or standard_libraries()
    if not roots:
        print("no standard library found")
        return 1
    failures = 0
    for root in roots:
        python_names = pyscan.scan_roots([root])
        for kernel in KERNELS:
            native_names = native_scan(scanner, [root], kernel)
            if native_names != python_names:
                failures += 1
                print(f"DIFFERENT {root} ({kernel})")
                print("  only native:", sorted(set(native_names) - set(python_names))[:20])
                print("  only python:", sorted(set(python_names) - set(native_names))[:20])
        print(f"{len(python_names):5d} names  {root}")
    # Every root at once, through the parallel path.
    if native_scan(scanner, roots, KERNELS[0]) != pyscan.scan_roots(roots):
        failures += 1
        print("DIFFERENT for all roots together")
    print(f"{len(roots) * len(KERNELS) + 1 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
