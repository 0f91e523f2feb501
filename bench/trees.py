"""The trees the report reads: made once under bench/out/trees and reused (a stamp file marks
a complete tree), so every run and every machine reads the same bytes."""

import glob
import os
import subprocess
import sys
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "out", "trees")
STAMP = ".vornu-bench-tree-complete"
SIZES = [1_000, 10_000, 100_000, 1_000_000, 10_000_000, 50_000_000]
COUNTS = [10, 100, 1_000, 10_000, 100_000]


def log(text):
    print(text, file=sys.stderr, flush=True)


def generated(files):
    """A tree of `files` small generated source files (make_tree.py), made if missing."""
    out = os.path.join(OUT, f"small-{files}")
    subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), out, "--files", str(files)],
                   check=True, stdout=subprocess.DEVNULL)
    return out


def sized(size):
    """Files of `size` bytes each, cut at line ends from make_tree's large text: enough of
    them for about 32 MB in all, and at least four."""
    out = os.path.join(OUT, f"size-{size}")
    if os.path.exists(os.path.join(out, STAMP)):
        return out
    large = os.path.join(OUT, "large")
    subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), large, "--large"],
                   check=True, stdout=subprocess.DEVNULL)
    text = b"".join(open(p, "rb").read() for p in sorted(glob.glob(os.path.join(large, "*.py"))))
    at = 0
    for n in range(max(4, 32_000_000 // size)):
        if at + size > len(text):
            at = 0
        end = text.rfind(b"\n", at, at + size) + 1 or at
        # Whole lines, then one comment line that makes up the size.
        piece = text[at:end] + b"#" * (size - (end - at) - 1) + b"\n"
        directory = os.path.join(out, f"d{n // 1000}")
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, f"f{n}.py"), "wb") as f:
            f.write(piece)
        at = end
    open(os.path.join(out, STAMP), "w").close()
    return out


def stdlib_dirs():
    root = subprocess.run(["pyenv", "root"], capture_output=True, text=True, check=True).stdout.strip()
    found = sorted(glob.glob(os.path.join(root, "versions", "3.*", "lib", "python3.*")))
    return [d for d in found if os.path.isfile(os.path.join(d, "os.py"))]


def venv_site_packages():
    """The site-packages of a venv built from bench/venv-requirements.txt; None where PyPI
    cannot be reached (the report says so and leaves the row out)."""
    venv = os.path.join(OUT, "venv")
    site = glob.glob(os.path.join(venv, "lib", "python3.*", "site-packages"))
    if os.path.exists(os.path.join(venv, STAMP)) and site:
        return site[0]
    try:
        urllib.request.urlopen("https://pypi.org/simple/pip/", timeout=10).close()
    except OSError as error:
        log(f"PyPI cannot be reached ({error}): no venv tree")
        return None
    log("building the venv tree from bench/venv-requirements.txt")
    subprocess.run([sys.executable, "-m", "venv", "--clear", venv], check=True)
    pip = [os.path.join(venv, "bin", "python"), "-m", "pip", "install", "--quiet"]
    if subprocess.run([*pip, "-r", os.path.join(HERE, "venv-requirements.txt")]).returncode != 0:
        log("the venv tree could not be built: no venv row")
        return None
    open(os.path.join(venv, STAMP), "w").close()
    return glob.glob(os.path.join(venv, "lib", "python3.*", "site-packages"))[0]


def many_roots(quick):
    """256 roots of about 100 files: the leaf directories of a generated tree."""
    tree = generated(2_560 if quick else 25_600)
    leaves = sorted({os.path.dirname(p) for p in glob.glob(os.path.join(tree, "*", "*", "*", "*.py"))})
    return leaves[:256]


def ordinary_trees(quick):
    stdlibs = stdlib_dirs()
    newest_312 = [d for d in stdlibs if d.endswith("python3.12")][-1:]
    found = [("a standard library (3.12)", newest_312),
             (f"{min(10, len(stdlibs))} standard libraries with their site-packages, as roots", stdlibs[-10:]),
             ("1,000 small files" if quick else "100,000 small files", [generated(1_000 if quick else 100_000)])]
    if not quick:
        site = venv_site_packages()
        if site:
            found.append(("a real venv's site-packages", [site]))
        found.append(("4 files of 50 MB", [sized(50_000_000)]))
    found.append((f"{len(many_roots(quick))} roots of 100 files", many_roots(quick)))
    return found


def count_series(quick):
    return [(n, [generated(n)]) for n in (COUNTS[:3] if quick else COUNTS)]


def size_series(quick):
    return [(s, [sized(s)]) for s in (SIZES[:3] if quick else SIZES)]


def python_files(roots):
    for root in roots:
        for directory, _, files in os.walk(root):
            for name in files:
                if name.endswith(".py") and len(name) > 3:
                    yield os.path.join(directory, name)


def count_python(roots):
    return sum(1 for _ in python_files(roots))


def python_bytes(roots):
    return sum(os.path.getsize(p) for p in python_files(roots) if os.path.isfile(p))
