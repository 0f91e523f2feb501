#!/usr/bin/env python3
"""`vornu-imports check` against deptry on real projects: findings side by side, and the time
of each whole process, interleaved (A B, then B A in the next round), medians.

Each project is the sdist of a distribution on PyPI, fetched with `pip download --no-deps
--no-binary :all:` into bench/out/check/ (git-ignored) and unpacked there. Both tools look at
the same environment: the check is given deptry's interpreter with --python.

Usage: python bench/check_vs_deptry.py --check .venv/bin/vornu-imports --deptry .venv-deptry/bin/deptry
       [--rounds 5] [--project NAME ... | --tree FOLDER ...]
Writes bench/out/check/comparison.json and prints a Markdown table.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

OUT = Path(__file__).resolve().parent / "out" / "check"

# name on PyPI -> its shape
PROJECTS = {
    "django": "a large application framework (setup.cfg + pyproject, tests/requirements)",
    "wagtail": "a Django application (setup.py, many templates and tests)",
    "pytest": "a src-layout library (pyproject, setuptools-scm)",
    "cleo": "a Poetry project ([tool.poetry] in pyproject.toml)",
    "ansible-core": "requirements.txt beside pyproject (setuptools)",
    "jaraco.functools": "a namespace package (jaraco/, pyproject)",
}
# deptry's codes as the check's: DEP001 missing, DEP003 transitive, DEP002 unused, DEP004 misplaced dev.
DEPTRY_CODES = {"DEP001": "undeclared", "DEP003": "undeclared", "DEP002": "unused", "DEP004": "dev-in-runtime"}
CHECK_CODES = {"undeclared": "undeclared", "undeclared-but-installed-transitively": "undeclared",
               "unused": "unused", "dev-in-runtime": "dev-in-runtime"}


def normalise(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


def fetch(name: str) -> Path:
    OUT.mkdir(parents=True, exist_ok=True)
    existing = [p for p in OUT.iterdir() if p.is_dir() and normalise(p.name.rsplit("-", 1)[0]) == normalise(name)]
    if existing:
        return existing[0]
    downloads = OUT / "sdists"
    subprocess.run([sys.executable, "-m", "pip", "download", "--quiet", "--no-deps", "--no-binary", ":all:",
                    "--dest", str(downloads), name], check=True)
    archive = next(p for p in downloads.iterdir() if normalise(p.name).startswith(normalise(name) + "-"))
    if archive.name.endswith(".zip"):
        with zipfile.ZipFile(archive) as opened:
            opened.extractall(OUT)
    else:
        with tarfile.open(archive) as opened:
            opened.extractall(OUT, filter="data")
    return next(p for p in OUT.iterdir() if p.is_dir() and normalise(p.name.rsplit("-", 1)[0]) == normalise(name))


def reread(tree: Path) -> int:
    """Reads every file of the tree, untimed, so that each timed run starts from a warm cache."""
    count = 0
    for folder, _, names in os.walk(tree):
        for name in names:
            try:
                with open(os.path.join(folder, name), "rb") as file:
                    count += len(file.read())
            except OSError:
                pass
    return count


def timed(command: list[str], cwd: Path) -> tuple[float, subprocess.CompletedProcess[str]]:
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return time.perf_counter() - start, result


def check_findings(output: str) -> set[tuple[str, str]]:
    report = json.loads(output)
    found = set()
    for finding in report["findings"]:
        code = CHECK_CODES[finding["code"]]
        name = finding["distribution"] if code == "unused" else finding["module"]
        found.add((code, normalise(name) if code == "unused" else name))
    return found


def deptry_findings(path: Path) -> set[tuple[str, str]]:
    found = set()
    for finding in json.loads(path.read_text()):
        code = DEPTRY_CODES.get(finding["error"]["code"])
        if code:
            name = finding["module"]
            found.add((code, normalise(name) if code == "unused" else name))
    return found


def python_files(tree: Path) -> int:
    return sum(1 for _ in tree.rglob("*.py"))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", required=True, help="the vornu-imports command")
    parser.add_argument("--deptry", required=True, help="the deptry command")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--project", action="append", help="a distribution on PyPI (default: the built-in list)")
    parser.add_argument("--tree", action="append", default=[], help="a local project folder, in place of --project")
    arguments = parser.parse_args()
    check = os.path.abspath(arguments.check)
    deptry = os.path.abspath(arguments.deptry)
    deptry_python = str(Path(deptry).with_name("python"))
    results = []
    trees = [Path(t).resolve() for t in arguments.tree] or [fetch(n) for n in arguments.project or list(PROJECTS)]
    for tree in trees:
        name = tree.name
        deptry_json = OUT / f"{tree.name}.deptry.json"
        check_command = [check, "check", "--no-git", "--json", "--python", deptry_python, "."]
        deptry_command = [deptry, ".", "--json-output", str(deptry_json)]
        times: dict[str, list[float]] = {"check": [], "deptry": []}
        outputs: dict[str, subprocess.CompletedProcess[str]] = {}
        for round_ in range(arguments.rounds):
            order = ["check", "deptry"] if round_ % 2 == 0 else ["deptry", "check"]
            for tool in order:
                reread(tree)
                seconds, outputs[tool] = timed(check_command if tool == "check" else deptry_command, tree)
                times[tool].append(seconds)
        ours = check_findings(outputs["check"].stdout) if outputs["check"].returncode in (0, 1) else None
        theirs = deptry_findings(deptry_json) if deptry_json.exists() and outputs["deptry"].returncode in (0, 1) else None
        check_median, deptry_median = statistics.median(times["check"]), statistics.median(times["deptry"])
        results.append({
            "project": tree.name, "shape": PROJECTS.get(name.rsplit("-", 1)[0], ""), "python_files": python_files(tree),
            "check_seconds": check_median, "deptry_seconds": deptry_median,
            "ratio": deptry_median / check_median,
            "check_error": None if ours is not None else outputs["check"].stderr.strip().splitlines()[-1:],
            "deptry_error": None if theirs is not None else outputs["deptry"].stderr.strip().splitlines()[-1:],
            "both": sorted(ours & theirs) if ours is not None and theirs is not None else [],
            "only_check": sorted(ours - (theirs or set())) if ours is not None else [],
            "only_deptry": sorted(theirs - (ours or set())) if theirs is not None else [],
        })
        print(f"{tree.name}: check {check_median:.3f} s, deptry {deptry_median:.3f} s", file=sys.stderr)
        deptry_json.unlink(missing_ok=True)
    (OUT / "comparison.json").write_text(json.dumps(results, indent=2) + "\n")
    print("| project | .py files | check (s) | deptry (s) | deptry / check | same findings | only check | only deptry |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        both = len(r["both"]) if r["deptry_error"] is None else "—"
        deptry = "fails" if r["deptry_error"] else len(r["only_deptry"])
        print(f"| {r['project']} | {r['python_files']} | {r['check_seconds']:.2f} | {r['deptry_seconds']:.2f} | "
              f"{r['ratio']:.1f}× | {both} | {len(r['only_check'])} | {deptry} |")


if __name__ == "__main__":
    main()
