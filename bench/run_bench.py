"""Benchmark runner: the native scan against its three references, side by side.

For every tree (the standard library of each pyenv CPython 3.x found at run time,
a generated tree of about 100,000 small files, a tree of a few files of tens of MB)
it takes interleaved samples of

  floor   `vornu-scan --floor --time ROOT`: walk the tree, read every .py file, look at no byte
  scan    `vornu-scan --time ROOT`: the scan itself
  rg      `rg -j1 ... -c PATTERN ROOT` with the candidate pattern (keyword after blanks)
  rg-rule the same with the full line rule, so that it finds exactly the scan's lines
  python  tests/pyscan.py's scan_roots([root]), timed in this process

Before every timed sample the tree is read once more, untimed, since the machine may
evict file pages that stay idle. The order of the tools rotates from round to round.
The driver is timed twice in each sample: its own --time figure (the work, without
process start) and the wall clock of the whole process, which is how rg is timed.
Ratios are medians of the ratios within each round.

Prints a markdown report and writes it to bench/out/. See bench/README.md.
"""

import argparse
import datetime
import glob
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests"))  # the shared pure-Python reference scan
import pyscan  # noqa: E402

RG_COMMON = ["-j1", "--no-config", "--no-ignore", "--hidden", "--no-messages", "-g", "*.py", "-c"]
SPACE = r"\s"  # Rust's regex \s is Unicode White_Space, the scan's set
RG_CANDIDATE = rf"^{SPACE}*(?:import|from) "
RG_RULE = rf"^{SPACE}*(?:import|from) {SPACE}*[A-Za-z_][A-Za-z0-9_]*(?:$|[.{SPACE}])"
PY_CANDIDATE = re.compile(rf"^[{pyscan._SPACE}]*(?:import |from )")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------
# Processes


class Run:
    __slots__ = ("wall", "out", "err", "code")


def run(cmd):
    """Runs `cmd` to its end; wall clock of the whole process."""
    result = Run()
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    result.out = proc.stdout.read()
    result.err = proc.stderr.read()
    _, status = os.waitpid(proc.pid, 0)
    result.wall = time.perf_counter() - start
    proc.returncode = result.code = os.waitstatus_to_exitcode(status)
    proc.stdout.close()
    proc.stderr.close()
    return result


def peak_rss_kb(cmd):
    """Peak RSS of `cmd` measured by GNU time. A child forked straight from this process
    would report this process's own peak (Linux keeps the high-water mark across exec)."""
    timer = shutil.which("time", path="/usr/bin:/bin") or "/usr/bin/time"
    r = run([timer, "-f", "%M", *cmd])
    try:
        return int(r.err.decode().strip().splitlines()[-1])
    except (ValueError, IndexError):
        return 0


def driver_time(result, cmd):
    if result.code != 0:
        sys.exit(f"{' '.join(cmd)} failed ({result.code}): {result.err.decode(errors='replace')}")
    return float(result.err.decode().strip().splitlines()[-1])


class Tools:
    def __init__(self, driver, rg):
        self.driver = driver
        self.rg = rg

    def warm(self, root):
        run([self.driver, "--floor", "--", root])

    def floor(self, root):
        cmd = [self.driver, "--floor", "--time", "--", root]
        r = run(cmd)
        return {"in": driver_time(r, cmd), "proc": r.wall}

    def scan(self, root):
        cmd = [self.driver, "--time", "--", root]
        r = run(cmd)
        return {"in": driver_time(r, cmd), "proc": r.wall}

    def rg_cmd(self, pattern, root):
        return [self.rg, *RG_COMMON, pattern, root]

    def rg_candidate(self, root):
        r = run(self.rg_cmd(RG_CANDIDATE, root))
        return {"proc": r.wall}

    def rg_rule(self, root):
        r = run(self.rg_cmd(RG_RULE, root))
        return {"proc": r.wall}

    def python(self, root):
        start = time.perf_counter()
        pyscan.scan_roots([root])
        return {"in": time.perf_counter() - start}


# ---------------------------------------------------------------------------------------
# Trees


