"""Generates deterministic trees of Python source for the benchmarks.

    python make_tree.py OUT                 # about 100,000 small files (0.5-8 KB)
    python make_tree.py --large OUT         # a few files of tens of MB each
    python make_tree.py --files 5000 OUT    # a smaller tree of small files

The small-file tree is nested three levels deep, package/sub/leaf, with about 100
files per leaf directory plus a few files that are not Python. The text looks like
ordinary source: a docstring, a handful of import lines (plain, dotted, aliased,
relative, from __future__), classes and functions with indented code, comments,
some of them non-ASCII, local imports inside functions, and a few CRLF files.
Everything comes from one seeded generator, so the same arguments give the same
bytes on every machine.

A stamp file in OUT records the parameters of a complete tree; when it matches, the
tree is left as it is. OUT is only ever cleared if it holds a tree made by this
script (or is empty).
"""

import argparse
import json
import math
import os
import random
import shutil
import sys

FORMAT = 2  # bump when the generated text changes
STAMP = ".vornu-bench-tree-complete"
MARKER = ".vornu-bench-tree"

STDLIB = (
    "os sys re json time typing collections itertools functools dataclasses pathlib "
    "logging subprocess threading asyncio contextlib abc enum math random hashlib "
    "struct io shutil tempfile unittest argparse datetime textwrap warnings weakref "
    "copy inspect operator string socket select signal heapq bisect array queue"
).split()
THIRD_PARTY = (
    "numpy pandas requests attr pytest click yaml jinja2 sqlalchemy django flask "
    "pydantic aiohttp scipy matplotlib"
).split()
WORDS = (
    "alpha beta gamma delta core util helper config model view store cache index "
    "parser token stream buffer client server handler worker task queue record field "
    "schema loader writer reader report table node graph event signal plugin"
).split()
NON_ASCII = (
    "# café, naïve, façade — résumé",
    "# Größe der Übergabe prüfen",
    "# 日本語のコメント: 値を確認する",
    "# “quoted” — ‘single’ … ellipsis",
    "# Ελληνικά: έλεγχος τιμής",
    "# проверка значения перед записью",
    "# ✓ done; ✗ not yet 🚀",
    "# x → y ≤ z ± ε",
)
SIGNATURES = (
    "(items, limit=None)",
    "(self, value)",
    "(data, *, strict=False)",
    "(path, mode='r', encoding=None)",
    "(key, default=None)",
    "(*args, **kwargs)",
)
ITERABLES = ("sorted", "list", "reversed", "enumerate", "iter", "tuple")
MESSAGES = (
    "import of %s from %s",
    "%s: %s",
    "loaded %s (%s)",
    "skipping %s because of %s",
    "done with %s in %s",
    "retrying %s after %s",
)
PROSE = (
    "Return the value for the given key, or the default if it is missing.",
    "This module provides helpers for reading and writing records.",
    "from the point of view of the caller nothing changes here.",
    "import errors are reported to the caller as they happen.",
    "The result is cached; call clear() to start again.",
    "Raises ValueError if the input is not well formed.",
    "See the package documentation for the overall design.",
    "Each worker owns its queue and never touches another one.",
)


def project_modules(rng):
    names = []
    for word in WORDS:
        names.append(word)
        names.append(f"{word}_{rng.choice(WORDS)}")
    names += [f"pkg{k:03d}" for k in range(120)]
    return names


def dotted(rng, head):
    parts = [head] + [rng.choice(WORDS) for _ in range(rng.choice((0, 1, 1, 2)))]
    return ".".join(parts)


