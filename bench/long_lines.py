"""Peak resident memory of a scan of one file that is one enormous line, by the line's shape.

    python bench/long_lines.py [--mib 64] LABEL=COMMAND ...

Each COMMAND is a vornu-scan command line without roots; "--" and the file are added, and
the peak resident size of that process (its own, from wait4) is printed beside the names it
found. The files (bench/out/long-lines/, made once) are MIB MiB of:

- failing-name: `import ` and identifier bytes, then `-`: no name, decided at the very end;
- accepted-name: the same with a line feed instead of `-`: the name is kept;
- comment: `#` and the same bytes;
- code: `x = ` and the same bytes;
- spaces-before: spaces, then `import os`;
- spaces-after: `import`, one space and more spaces, then `os`;
- wide-spaces: U+3000 (three bytes, cut at piece ends), then `import os`.
"""

import argparse
import os
import shlex
import subprocess
from pathlib import Path

OUT = Path(__file__).resolve().parent / "out" / "long-lines"


# Each shape: the bytes before the run, the run's byte string (repeated to the size) and
# the bytes after it.
SHAPES = {
    "failing-name": (b"import ", b"n", b"-"),
    "accepted-name": (b"import ", b"n", b"\n"),
    "comment": (b"#", b"n", b"\n"),
    "code": (b"x = ", b"n", b"\n"),
    "spaces-before": (b"", b" ", b"import os\n"),
    "spaces-after": (b"import ", b" ", b"os\n"),
    "wide-spaces": (b"", "\u3000".encode(), b"import os\n"),
}


def write(path, size, before, unit, after):
    """Writes the file in blocks, so that this process stays small: its size before it
    starts a command counts in that command's peak."""
    block = unit * ((1 << 20) // len(unit))
    with open(path, "wb") as out:
        out.write(before)
        for _ in range(size // len(block)):
            out.write(block)
        out.write(after)


def files(mib):
    made = {}
    folder = OUT / f"{mib}MiB"
    for name, (before, unit, after) in SHAPES.items():
        path = folder / f"{name}.py"
        if not path.exists():
            folder.mkdir(parents=True, exist_ok=True)
            write(path.with_suffix(".tmp"), mib << 20, before, unit, after)
            path.with_suffix(".tmp").rename(path)
        made[name] = path
    return made


def peak_rss(command, path):
    """The peak resident size in MiB of one run, and the start of the names it printed
    (kept in a file, not in this process, whose size would count in the next run's peak)."""
    with open(OUT / "names.txt", "w+b") as names:
        with subprocess.Popen([*command, "--", str(path)], stdout=names) as process:
            _, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise SystemExit(f"{shlex.join(command)} failed on {path}")
        names.seek(0)
        start = names.read(16).decode().replace("\n", " ").strip()
    return usage.ru_maxrss / 1024, start[:12] + ("…" if len(start) > 12 else "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("commands", nargs="+", metavar="LABEL=COMMAND")
    args = parser.parse_args()
    commands = [(label, shlex.split(command)) for label, _, command in
                (labelled.partition("=") for labelled in args.commands)]
    print(f"one line of {args.mib} MiB: peak RSS in MiB (names found)")
    print(f"{'shape':>14}  " + "  ".join(f"{label:>20}" for label, _ in commands))
    for shape, path in files(args.mib).items():
        cells = []
        for _, command in commands:
            rss, names = peak_rss(command, path)
            cells.append(f"{rss:8.1f} ({names or '-'})")
        print(f"{shape:>14}  " + "  ".join(f"{cell:>20}" for cell in cells), flush=True)


if __name__ == "__main__":
    main()
