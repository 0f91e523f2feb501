"""Type checkers see the installed stub package vornu_core-stubs."""

from __future__ import annotations

import re
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

GOOD = """
from collections.abc import Sequence

import vornu_core
from vornu_core import scan_imports


def modules_of(roots: Sequence[str]) -> list[str]:
    return scan_imports(roots)


names: list[str] = scan_imports(["src", "tests"])
more: list[str] = vornu_core.scan_imports(paths=("a",))
exported: list[str] = vornu_core.__all__
reveal_type(scan_imports)
"""

BAD = """
from vornu_core import scan_imports

count: int = scan_imports(["src"])
scan_imports([1, 2])
scan_imports()
scan_imports(["a"], root="b")
"""


def stubs_installed() -> bool:
    return (Path(sysconfig.get_paths()["purelib"]) / "vornu_core-stubs" / "__init__.pyi").is_file()


pytestmark = [
    pytest.mark.skipif(not stubs_installed(), reason="vornu_core-stubs is not installed in this environment"),
]


def run_mypy(tmp_path: Path, source: str) -> subprocess.CompletedProcess[str]:
    pytest.importorskip("mypy")
    script = tmp_path / "user_script.py"
    script.write_text(textwrap.dedent(source))
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"), str(script)],
        capture_output=True,
        text=True,
        cwd=tmp_path,
    )


def test_mypy_accepts_correct_use(tmp_path: Path) -> None:
    result = run_mypy(tmp_path, GOOD)
    assert result.returncode == 0, result.stdout + result.stderr
    # Older mypy versions spell builtins out; both name the same types.
    revealed = re.search(r'Revealed type is "(.*)"', result.stdout)
    assert revealed is not None, result.stdout
    assert revealed.group(1).replace("builtins.", "") == "def (paths: typing.Sequence[str]) -> list[str]"


def test_mypy_reports_wrong_use(tmp_path: Path) -> None:
    result = run_mypy(tmp_path, BAD)
    assert result.returncode == 1, result.stdout + result.stderr
    out = result.stdout
    assert 'Incompatible types in assignment (expression has type "list[str]", variable has type "int")' in out
    assert 'List item 0 has incompatible type "int"; expected "str"' in out
    assert 'Missing positional argument "paths" in call to "scan_imports"' in out
    assert 'Unexpected keyword argument "root" for "scan_imports"' in out
    error_lines = {int(match) for match in re.findall(r"user_script\.py:(\d+): error:", out)}
    assert error_lines == {4, 5, 6, 7}, out


def test_command_line_package_checks_strictly(tmp_path: Path) -> None:
    # The installed companion package is typed (without py.typed mypy would refuse to
    # analyse it) and clean under --strict.
    pytest.importorskip("mypy")
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         "-p", "vornu_imports"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.startswith("Success: no issues found")
