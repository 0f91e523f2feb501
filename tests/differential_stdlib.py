"""Compares the native scan with the pure-Python scan on real trees.

Usage: differential_stdlib.py VORNU_SCAN [ROOT...]

Every search kernel built into the driver is tried in turn (VORNU_FORCE_KERNEL), and the
driver must say that the kernel forced is the one that ran. A kernel that this processor
cannot run is skipped, and the run says so; forcing it must fail loudly instead of
scanning with another kernel, and so must forcing a name that no kernel has.

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


def built_in_kernels(scanner):
    """(name, whether this processor runs it) for every kernel, widest first."""
    lines = subprocess.run([scanner, "--kernels"], capture_output=True, text=True, check=True).stdout.splitlines()
    return [(name, state == "supported") for name, state in (line.split() for line in lines)]


def run_forced(scanner, roots, kernel):
    env = dict(os.environ)
    if kernel is None:
        env.pop("VORNU_FORCE_KERNEL", None)
    else:
        env["VORNU_FORCE_KERNEL"] = kernel
    return subprocess.run([scanner, "--kernel", "--", *roots], capture_output=True, env=env)


def native_scan(scanner, roots, kernel, expected_kernel):
    """The names, after checking that the kernel that ran is `expected_kernel`."""
    result = run_forced(scanner, roots, kernel)
    if result.returncode != 0:
        raise AssertionError(f"vornu-scan failed ({kernel}): {result.stderr.decode(errors='replace')}")
    ran = result.stderr.decode().splitlines()[0].removeprefix("kernel: ")
    if ran != expected_kernel:
        raise AssertionError(f"forced {kernel!r}, but the {ran} kernel ran")
    return result.stdout.decode("utf-8").split()


def refuses(scanner, kernel, why):
    """True if forcing `kernel` stops the driver with status 2 and a message saying `why`."""
    result = run_forced(scanner, ["/nonexistent"], kernel)
    message = result.stderr.decode(errors="replace")
    if result.returncode == 2 and why in message and not result.stdout:
        return True
    print(f"FORCING {kernel!r} was not refused ({why}): status {result.returncode}, {message.strip()!r}")
    return False


def main():
    scanner = sys.argv[1]
    roots = sys.argv[2:] or standard_libraries()
    if not roots:
        print("no standard library found")
        return 1
    kernels = built_in_kernels(scanner)
    runnable = [name for name, supported in kernels if supported]
    failures = 0
    for name, supported in kernels:
        if not supported:
            print(f"SKIPPED the {name} kernel: this processor cannot run it")
            failures += not refuses(scanner, name, "this processor cannot run that kernel")
    failures += not refuses(scanner, "no-such-kernel", "no search kernel has that name")
    for root in roots:
        python_names = pyscan.scan_roots([root])
        for kernel in runnable:
            native_names = native_scan(scanner, [root], kernel, kernel)
            if native_names != python_names:
                failures += 1
                print(f"DIFFERENT {root} ({kernel})")
                print("  only native:", sorted(set(native_names) - set(python_names))[:20])
                print("  only python:", sorted(set(python_names) - set(native_names))[:20])
        print(f"{len(python_names):5d} names  {root}")
    # Every root at once, through the parallel path, with the kernel chosen by default.
    if native_scan(scanner, roots, None, runnable[0]) != pyscan.scan_roots(roots):
        failures += 1
        print("DIFFERENT for all roots together")
    skipped = [name for name, supported in kernels if not supported]
    print(f"{len(roots) * len(runnable) + 1} scans, {failures} failed; kernels tried: {' '.join(runnable)}; "
          f"skipped: {' '.join(skipped) or 'none'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