def pyenv_root():
    if os.environ.get("PYENV_ROOT"):
        return os.environ["PYENV_ROOT"]
    try:
        return subprocess.run(["pyenv", "root"], capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return os.path.expanduser("~/.pyenv")


def version_key(path):
    return tuple(int(x) for x in re.findall(r"\d+", os.path.basename(path)))


def stdlib_trees():
    trees = []
    for version in sorted(glob.glob(os.path.join(pyenv_root(), "versions", "3.*")), key=version_key):
        for lib in sorted(glob.glob(os.path.join(version, "lib", "python3.*"))):
            if os.path.isdir(lib):
                trees.append((f"stdlib {os.path.basename(version)}", lib))
    return trees


def generated_tree(out, large, files):
    cmd = [sys.executable, os.path.join(HERE, "make_tree.py"), out]
    cmd += ["--large"] if large else ["--files", str(files)]
    subprocess.run(cmd, check=True)
    return out


# ---------------------------------------------------------------------------------------
# Checks (untimed): the same lines for rg and the line rule, the same names for both scans


def python_line_counts(root):
    """Per-file counts of candidate lines and of lines that pass the whole rule, with the
    walk, filter and reading of pyscan; files that are not UTF-8 are left out."""
    counts = {}
    for directory, _, files in os.walk(os.fsencode(root)):
        for name in files:
            if not pyscan._has_python_extension(name):
                continue
            path = os.path.join(directory, name)
            try:
                with open(path, "rb") as f:
                    text = f.read().decode("utf-8")
            except (OSError, UnicodeDecodeError):
                continue
            lines = text.split("\n")
            cand = sum(1 for line in lines if PY_CANDIDATE.match(line))
            rule = sum(1 for line in lines if pyscan._LINE.match(line))
            counts[path] = (cand, rule)
    return counts


def rg_counts(tools, pattern, root):
    out = run(tools.rg_cmd(pattern, root)).out
    counts = {}
    for line in out.splitlines():
        path, _, n = line.rpartition(b":")
        counts[path] = int(n)
    return counts


def check_tree(tools, root):
    py = python_line_counts(root)
    report = {"files": len(py)}
    for index, (label, pattern) in enumerate((("candidate", RG_CANDIDATE), ("rule", RG_RULE))):
        rg = rg_counts(tools, pattern, root)
        mine = {p: c[index] for p, c in py.items() if c[index]}
        differ = sorted(p for p in set(rg) | set(mine) if rg.get(p, 0) != mine.get(p, 0))
        report[label] = {
            "rg": sum(rg.values()),
            "python": sum(mine.values()),
            "differ": len(differ),
            "examples": [
                f"{os.fsdecode(p)} (rg {rg.get(p, 0)}, rule {mine.get(p, 0)})" for p in differ[:3]
            ],
        }
    names_native = run([tools.driver, "--", root]).out.decode().split()
    names_python = pyscan.scan_roots([root])
    report["names"] = len(names_native)
    report["names_agree"] = names_native == names_python
    return report


# ---------------------------------------------------------------------------------------
# Sampling


def sample_tree(tools, root, rounds, python_rounds, with_rule):
    names = ["floor", "scan", "rg"] + (["rg_rule"] if with_rule else []) + ["python"]
    methods = {
        "floor": tools.floor,
        "scan": tools.scan,
        "rg": tools.rg_candidate,
        "rg_rule": tools.rg_rule,
        "python": tools.python,
    }
    samples = [dict() for _ in range(rounds)]
    for i in range(rounds):
        order = names[i % len(names):] + names[: i % len(names)]
        for name in order:
            if name == "python" and i >= python_rounds:
                continue
            tools.warm(root)
            samples[i][name] = methods[name](root)
        log(f"  round {i + 1}/{rounds}: " + ", ".join(
            f"{n} {samples[i][n].get('in', samples[i][n].get('proc')) * 1000:.0f}"
            for n in names if n in samples[i]) + " ms")
    return samples


def median_of(samples, tool, key):
    values = [s[tool][key] for s in samples if tool in s]
    return statistics.median(values) if values else None


def paired_ratio(samples, top, bottom, top_key, bottom_key):
    values = [s[top][top_key] / s[bottom][bottom_key] for s in samples if top in s and bottom in s]
    return statistics.median(values) if values else None


# ---------------------------------------------------------------------------------------
# Report


def ms(seconds):
    return "–" if seconds is None else f"{seconds * 1000:.1f}" if seconds < 1 else f"{seconds * 1000:.0f}"


def ratio(value):
    return "–" if value is None else f"{value:.2f}×"


def machine_lines(tools):
    cpu = ""
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    rg_version = run([tools.rg, "--version"]).out.decode().splitlines()[0]
    try:
        rev = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--", "src"],
                               capture_output=True, text=True).stdout.strip()
        rev += " (src modified)" if dirty else ""
    except OSError:
        rev = "?"
    return [
        f"- date: {datetime.datetime.now().isoformat(timespec='seconds')}",
        f"- machine: {platform.node()}, {os.cpu_count()} CPUs, {cpu}, Linux {platform.release()}",
        f"- driver: {os.path.relpath(tools.driver, REPO)} at {rev}; {rg_version}; "
        f"pure Python on {platform.python_implementation()} {platform.python_version()}",
    ]