def import_line(rng, modules):
    head = rng.choice(modules)
    kind = rng.random()
    if kind < 0.35:
        return f"import {head}"
    if kind < 0.45:
        return f"import {dotted(rng, head)}"
    if kind < 0.52:
        return f"import {head} as {head[:2]}"
    if kind < 0.57:
        return f"import {head}, {rng.choice(modules)}"
    if kind < 0.90:
        names = ", ".join(sorted({rng.choice(WORDS).capitalize() for _ in range(rng.randint(1, 3))}))
        return f"from {dotted(rng, head)} import {names}"
    if kind < 0.96:
        return f"from .{rng.choice(WORDS)} import {rng.choice(WORDS)}"
    return f"from . import {rng.choice(WORDS)}"


def body_block(rng, modules):
    """A class or a function of ordinary-looking code, as a list of lines."""
    name = f"{rng.choice(WORDS)}_{rng.choice(WORDS)}"
    lines = []
    if rng.random() < 0.03:
        lines.append(rng.choice(NON_ASCII))
    if rng.random() < 0.35:
        cls = "".join(w.capitalize() for w in name.split("_"))
        lines.append(f"class {cls}({rng.choice(('object', 'Exception', 'Base', 'dict'))}):")
        lines.append(f'    """{rng.choice(PROSE)}"""')
        lines.append("")
        for _ in range(rng.randint(1, 4)):
            meth = f"{rng.choice(WORDS)}_{rng.choice(WORDS)}"
            lines.append(f"    def {meth}(self, value, *, strict=False):")
            lines += method_body(rng, modules, "        ")
            lines.append("")
    else:
        lines.append(f"def {name}{rng.choice(SIGNATURES)}:")
        lines.append(f'    """{rng.choice(PROSE)}')
        lines.append("")
        lines.append(f"    {rng.choice(PROSE)}")
        lines.append('    """')
        lines += method_body(rng, modules, "    ")
    lines.append("")
    lines.append("")
    return lines


def method_body(rng, modules, indent):
    lines = []
    if rng.random() < 0.15:
        lines.append(f"{indent}{import_line(rng, modules)}  # imported late on purpose")
    for _ in range(rng.randint(2, 9)):
        kind = rng.random()
        a, b = rng.choice(WORDS), rng.choice(WORDS)
        if kind < 0.2:
            lines.append(f"{indent}# {rng.choice(PROSE).lower()}")
        elif kind < 0.21:
            lines.append(f"{indent}{rng.choice(NON_ASCII)}")
        elif kind < 0.45:
            lines.append(f"{indent}if {a} is None or len({b}) > {rng.randint(0, 99)}:")
            lines.append(f"{indent}    raise ValueError(f\"bad {a}: {{{a}!r}}\")")
        elif kind < 0.6:
            lines.append(f"{indent}for {a} in {rng.choice(ITERABLES)}({b}):")
            lines.append(f"{indent}    total += {a}[1] * {rng.randint(1, 9)}")
        elif kind < 0.75:
            lines.append(f"{indent}{a}_{b} = {{\"{a}\": {rng.randint(0, 999)}, \"{b}\": [{a}, {b}]}}")
        elif kind < 0.85:
            lines.append(f"{indent}log.debug(\"{rng.choice(MESSAGES)}\", {a}, {b})")
        else:
            lines.append(f"{indent}result = self.{a}({b}, strict=strict) if {b} else None")
    lines.append(f"{indent}return {rng.choice(WORDS)}")
    return lines


