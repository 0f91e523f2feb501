"""examples/dask_scan.py on a local cluster of two worker processes equals one direct call.

The example runs in a child process of its own, so that no cluster state outlives it in
the process of the other tests.
"""

from __future__ import annotations

import importlib.util
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

from conftest import require, write_tree

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "dask_scan.py"


def run_example(roots: list[str], shard_size: int) -> list[str]:
    require(importlib.util.find_spec("distributed") is not None, "dask.distributed")
    result = subprocess.run(
        [sys.executable, str(EXAMPLE), "--workers", "2", "--shard-size", str(shard_size), *roots],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    assert ", 2 workers, " in result.stderr.splitlines()[-1], result.stderr
    return result.stdout.splitlines()


def linked_tree(root: Path) -> list[str]:
    """Roots whose entries a split must treat as the walk does: a directory link (not
    followed below a root), a file link (followed), a directory named like a module, a
    file that is not Python, a file root and a root that does not exist."""
    write_tree(
        root,
        {
            "a/top.py": "import alpha\nfrom .x import y\n",
            "a/deep/er/m.py": "import beta.sub\n",
            "a/odd.py/inner.py": "import gamma\n",
            "a/notes.txt": "import not_read\n",
            "outside/linked_dir/m.py": "import only_through_dir_link\n",
            "outside/f.py": "import through_file_link\n",
            "b.py": "import delta\n",
        },
    )
    os.symlink(root / "outside" / "linked_dir", root / "a" / "dir_link")
    os.symlink(root / "outside" / "linked_dir", root / "a" / "dir_link.py")
    os.symlink(root / "outside" / "f.py", root / "a" / "file_link.py")
    return [str(root / "a"), str(root / "b.py"), str(root / "missing")]


@pytest.mark.parametrize("shard_size", [1, 100])
def test_sharded_scan_equals_one_call(vornu_core, tmp_path: Path, shard_size: int) -> None:
    roots = linked_tree(tmp_path)
    direct = vornu_core.scan_imports(roots)
    assert direct == ["alpha", "beta", "delta", "gamma", "through_file_link"]
    assert run_example(roots, shard_size) == direct


def test_standard_library_on_the_cluster(vornu_core) -> None:
    stdlib = sysconfig.get_path("stdlib")
    assert run_example([stdlib], 16) == vornu_core.scan_imports([stdlib])
