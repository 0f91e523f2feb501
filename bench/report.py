"""The performance report: the scan against the read floors, ripgrep, a pure-Python scan and
the tools users would pick instead (deptry's import extraction, `ruff analyze graph`).

Run through bench/report, which builds what this needs; it writes docs/performance.md and
three plots beside it. Every comparison is made side by side in one run: each round takes
one sample of every method in turn (the order rotating from round to round), and every
sample is preceded by an untimed read of the same tree, since this kind of machine evicts
file pages that stay idle for about a minute. Tables give medians and medians of per-round
ratios.
"""

import argparse
import importlib.metadata
import json
import os
import platform
import subprocess
import sys
import sysconfig
import time
from pathlib import Path

import check_vs_deptry
import trees

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests"))
import pyscan  # noqa: E402

RG_NAME = r"^\s*(?:import|from) \s*([A-Za-z_][A-Za-z0-9_]*)(?:$|[.\s])"
MODULE_CALL = "import sys, vornu_core; print(len(vornu_core.scan_imports(sys.argv[1:])))"
PEERS = os.path.join(HERE, "peers.py")
RUFF = os.path.join(sysconfig.get_path("scripts"), "ruff")


class Methods:
    """The ways a tree is read: each returns seconds."""

    def __init__(self, driver, rg, threads, peers):
        self.driver, self.rg, self.threads, self.peers = driver, rg, threads, peers
        self.deptry_found = {}  # roots -> deptry's last run on them, which the name check reuses

    def env(self):
        return dict(os.environ, RAYON_NUM_THREADS=str(self.threads))

    def driver_time(self, flags, roots):
        result = subprocess.run([self.driver, *flags, "--time", "--", *roots], capture_output=True,
                                env=self.env(), check=True)
        return float(result.stderr.decode().strip().splitlines()[-1])

    def warm(self, roots):
        subprocess.run([self.driver, "--floor", "--", *roots], capture_output=True, env=self.env(), check=True)

    def wall(self, command, shell=False):
        start = time.perf_counter()
        # Standard error is dropped: the peers warn about every file they cannot parse.
        subprocess.run(command, shell=shell, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env(),
                       check=True)
        return time.perf_counter() - start

    def lean(self, roots):
        return self.driver_time(["--lean-floor"], roots)

    def plain(self, roots):
        return self.driver_time(["--floor"], roots)

    def scan(self, roots):
        return self.driver_time([], roots)

    def process(self, roots):
        return self.wall([sys.executable, "-c", MODULE_CALL, *roots])

    def rg_command(self, roots):
        quoted = " ".join(f"'{r}'" for r in roots)
        return (f"{self.rg} -j{self.threads} --no-config --no-ignore --hidden --no-messages -g '*.py' "
                f"-o -N --no-filename -r '$1' '{RG_NAME}' {quoted} | awk '{{print $1}}' | sort -u")

    def ripgrep(self, roots):
        return self.wall(self.rg_command(roots), shell=True)

    def python(self, roots):
        start = time.perf_counter()
        pyscan.scan_roots(roots)
        return time.perf_counter() - start

    def deptry_run(self, roots):
        result = subprocess.run([sys.executable, PEERS, *roots], capture_output=True, text=True, env=self.env(),
                                check=True)
        found = self.deptry_found[tuple(roots)] = json.loads(result.stdout.splitlines()[-1])
        return found

    def deptry(self, roots):
        return self.deptry_run(roots)["seconds"]

    def ruff(self, roots):
        return self.wall([RUFF, "analyze", "graph", "--isolated", *roots])


def sample(methods, roots, names, rounds, limits):
    """Per method, the list of seconds of its samples; `limits` caps the rounds of the slow ones."""
    samples = {name: [] for name in names}
    for i in range(rounds):
        for name in names[i % len(names):] + names[:i % len(names)]:
            if i >= limits.get(name, rounds):
                continue
            methods.warm(roots)
            samples[name].append(getattr(methods, name)(roots))
    return samples


def check_names(methods, roots):
    """Names of the module, of the pure-Python scan and of the rg pipeline, untimed."""
    module = subprocess.run([sys.executable, "-c", "import sys, vornu_core; print('\\n'.join("
                             "vornu_core.scan_imports(sys.argv[1:])))", *roots],
                            capture_output=True, text=True, check=True).stdout.split()
    rg = subprocess.run(methods.rg_command(roots), shell=True, capture_output=True,
                        text=True).stdout.split()
    python = pyscan.scan_roots(roots)
    check = {"same_as_python": module == python, "names": len(module),
             "rg_only": sorted(set(rg) - set(module)), "module_only": sorted(set(module) - set(rg))}
    if methods.peers["deptry"]:
        # deptry parses each file: strings, "import a, b" and files that do not parse make it differ.
        deptry = methods.deptry_found.get(tuple(roots)) or methods.deptry_run(roots)
        check.update(deptry_files=deptry["files"], deptry_only=sorted(set(deptry["names"]) - set(module)),
                     not_deptry=sorted(set(module) - set(deptry["names"])))
    return check