class TextSource:
    """Builds file texts from a pool of pre-made blocks, so that generating 100,000 files
    takes seconds, not minutes."""

    def __init__(self, rng):
        self.rng = rng
        self.modules = STDLIB * 3 + THIRD_PARTY + project_modules(rng)
        self.blocks = ["\n".join(body_block(rng, self.modules)) + "\n" for _ in range(4000)]

    def header(self):
        rng = self.rng
        lines = []
        if rng.random() < 0.05:
            lines.append("#!/usr/bin/env python3")
        if rng.random() < 0.03:
            lines.append("# -*- coding: utf-8 -*-")
        lines.append(f'"""{rng.choice(PROSE)}')
        for _ in range(rng.randint(0, 5)):
            lines.append(rng.choice(PROSE))
        lines.append('"""')
        lines.append("")
        if rng.random() < 0.3:
            lines.append("from __future__ import annotations")
            lines.append("")
        for _ in range(rng.randint(2, 8)):
            lines.append(import_line(rng, self.modules))
        lines.append("")
        lines.append(f"log = logging.getLogger(__name__)")
        lines.append(f"LIMIT = {rng.randint(1, 10000)}")
        lines.append("")
        lines.append("")
        return "\n".join(lines) + "\n"

    def text(self, size):
        rng = self.rng
        parts = [self.header()]
        length = len(parts[0])
        while length < size:
            block = rng.choice(self.blocks)
            parts.append(block)
            length += len(block)
        text = "".join(parts)
        if rng.random() < 0.01:
            text = text.replace("\n", "\r\n")
        return text

    def small_size(self):
        # Log-uniform between 0.5 and 8 KB: many small files, fewer large ones.
        return int(math.exp(self.rng.uniform(math.log(500), math.log(8000))))


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def make_small(out, files, rng):
    source = TextSource(rng)
    per_dir = 100
    leaves = max(1, -(-files // per_dir))
    fan = max(1, math.ceil(leaves ** (1 / 3)))
    made = 0
    leaf = 0
    while made < files:
        a, b, c = leaf // (fan * fan), (leaf // fan) % fan, leaf % fan
        directory = os.path.join(out, f"pkg_{a:02d}", f"sub_{b:02d}", f"mod_{c:02d}")
        os.makedirs(directory, exist_ok=True)
        count = min(per_dir, files - made)
        for k in range(count):
            name = "__init__.py" if k == 0 else f"{rng.choice(WORDS)}_{k:03d}.py"
            write(os.path.join(directory, name), source.text(source.small_size()))
        made += count
        # Files the scan must pass over: data, docs, compiled code, a near miss.
        write(os.path.join(directory, "README.txt"), "import this is not Python\n" * 20)
        write(os.path.join(directory, "data.json"), json.dumps({"import": WORDS}) + "\n")
        if leaf % 7 == 0:
            write(os.path.join(directory, "stubs.pyi"), "import os\nfrom typing import Any\n")
        leaf += 1


def make_large(out, rng, count=4, megabytes=(24, 48)):
    source = TextSource(rng)
    for k in range(count):
        size = rng.randint(*megabytes) * 1024 * 1024
        parts = []
        length = 0
        while length < size:
            # Large generated modules: imports are spread through the whole file.
            chunk = source.text(64 * 1024).replace("\r\n", "\n")
            parts.append(chunk)
            length += len(chunk.encode("utf-8"))
        write(os.path.join(out, f"generated_{k}.py"), "".join(parts))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="directory to fill")
    parser.add_argument("--files", type=int, default=100_000, help="number of small .py files")
    parser.add_argument("--large", action="store_true", help="make the tree of a few large files")
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args(argv)

    params = {"format": FORMAT, "seed": args.seed}
    params.update({"kind": "large"} if args.large else {"kind": "small", "files": args.files})
    stamp = os.path.join(args.out, STAMP)
    try:
        with open(stamp, encoding="utf-8") as f:
            if json.load(f) == params:
                print(f"{args.out}: complete, kept", file=sys.stderr)
                return 0
    except (OSError, ValueError):
        pass

    if os.path.isdir(args.out) and os.listdir(args.out):
        if not os.path.exists(os.path.join(args.out, MARKER)):
            sys.exit(f"{args.out}: not empty and not made by this script; refusing to clear it")
        shutil.rmtree(args.out)
    os.makedirs(args.out, exist_ok=True)
    write(os.path.join(args.out, MARKER), "")
    rng = random.Random(args.seed)
    if args.large:
        make_large(args.out, rng)
    else:
        make_small(args.out, args.files, rng)
    write(stamp, json.dumps(params))
    print(f"{args.out}: generated", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
