"""The report's three plots (matplotlib, PNG): time per file against the number of files,
GB/s against file size, and the time of many roots against the number of workers."""

import os
import statistics

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# Label and style of each method that the plots show.
SHOWN = {
    "scan": ("scan (in-process)", "o-"),
    "lean": ("lean read floor (in-process)", "s--"),
    "ripgrep": ("ripgrep | awk | sort -u (whole process)", "^-."),
    "python": ("pure-Python scan (in-process)", "v:"),
}


def medians(series, method, per):
    """(x, y) pairs of the medians of `method`, y computed from the median by `per`."""
    points = []
    for x, weight, samples in series:
        if samples.get(method):
            points.append((x, per(statistics.median(samples[method]), weight)))
    return zip(*points) if points else ((), ())


def figure(path, title, xlabel, ylabel, series, per, logy=True):
    fig, axes = plt.subplots(figsize=(7.5, 4.8))
    for method, (label, style) in SHOWN.items():
        xs, ys = medians(series, method, per)
        if xs:
            axes.plot(xs, ys, style, label=label)
    axes.set_xscale("log")
    if logy:
        axes.set_yscale("log")
    axes.set_xlabel(xlabel)
    axes.set_ylabel(ylabel)
    axes.set_title(title, fontsize=9)
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def draw(report, machine, out):
    figure(os.path.join(out, "performance-files.png"), f"Time per file, small generated files — {machine}",
           "files in the tree", "µs per file",
           [(n, n, samples) for n, samples in report["by_count"]], lambda s, n: s / n * 1e6)
    figure(os.path.join(out, "performance-size.png"), f"Throughput by file size — {machine}",
           "bytes per file", "GB/s", [(size, total, samples) for size, total, samples in report["by_size"]],
           lambda s, total: total / s / 1e9)
    workers = report["by_workers"]
    fig, axes = plt.subplots(figsize=(7.5, 4.8))
    for method, (label, style) in SHOWN.items():
        points = [(w, statistics.median(s[method]) * 1000) for w, s in workers if s.get(method)]
        if method == "python" and points:
            axes.axhline(points[0][1], linestyle=":", color="grey", label=label + ", one thread")
        elif points:
            axes.plot(*zip(*points), style, label=label)
    axes.set_xticks([w for w, _ in workers])
    axes.set_xlabel("workers (RAYON_NUM_THREADS; ripgrep -j)")
    axes.set_ylabel("ms")
    axes.set_yscale("log")
    axes.set_title(f"{len(report['trees'][-1]['roots'])} roots of 100 files — {machine}", fontsize=9)
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(out, "performance-workers.png"), dpi=110)
    plt.close(fig)