def find_peers():
    """The versions of deptry and ruff in this venv, None for one that is missing (bench/report
    installs them from bench/peer-requirements.txt when PyPI can be reached)."""
    found = {}
    for name in ("deptry", "ruff"):
        try:
            found[name] = importlib.metadata.version(name)
        except importlib.metadata.PackageNotFoundError:
            found[name] = None
    if found["ruff"] and not os.access(RUFF, os.X_OK):
        found["ruff"] = None
    return found


def machine(driver):
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    kernel = subprocess.run([driver, "--kernel", "--", "/nonexistent"], capture_output=True,
                            text=True).stderr.strip().removeprefix("kernel: ")
    return {"cpu": cpu, "cores": os.cpu_count(), "linux": platform.release(), "kernel": kernel}


def check_against_deptry(args, peers):
    """`vornu-imports check` against `deptry` on the trees of bench/check_vs_deptry.py (real
    projects' sdists from PyPI, and a venv's site-packages; --quick: two small sdists), both
    run from this venv; a note in place of the rows where deptry or PyPI is missing."""
    if not peers["deptry"]:
        return {"note": "deptry is not installed"}
    names = ["cleo", "jaraco.functools"] if args.quick else list(check_vs_deptry.PROJECTS)
    results = []
    try:
        found = [(check_vs_deptry.fetch(name, sys.executable), check_vs_deptry.PROJECTS[name]) for name in names]
        if not args.quick:
            found.append((check_vs_deptry.site_packages(sys.executable), "a venv's site-packages"))
    except (subprocess.CalledProcessError, OSError, StopIteration) as error:
        return {"note": f"the projects could not be fetched from PyPI ({error})"}
    for tree, shape in found:
        print(f"== check against deptry: {tree.name}", file=sys.stderr, flush=True)
        results.append(check_vs_deptry.compare(tree, Path(sys.prefix), args.check_rounds, shape))
    return {"results": results}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", required=True)
    parser.add_argument("--rg", default="rg")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--python-rounds", type=int, default=2)
    parser.add_argument("--peer-rounds", type=int, default=3, help="rounds of deptry, which takes seconds a tree")
    parser.add_argument("--check-rounds", type=int, default=5, help="rounds of vornu-imports check against deptry")
    parser.add_argument("--quick", action="store_true", help="small trees only, for trying the script")
    parser.add_argument("--out", default=os.path.join(REPO, "docs"))
    args = parser.parse_args()
    threads = os.cpu_count() or 1
    peers = find_peers()
    methods = Methods(args.driver, args.rg, threads, peers)
    info = machine(args.driver)
    title = f"{info['cpu']}, {info['cores']} CPUs, search kernel {info['kernel']}"
    report = {"info": info, "rounds": args.rounds, "python_rounds": args.python_rounds,
              "peer_rounds": args.peer_rounds, "peers": peers}
    limits = {"python": args.python_rounds, "deptry": args.peer_rounds}

    # The series by file count and by size are about the scan's own curve: no peers there.
    base_methods = ["lean", "plain", "scan", "process", "ripgrep", "python"]
    all_methods = base_methods + [name for name in ("deptry", "ruff") if peers[name]]
    report["trees"] = []
    for name, roots in trees.ordinary_trees(args.quick):
        print(f"== {name}", file=sys.stderr, flush=True)
        samples = sample(methods, roots, all_methods, args.rounds, limits)
        report["trees"].append({"name": name, "roots": roots, "samples": samples,
                                "files": trees.count_python(roots), "bytes": trees.python_bytes(roots),
                                "check": check_names(methods, roots)})
    report["by_count"] = []
    for count, roots in trees.count_series(args.quick):
        print(f"== {count} files", file=sys.stderr, flush=True)
        report["by_count"].append((count, sample(methods, roots, base_methods, args.rounds, limits)))
    report["by_size"] = []
    for size, roots in trees.size_series(args.quick):
        print(f"== files of {size} bytes", file=sys.stderr, flush=True)
        report["by_size"].append((size, trees.python_bytes(roots),
                                  sample(methods, roots, base_methods, args.rounds, limits)))
    report["by_workers"] = []
    roots = trees.many_roots(args.quick)
    for workers in sorted({1, 2, threads}):
        print(f"== {len(roots)} roots, {workers} workers", file=sys.stderr, flush=True)
        workers_methods = Methods(args.driver, args.rg, workers, peers)
        report["by_workers"].append((workers, sample(workers_methods, roots, ["lean", "scan", "ripgrep", "python"],
                                                     args.rounds, {"python": 1 if workers == 1 else 0})))

    report["check"] = check_against_deptry(args, peers)

    import plots
    import writeup
    os.makedirs(args.out, exist_ok=True)
    plots.draw(report, title, args.out)
    with open(os.path.join(args.out, "performance.md"), "w", encoding="utf-8") as out:
        out.write(writeup.markdown(report))
    print(f"wrote {os.path.join(args.out, 'performance.md')}", file=sys.stderr)


if __name__ == "__main__":
    main()
