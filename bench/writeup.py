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


def tree_tables(report):
    lines = [
        "## Against the read floors",
        "",
        "In-process times of `vornu-scan` (`--time`): the **lean floor** opens each file, asks its",
        "size, reads it in 64 KiB pieces up to that size and closes it; the **plain floor** reads",
        "until a read returns nothing. Both walk the same tree the same way, on the same pool.",
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


def markdown(report):
    info = report["info"]
    lines = [
        "# Performance",
        "",
        f"Measured {datetime.date.today().isoformat()} by `bench/report` on {info['cpu']}, "
        f"{info['cores']} CPUs, Linux {info['linux']}; search kernel `{info['kernel']}`. "
        f"{report['rounds']} interleaved rounds (pure Python: {report['python_rounds']}), each "
        "sample after an untimed read of its tree; medians, and medians of per-round ratios.",
        "The machine is a shared virtual one: read the ratios, which are taken side by side,",
        "rather than the absolute times.",
        "",
    ]
    lines += tree_tables(report)
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
