"""docs/performance.md from the report's samples."""

import datetime
import statistics


def median(values):
    return statistics.median(values) if values else float("nan")


def ratio(samples, top, bottom):
    pairs = list(zip(samples[top], samples[bottom]))
    return median([a / b for a, b in pairs]) if pairs else float("nan")


def ms(seconds):
    return f"{seconds * 1000:.1f}" if seconds < 10 else f"{seconds:.1f} s"


def on_machine(report):
    """The line that names the machine above every table."""
    info = report["info"]
    return (f"On {info['cpu']}, {info['cores']} CPUs, Linux {info['linux']}; "
            f"search kernel `{info['kernel']}`:")


def tree_tables(report):
    lines = [
        "## Against the read floors",
        "",
        "In-process times of `vornu-scan` (`--time`): the **lean floor** opens each file, asks its",
        "size, reads it in 64 KiB pieces up to that size and closes it; the **plain floor** reads",
        "until a read returns nothing. Both walk the same tree the same way, on the same pool.",
        "",
        on_machine(report),
        "",
        "| tree | .py files | MB | lean floor ms | plain floor ms | scan ms | scan / faster floor |",
        "|---|--:|--:|--:|--:|--:|--:|",
    ]
    for tree in report["trees"]:
        s = tree["samples"]
        floor = "lean" if median(s["lean"]) <= median(s["plain"]) else "plain"
        lines.append(f"| {tree['name']} | {tree['files']:,} | {tree['bytes'] / 1e6:.0f} | {ms(median(s['lean']))} "
                     f"| {ms(median(s['plain']))} | {ms(median(s['scan']))} | {ratio(s, 'scan', floor):.2f} |")
    lines += [
        "",
        "## The whole job, as a user runs it",
        "",
        "`python -c 'import vornu_core; …'` as a whole process, against ripgrep on every thread",
        "piped into `awk | sort -u` to the same names, and against the pure-Python scan of",
        "`tests/pyscan.py` timed in-process (and compared with the module's in-process scan).",
        "",
        on_machine(report),
        "",
        "| tree | module, process ms | rg pipeline ms | rg / module | pure Python ms | pure Python / scan | names agree |",
        "|---|--:|--:|--:|--:|--:|---|",
    ]
    for tree in report["trees"]:
        s, check = tree["samples"], tree["check"]
        agree = "yes" if check["same_as_python"] else "**no**"
        if check["rg_only"] or check["module_only"]:
            agree += f" (rg differs by {len(check['rg_only'])} + {len(check['module_only'])} names)"
        lines.append(f"| {tree['name']} | {ms(median(s['process']))} | {ms(median(s['ripgrep']))} "
                     f"| {ratio(s, 'ripgrep', 'process'):.1f} | {ms(median(s['python']))} "
                     f"| {median(s['python']) / median(s['scan']):.0f} | {agree} |")
    return lines


def check_table(report):
    """`vornu-imports check` against `deptry`, the whole commands checking a project's
    dependencies (bench/check_vs_deptry.py)."""
    import check_vs_deptry

    check = report.get("check", {})
    lines = ["## `vornu-imports check` against deptry", ""]
    if "results" not in check:
        return lines + [f"Not measured: {check.get('note', 'no run')}."]
    rounds = len(check["results"][0]["check_samples"]) if check["results"] else 0
    lines += [
        "The whole commands on the same files, from one venv that has both: `vornu-imports check",
        "--no-git --json .` and `deptry . --exclude '^$'` (deptry's default excludes, which leave",
        f"out `tests`, overridden), {rounds} interleaved rounds, medians, each sample after an untimed",
        "read of the tree. Findings are compared as (kind, name); every difference is explained in",
        "[check-vs-deptry.md](check-vs-deptry.md). The last column is the machine's load average",
        "before and after.",
        "",
        on_machine(report),
        "",
    ]
    return lines + check_vs_deptry.table(check["results"])


def peer_names(check):
    if "deptry_files" not in check:
        return ""
    return (f"{check['deptry_files']:,} files; deptry differs by {len(check['deptry_only'])} + "
            f"{len(check['not_deptry'])} names")


def peer_table(report):
    peers = report["peers"]
    lines = ["## Against the tools users would pick instead", ""]
    missing = [name for name, version in peers.items() if not version]
    if missing:
        lines += [f"Not measured: {' and '.join(missing)} could not be installed from PyPI into the "
                  "bench's venv (`bench/peer-requirements.txt`); PyPI was probably out of reach.", ""]
    if len(missing) == len(peers):
        return lines
    versions = ", ".join(f"{name} {version}" for name, version in peers.items() if version)
    lines += [
        f"Peers: {versions}. **deptry's import extraction** is its own finding of the `.py`",
        "files (its Rust walker, default excludes off) and its Rust extension parsing each file",
        "for its imports, on every thread, timed inside a process of its own (`bench/peers.py`),",
        "against the scan in-process. **`ruff analyze graph`** maps each file to the files it",
        "imports, parsing each; it is timed as a whole process, against the module's whole",
        "process. The parsers skip files that are not valid Python (the generated trees hold",
        "some), and name what a parse finds rather than what the line rule finds, so their names",
        "differ: the last column counts deptry's names that the scan lacks, and the scan's that",
        "deptry lacks.",
        "",
        on_machine(report),
        "",
        "| tree | scan ms | deptry extraction ms | deptry / scan | module, process ms "
        "| `ruff analyze graph` ms | ruff / module | deptry's reading |",
        "|---|--:|--:|--:|--:|--:|--:|---|",
    ]
    for tree in report["trees"]:
        s = tree["samples"]
        deptry = (f"{ms(median(s['deptry']))} | {ratio(s, 'deptry', 'scan'):.0f}" if s.get("deptry") else "– | –")
        ruff = (f"{ms(median(s['ruff']))} | {ratio(s, 'ruff', 'process'):.1f}" if s.get("ruff") else "– | –")
        lines.append(f"| {tree['name']} | {ms(median(s['scan']))} | {deptry} | {ms(median(s['process']))} | {ruff} "
                     f"| {peer_names(tree['check'])} |")
    return lines


def markdown(report):
    info = report["info"]
    lines = [
        "# Performance",
        "",
        f"Measured {datetime.date.today().isoformat()} by `bench/report` on {info['cpu']}, "
        f"{info['cores']} CPUs, Linux {info['linux']}; search kernel `{info['kernel']}`. "
        f"{report['rounds']} interleaved rounds (pure Python: {report['python_rounds']}; deptry: "
        f"{report['peer_rounds']}), each "
        "sample after an untimed read of its tree; medians, and medians of per-round ratios.",
        "The machine is a shared virtual one: read the ratios, which are taken side by side,",
        "rather than the absolute times.",
        "",
    ]
    lines += tree_tables(report)
    lines += [""] + peer_table(report)
    lines += [""] + check_table(report)
    lines += [
        "",
        "## Plots",
        "",
        "![time per file](performance-files.png)",
        "",
        "![throughput by file size](performance-size.png)",
        "",
        "![many roots by workers](performance-workers.png)",
        "",
        "The ripgrep lines are whole processes (their start included), which dominates the",
        "smallest trees; the others are in-process times.",
    ]
    return "\n".join(lines) + "\n"
