"""Shared helpers for the tests of the vornu_core extension module."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Callable

import pytest


@pytest.fixture(scope="session")
def vornu_core():
    import vornu_core

    return vornu_core


def write_tree(root: Path, files: dict[str, str]) -> Path:
    """Creates `files` (relative path -> text) below `root` and returns `root`."""
    for relative, text in files.items():
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    return root


@pytest.fixture
def make_tree(tmp_path: Path) -> Callable[[dict[str, str]], Path]:
    counter = iter(range(1_000_000))

    def make(files: dict[str, str]) -> Path:
        return write_tree(tmp_path / f"tree{next(counter)}", files)

    return make


def run_child(code: str, *, env_update: dict[str, str] | None = None, timeout: float = 120) -> subprocess.CompletedProcess[str]:
    """Runs `code` in a fresh interpreter of the same Python, with the same environment
    (so a sanitizer preload or a PYTHONPATH to a build tree carries over)."""
    env = dict(os.environ)
    if env_update:
        env.update(env_update)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def under_sanitizer() -> bool:
    return "asan" in os.environ.get("LD_PRELOAD", "")


def require(present: bool, what: str) -> None:
    """Skips a test whose dependency is missing, except in the run against an installed
    wheel (scripts/wheels sets VORNU_TEST_WHEEL), where everything must be there."""
    if present:
        return
    if os.environ.get("VORNU_TEST_WHEEL"):
        pytest.fail(f"{what} is missing from the wheel's test environment")
    pytest.skip(f"{what} is not installed here")
