"""Scan a corpus too large for one machine on a Dask cluster.

The set of imported names is a union, and a union does not care how its parts are
grouped, so the corpus is split into shards of roots, each shard is scanned by one call
of `vornu_core.scan_imports` on some worker, and the shards' names are unioned. The
result equals one call over all the roots. Every worker needs vornu_core installed and
the same paths visible (a shared file system, or the same checkout on every machine).

    python examples/dask_scan.py [--scheduler ADDRESS] [--workers N] [--shard-size K] [ROOT ...]

Without --scheduler it starts a local cluster of N worker processes; without ROOT it
scans the standard library of the running Python. See docs/scale-out.md.
"""

from __future__ import annotations

import argparse
import os
import sys
import sysconfig
import time
from collections.abc import Iterator, Sequence

import vornu_core
from distributed import Client, LocalCluster, as_completed


def split_roots(roots: Sequence[str]) -> list[str]:
    """Replaces each directory root by its entries, one level down, so that a single large
    tree spreads over many shards. The result scans to the same names: a directory link
    below a root is not followed by the scan, so it is left out here too (as a root of
    its own it would be followed), and files other than *.py would not be read anyway."""
    split: list[str] = []
    for root in roots:
        if not os.path.isdir(root):
            split.append(root)
            continue
        try:
            entries = list(os.scandir(root))
        except OSError:
            continue  # the scan skips a directory it cannot list, without a word
        for entry in entries:
            if entry.is_dir(follow_symlinks=False):
                split.append(entry.path)
            elif entry.name.endswith(".py") and not (entry.is_symlink() and entry.is_dir()):
                split.append(entry.path)
    return split


def shards(roots: Sequence[str], size: int) -> Iterator[list[str]]:
    for start in range(0, len(roots), size):
        yield list(roots[start : start + size])


def scan_on_cluster(client: Client, roots: Sequence[str], shard_size: int) -> list[str]:
    """The same list as `vornu_core.scan_imports(roots)`, computed shard by shard on the
    cluster's workers. The shards' results are small (names only), so they are unioned
    here as they arrive."""
    futures = client.map(vornu_core.scan_imports, list(shards(split_roots(roots), shard_size)), pure=False)
    names: set[str] = set()
    for _, shard_names in as_completed(futures, with_results=True):
        names.update(shard_names)
    return sorted(names)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("roots", nargs="*", metavar="ROOT")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("--shard-size", type=int, default=64, help="roots per task")
    arguments = parser.parse_args(argv)
    roots = arguments.roots or [sysconfig.get_path("stdlib")]

    start = time.perf_counter()
    if arguments.scheduler:
        with Client(arguments.scheduler) as client:
            names = scan_on_cluster(client, roots, arguments.shard_size)
            workers = len(client.scheduler_info()["workers"])
    else:
        # One scanning thread per worker process: the workers already run side by side.
        os.environ.setdefault("RAYON_NUM_THREADS", "1")
        with LocalCluster(n_workers=arguments.workers, threads_per_worker=1, dashboard_address=None) as cluster:
            with Client(cluster) as client:
                client.wait_for_workers(arguments.workers)
                names = scan_on_cluster(client, roots, arguments.shard_size)
                workers = len(client.scheduler_info()["workers"])
    print("\n".join(names))
    took = time.perf_counter() - start
    print(f"{len(names)} modules, {workers} workers, {took:.2f} s", file=sys.stderr)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
