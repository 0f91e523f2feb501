"""One-line messages of the commands, on standard error."""

from __future__ import annotations

import sys


def say(line: str) -> None:
    """Writes one line to standard error, if the command was started with one (`print`
    would write to standard output instead)."""
    if sys.stderr is not None:
        sys.stderr.write(line + "\n")


def shown(path: str) -> str:
    """`path` for a one-line message: as it is, or quoted like a Python string literal
    where it holds a line feed or another character that is not printable."""
    return path if path.isprintable() else repr(path)
