#!/usr/bin/env python3
"""`vornu-imports check` against deptry on real projects: findings side by side, and the time
of each whole process, interleaved (A B, then B A in the next round), medians.

Both tools read the same files: deptry with its default excludes (tests, venvs, setup.py)
overridden by `--exclude '^$'`, the check with `--no-git` (a walk that leaves out only
__pycache__, tools' environments and build output, of which these trees have none). Both
run from one virtual environment that has both installed (by default the report's,
.venv-bench-3.12), so they see the same installed distributions and the check needs no
`--python`. Every sample is preceded by an untimed read of the whole tree.

Trees:
- the sdists of PROJECTS on PyPI, fetched with `pip download --no-deps --no-binary :all:`
  into bench/out/check/ (git-ignored) and unpacked there;
- with --site-packages, the site-packages of a venv of SITE_PACKAGES made there with pip,
  with a pyproject.toml declaring them written at its top.

Usage: python bench/check_vs_deptry.py [--venv DIR] [--rounds 5] [--project NAME ... | --tree DIR ...]
       [--site-packages]
Writes bench/out/check/comparison.json and prints a Markdown table.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import resource
import statistics
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
OUT = HERE / "out" / "check"
DEFAULT_VENV = HERE.parent / ".venv-bench-3.12"

# name on PyPI -> its shape
PROJECTS = {
    "django": "a large application framework (setup.cfg + pyproject, tests/requirements)",
    "wagtail": "a Django application (setup.py, many templates and tests)",
    "pytest": "a src-layout library (pyproject, setuptools-scm)",
    "cleo": "a Poetry project ([tool.poetry] in pyproject.toml)",
    "ansible-core": "requirements.txt beside pyproject (setuptools)",
    "jaraco.functools": "a namespace package (jaraco/, pyproject)",
}
# The site-packages tree: pinned as in bench/venv-requirements.txt, with what they require.
SITE_PACKAGES = ["Django==6.1.3", "sympy==1.14.0", "numpy==2.5.5", "pandas==3.1.2", "scipy==1.18.1", "ipython==9.19.1"]
# deptry's codes as the check's: DEP001 missing, DEP003 transitive, DEP002 unused, DEP004 misplaced dev.
DEPTRY_CODES = {"DEP001": "undeclared", "DEP003": "undeclared", "DEP002": "unused", "DEP004": "dev-in-runtime"}
CHECK_CODES = {"undeclared": "undeclared", "undeclared-but-installed-transitively": "undeclared",
               "unused": "unused", "dev-in-runtime": "dev-in-runtime"}


def normalise(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


def fetch(name: str, python: str) -> Path:
    OUT.mkdir(parents=True, exist_ok=True)
    existing = [p for p in OUT.iterdir() if p.is_dir() and normalise(p.name.rsplit("-", 1)[0]) == normalise(name)]
    if existing:
        return existing[0]
    downloads = OUT / "sdists"
    subprocess.run([python, "-m", "pip", "download", "--quiet", "--no-deps", "--no-binary", ":all:",
                    "--dest", str(downloads), name], check=True)
    archive = next(p for p in downloads.iterdir() if normalise(p.name).startswith(normalise(name) + "-"))
    if archive.name.endswith(".zip"):
        with zipfile.ZipFile(archive) as opened:
            opened.extractall(OUT)
    else:
        with tarfile.open(archive) as opened:
            opened.extractall(OUT, filter="data")
    return next(p for p in OUT.iterdir() if p.is_dir() and normalise(p.name.rsplit("-", 1)[0]) == normalise(name))


def site_packages(python: str) -> Path:
    """The site-packages of a venv of SITE_PACKAGES (made once), declaring them in a
    pyproject.toml at its top, as a project that imports them would."""
    venv = OUT / "site-venv"
    stamp = venv / "complete"
    if not stamp.exists():
        subprocess.run([python, "-m", "venv", "--clear", str(venv)], check=True)
        subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet", *SITE_PACKAGES], check=True)
        stamp.touch()
    site = next(venv.glob("lib/python3*/site-packages"))
    names = [requirement.split("==")[0] for requirement in SITE_PACKAGES]
    (site / "pyproject.toml").write_text(
        "[project]\nname = 'site-packages'\ndependencies = [" + ", ".join(f"'{n}'" for n in names) + "]\n",
        encoding="utf-8")
    return site


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


def cpu_of_children() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command: list[str], cwd: Path) -> tuple[float, float, subprocess.CompletedProcess[str]]:
    """Wall seconds, CPU seconds (the process and all it started, on every core) and result."""
    cpu = cpu_of_children()
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return time.perf_counter() - start, cpu_of_children() - cpu, result


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


def compare(tree: Path, venv: Path, rounds: int, shape: str = "") -> dict:
    """Both tools on one tree: medians of `rounds` interleaved samples, and their findings."""
    deptry_json = OUT / f"{tree.name}.deptry.json"
    check_command = [str(venv / "bin" / "vornu-imports"), "check", "--no-git", "--json", "."]
    deptry_command = [str(venv / "bin" / "deptry"), ".", "--exclude", "^$", "--json-output", str(deptry_json)]
    times: dict[str, list[float]] = {"check": [], "deptry": []}
    cpu: dict[str, list[float]] = {"check": [], "deptry": []}
    outputs: dict[str, subprocess.CompletedProcess[str]] = {}
    load = os.getloadavg()[0]
    for round_ in range(rounds):
        for tool in ["check", "deptry"] if round_ % 2 == 0 else ["deptry", "check"]:
            reread(tree)
            seconds, cpu_seconds, outputs[tool] = timed(check_command if tool == "check" else deptry_command, tree)
            times[tool].append(seconds)
            cpu[tool].append(cpu_seconds)
    ours = check_findings(outputs["check"].stdout) if outputs["check"].returncode in (0, 1) else None
    theirs = deptry_findings(deptry_json) if deptry_json.exists() and outputs["deptry"].returncode in (0, 1) else None
    check_median, deptry_median = statistics.median(times["check"]), statistics.median(times["deptry"])
    stats = json.loads(outputs["check"].stdout)["stats"] if ours is not None else {}
    deptry_json.unlink(missing_ok=True)
    return {
        "project": tree.name, "shape": shape, "python_files": python_files(tree),
        "check_files": stats.get("files"), "check_parsed": stats.get("parsed"),
        "check_seconds": check_median, "deptry_seconds": deptry_median, "ratio": deptry_median / check_median,
        "check_samples": times["check"], "deptry_samples": times["deptry"],
        "check_cpu": statistics.median(cpu["check"]), "deptry_cpu": statistics.median(cpu["deptry"]),
        "load": [round(load, 2), round(os.getloadavg()[0], 2)],
        "check_error": None if ours is not None else outputs["check"].stderr.strip().splitlines()[-1:],
        "deptry_error": None if theirs is not None else outputs["deptry"].stderr.strip().splitlines()[-1:],
        "both": sorted(ours & theirs) if ours is not None and theirs is not None else [],
        "only_check": sorted(ours - (theirs or set())) if ours is not None else [],
        "only_deptry": sorted(theirs - (ours or set())) if theirs is not None else [],
    }


def table(results: list[dict]) -> list[str]:
    lines = ["| project | .py files | parsed | check (s) | deptry (s) | deptry / check | CPU: check (s) "
             "| CPU: deptry (s) | same findings | only check | only deptry | load |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"]
    for r in results:
        both = len(r["both"]) if r["deptry_error"] is None else "—"
        deptry = "fails" if r["deptry_error"] else len(r["only_deptry"])
        lines.append(f"| {r['project']} | {r['python_files']} | {r['check_parsed']} | {r['check_seconds']:.3f} "
                     f"| {r['deptry_seconds']:.3f} | {r['ratio']:.1f}× | {r['check_cpu']:.3f} | {r['deptry_cpu']:.3f} "
                     f"| {both} | {len(r['only_check'])} | {deptry} | {r['load'][0]:.1f}–{r['load'][1]:.1f} |")
    return lines


def trees(arguments: argparse.Namespace, python: str) -> list[tuple[Path, str]]:
    if arguments.tree:
        return [(Path(t).resolve(), "") for t in arguments.tree]
    found = [(fetch(name, python), PROJECTS.get(name, "")) for name in arguments.project or list(PROJECTS)]
    if arguments.site_packages:
        found.append((site_packages(python), "a venv's site-packages: " + ", ".join(SITE_PACKAGES)))
    return found


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--venv", type=Path, default=DEFAULT_VENV,
                        help="a virtual environment with vornu_core and deptry installed (default: the report's)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--project", action="append", help="a distribution on PyPI (default: the built-in list)")
    parser.add_argument("--tree", action="append", default=[], help="a local project folder, in place of --project")
    parser.add_argument("--site-packages", action="store_true", help="also a venv's site-packages (made with pip)")
    arguments = parser.parse_args()
    venv = arguments.venv.resolve()
    results = []
    for tree, shape in trees(arguments, str(venv / "bin" / "python")):
        results.append(compare(tree, venv, arguments.rounds, shape))
        r = results[-1]
        print(f"{tree.name}: check {r['check_seconds']:.3f} s, deptry {r['deptry_seconds']:.3f} s", file=sys.stderr)
    OUT.mkdir(parents=True, exist_ok=True)
    (OUT / "comparison.json").write_text(json.dumps(results, indent=2) + "\n")
    print("\n".join(table(results)))


if __name__ == "__main__":
    main()
