"""A small, slow, independent model of what scan_imports computes, for comparing results."""

from __future__ import annotations

import os

WHITE_SPACE = frozenset(
    "\u0009\u000a\u000b\u000c\u000d\u0020\u0085\u00a0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)
IDENT_START = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_")
IDENT_REST = IDENT_START | frozenset("0123456789")


def is_valid_ident(text: str) -> bool:
    return bool(text) and text[0] in IDENT_START and all(c in IDENT_REST for c in text[1:])


def import_root_of_line(line: str) -> str | None:
    i = 0
    while i < len(line) and line[i] in WHITE_SPACE:
        i += 1
    stripped = line[i:]
    if stripped.startswith("import "):
        rest = stripped[7:]
    elif stripped.startswith("from "):
        rest = stripped[5:]
    else:
        return None
    j = 0
    while j < len(rest) and rest[j] in WHITE_SPACE:
        j += 1
    k = j
    while k < len(rest) and rest[k] not in WHITE_SPACE:
        k += 1
    token = rest[j:k]
    if not token:
        return None
    head = token.split(".", 1)[0]
    return head if is_valid_ident(head) else None


def lines_of(text: str) -> list[str]:
    pieces = text.split("\n")
    final = pieces.pop()  # what follows the last line feed keeps a trailing "\r"
    lines = [piece[:-1] if piece.endswith("\r") else piece for piece in pieces]
    if final:
        lines.append(final)
    return lines


def scan_file(path: str, names: set[str]) -> None:
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
    except (OSError, UnicodeDecodeError):
        return
    for line in lines_of(text):
        name = import_root_of_line(line)
        if name is not None:
            names.add(name)


def is_python_file(path: str) -> bool:
    base = os.path.basename(path)
    stem, dot, ext = base.rpartition(".")
    return bool(dot) and bool(stem) and ext == "py" and os.path.isfile(path)


def scan_root(root: str, names: set[str]) -> None:
    if is_python_file(root):
        scan_file(root, names)
    if not os.path.isdir(root):
        return
    for directory, subdirs, files in os.walk(root, followlinks=False):
        for entry in subdirs + files:
            path = os.path.join(directory, entry)
            if is_python_file(path):
                scan_file(path, names)


def scan_imports(paths: list[str]) -> list[str]:
    names: set[str] = set()
    for root in paths:
        scan_root(root, names)
    return sorted(names)
