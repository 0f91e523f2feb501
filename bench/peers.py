"""The import extraction of deptry, timed in a process of its own.

    python peers.py ROOT...      # in the bench venv, where deptry is installed

Prints one line of JSON: the seconds of deptry's own work (finding the .py files under the
roots with its Rust walker, without its default excludes, then extracting their imports
with its Rust extension, both on every thread), the number of files, and the top-level
names it found. deptry warns on standard error about every file it cannot parse; the
report throws that away. Run apart from the report, so its warnings, threads and memory
never mix with the other methods' samples.
"""

import json
import sys
import time
from pathlib import Path

from deptry.rust import find_python_files, get_imports_from_py_files


def main():
    roots = tuple(Path(root) for root in sys.argv[1:])
    start = time.perf_counter()
    files = find_python_files(roots, (), (), False)
    names = get_imports_from_py_files(files)
    seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "files": len(files), "names": sorted(names)}))


if __name__ == "__main__":
    main()