def report(tools, results, rounds, baseline_rss):
    lines = ["# vornu-scan benchmark", ""] + machine_lines(tools) + [
        f"- samples: {rounds} interleaved rounds per tree (pure Python: see the column), "
        "tree re-read untimed before each sample; medians; ratios are medians of per-round ratios",
        "",
        "## In-process (the driver's own --time; pure Python timed around scan_roots)",
        "",
        "| tree | .py files | MB | floor ms | scan ms | scan/floor | floor µs/file | floor GB/s "
        "| python ms (n) | python/scan |",
        "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|",
    ]
    for r in results:
        s = r["samples"]
        floor = median_of(s, "floor", "in")
        n_py = sum(1 for x in s if "python" in x)
        lines.append(
            f"| {r['name']} | {r['check']['files']} | {r['bytes'] / 1e6:.0f} | {ms(floor)} "
            f"| {ms(median_of(s, 'scan', 'in'))} | {ratio(paired_ratio(s, 'scan', 'floor', 'in', 'in'))} "
            f"| {floor * 1e6 / max(1, r['check']['files']):.1f} | {r['bytes'] / floor / 1e9:.2f} "
            f"| {ms(median_of(s, 'python', 'in'))} ({n_py}) "
            f"| {ratio(paired_ratio(s, 'python', 'scan', 'in', 'in'))} |")
    lines += [
        "",
        "## Whole process (wall clock from spawn to exit, every tool the same way)",
        "",
        "| tree | floor ms | scan ms | scan/floor | rg -j1 ms | rg/scan | rg/floor "
        "| rg -j1 full rule ms | rule/scan |",
        "|---|--:|--:|--:|--:|--:|--:|--:|--:|",
    ]
    for r in results:
        s = r["samples"]
        lines.append(
            f"| {r['name']} | {ms(median_of(s, 'floor', 'proc'))} | {ms(median_of(s, 'scan', 'proc'))} "
            f"| {ratio(paired_ratio(s, 'scan', 'floor', 'proc', 'proc'))} "
            f"| {ms(median_of(s, 'rg', 'proc'))} | {ratio(paired_ratio(s, 'rg', 'scan', 'proc', 'proc'))} "
            f"| {ratio(paired_ratio(s, 'rg', 'floor', 'proc', 'proc'))} "
            f"| {ms(median_of(s, 'rg_rule', 'proc'))} "
            f"| {ratio(paired_ratio(s, 'rg_rule', 'scan', 'proc', 'proc'))} |")
    lines += [
        "",
        f"## Peak RSS (GNU time's maximum resident set; the driver on an empty directory: {baseline_rss} KiB)",
        "",
        "| tree | largest file MB | floor KiB | scan KiB | scan − empty run KiB | rg -j1 KiB |",
        "|---|--:|--:|--:|--:|--:|",
    ]
    for r in results:
        peak = r["rss"]
        lines.append(
            f"| {r['name']} | {r['largest'] / 1e6:.1f} | {peak['floor']} | {peak['scan']} "
            f"| {peak['scan'] - baseline_rss} | {peak['rg']} |")
    lines += [
        "",
        "## Checks (untimed)",
        "",
        "Lines counted by rg against the same patterns applied by pure Python to each UTF-8 file "
        "split at LF; names of the native scan against the pure-Python scan.",
        "",
        "| tree | names | names agree | candidate lines rg / rule | files differ "
        "| rule lines rg / rule | files differ | examples |",
        "|---|--:|---|--:|--:|--:|--:|---|",
    ]
    for r in results:
        c = r["check"]
        examples = "; ".join(c["candidate"]["examples"] + c["rule"]["examples"])[:300]
        lines.append(
            f"| {r['name']} | {c['names']} | {'yes' if c['names_agree'] else '**NO**'} "
            f"| {c['candidate']['rg']} / {c['candidate']['python']} | {c['candidate']['differ']} "
            f"| {c['rule']['rg']} / {c['rule']['python']} | {c['rule']['differ']} | {examples} |")
    return "\n".join(lines) + "\n"


