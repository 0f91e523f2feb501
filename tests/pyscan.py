"""The scan written in plain Python with os.walk, as a user would write it.

Used as the pure-Python reference in the benchmarks and as an independent second
opinion in the differential tests. Same rules as the native scan: a line counts if,
after leading Unicode white space, it starts with "import " or "from " and the first
white-space-delimited token's part before its first full stop is an ASCII identifier.
"""

import os
import re
import stat
import sys

# Unicode White_Space (str.isspace also accepts U+001C..U+001F, which are not).
_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000"
_LINE = re.compile(
    rf"^[{_SPACE}]*(?:import |from )[{_SPACE}]*([A-Za-z_][A-Za-z0-9_]*)(?:$|[.{_SPACE}])"
)


def names_in_text(text):
    names = set()
    for line in text.split("\n"):
        match = _LINE.match(line)
        if match:
            names.add(match.group(1))
    return names


def _has_python_extension(name):
    dot = name.rfind(b".")
    return dot > 0 and name[dot + 1 :] == b"py"


def _read_names(path, names):
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return
        with open(path, "rb") as f:
            data = f.read()
        names |= names_in_text(data.decode("utf-8"))
    except (OSError, UnicodeDecodeError, ValueError):
        pass


def scan_root(root):
    names = set()
    if not root or "\0" in root:
        return names
    top = os.fsencode(root)
    try:
        mode = os.stat(top).st_mode
    except (OSError, ValueError):
        return names
    if stat.S_ISREG(mode):
        if _has_python_extension(top.rsplit(b"/", 1)[-1]):
            _read_names(top, names)
        return names
    for directory, _, files in os.walk(top):
        for name in files:
            if _has_python_extension(name):
                _read_names(os.path.join(directory, name), names)
    return names


def scan_roots(roots):
    names = set()
    for root in roots:
        names |= scan_root(root)
    return sorted(names)


if __name__ == "__main__":
    for name in scan_roots(sys.argv[1:]):
        print(name)