def largest_python_file(root):
    largest = 0
    for directory, _, files in os.walk(root):
        for name in files:
            if name.endswith(".py"):
                try:
                    largest = max(largest, os.path.getsize(os.path.join(directory, name)))
                except OSError:
                    pass
    return largest


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", default=os.path.join(REPO, "build-bench", "vornu-scan"))
    parser.add_argument("--rg", default=shutil.which("rg") or "rg")
    parser.add_argument("--rounds", type=int, default=11, help="samples per tool and tree")
    parser.add_argument("--python-rounds", type=int, default=None,
                        help="pure-Python samples per tree (default 5; 3 on trees over 200 MB)")
    parser.add_argument("--trees", default="stdlib,small,large",
                        help="comma list of: stdlib, small (100k files), large (tens of MB)")
    parser.add_argument("--only", default=None, help="regular expression on the tree names")
    parser.add_argument("--files", type=int, default=100_000, help="files in the generated small tree")
    parser.add_argument("--tree-dir", default=os.path.join(HERE, "out", "trees"))
    parser.add_argument("--no-rule", action="store_true", help="skip the rg full-rule samples")
    args = parser.parse_args(argv)

    if not os.access(args.driver, os.X_OK):
        sys.exit(f"no driver at {args.driver}; build it first (bench/run does)")
    tools = Tools(os.path.abspath(args.driver), args.rg)
    kinds = args.trees.split(",")
    trees = []
    if "stdlib" in kinds:
        trees += stdlib_trees()
    if "small" in kinds:
        trees.append((f"generated {args.files // 1000}k files",
                      generated_tree(os.path.join(args.tree_dir, f"small-{args.files}"), False, args.files)))
    if "large" in kinds:
        trees.append(("generated large files", generated_tree(os.path.join(args.tree_dir, "large"), True, 0)))
    if args.only:
        trees = [t for t in trees if re.search(args.only, t[0])]
    if not trees:
        sys.exit("no trees to measure")

    empty = os.path.join(args.tree_dir, "empty")
    os.makedirs(empty, exist_ok=True)
    baseline_rss = peak_rss_kb([tools.driver, "--", empty])

    results = []
    for name, root in trees:
        log(f"{name}: {root}")
        tools.warm(root)
        bytes_read = int(run([tools.driver, "--floor", "--", root]).out)
        check = check_tree(tools, root)
        python_rounds = args.python_rounds
        if python_rounds is None:
            python_rounds = 3 if bytes_read > 200e6 else 5
        samples = sample_tree(tools, root, args.rounds, min(python_rounds, args.rounds), not args.no_rule)
        rss = {}
        for tool, cmd in (("floor", [tools.driver, "--floor", "--", root]),
                          ("scan", [tools.driver, "--", root]),
                          ("rg", tools.rg_cmd(RG_CANDIDATE, root))):
            tools.warm(root)
            rss[tool] = peak_rss_kb(cmd)
        results.append({"name": name, "root": root, "bytes": bytes_read, "check": check,
                        "largest": largest_python_file(root), "samples": samples, "rss": rss})

    text = report(tools, results, args.rounds, baseline_rss)
    print(text)
    out_dir = os.path.join(HERE, "out")
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, datetime.datetime.now().strftime("bench-%Y%m%d-%H%M%S.md"))
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    log(f"written to {os.path.relpath(path, REPO)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
