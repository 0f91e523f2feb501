"""Command line of vornu_core: `vornu-imports [options] [PATH ...]`."""

from __future__ import annotations

import argparse
import importlib.metadata
import json
import os
import subprocess
import sys
import time
from collections.abc import Iterable, Sequence
from typing import NoReturn

import vornu_core

DESCRIPTION = """\
Print the sorted top-level modules that the Python files under PATH (default: the
current directory) import, one a line.

A line counts when, after leading white space, it starts with "import " or "from " and the
first word after the keyword, cut before its first ".", is an ASCII identifier; files are
read only if named *.py and valid UTF-8. So "import a, b" and "from . import x" give nothing.
"""

EPILOG = """\
Without PATH inside a git work tree, the files come from git (as with --git), so that
ignored virtual environments and build folders are left out; name a PATH such as "." to
walk everything instead. Exit status: 0 on success, 2 on a bad argument or missing PATH.
"""


class UsageError(Exception):
    """A mistake in the command line; reported in one line with exit status 2."""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, without the usage block, so that scripts can show it as it is.
        self.exit(2, f"{self.prog}: error: {message}\n")


def make_parser() -> Parser:
    parser = Parser(
        prog="vornu-imports",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("paths", nargs="*", metavar="PATH", help="a directory tree or a single file")
    parser.add_argument("--json", action="store_true", help='print one JSON object: {"modules", "roots", "seconds"}')
    parser.add_argument(
        "--git",
        action="store_true",
        help="scan the .py files that `git ls-files --cached --others --exclude-standard` lists in each PATH",
    )
    parser.add_argument("--no-stdlib", action="store_true", help="drop the modules of sys.stdlib_module_names")
    parser.add_argument(
        "--first-party",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="keep (default) or drop the packages and modules found directly in each PATH and in its src/",
    )
    parser.add_argument(
        "--distributions",
        action="store_true",
        help="show the installed distributions that provide each module, and the modules none provides",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {installed_version()}")
    return parser


def installed_version() -> str:
    try:
        return importlib.metadata.version("vornu_core")
    except importlib.metadata.PackageNotFoundError:  # imported from a build tree
        return "(not installed)"


def git_output(directory: str, *arguments: str) -> bytes | None:
    try:
        result = subprocess.run(["git", "-C", directory, *arguments], capture_output=True, check=False)
    except OSError:
        return None
    return result.stdout if result.returncode == 0 else None


def in_git_work_tree(directory: str) -> bool:
    return git_output(directory, "rev-parse", "--is-inside-work-tree") == b"true\n"


def git_python_files(path: str) -> tuple[list[str], int]:
    """The .py files git lists below the directory `path` (tracked, and untracked but not
    ignored), and how many names had to be skipped because they are not valid UTF-8."""
    listed = git_output(path, "ls-files", "-z", "--cached", "--others", "--exclude-standard")
    if listed is None:
        raise UsageError(f"--git: not inside a git work tree: {path}")
    files: dict[str, None] = {}  # an unmerged file is listed once per stage
    skipped = 0
    for raw in listed.split(b"\0"):
        if not raw.endswith(b".py"):
            continue
        try:
            name = raw.decode("utf-8")
        except UnicodeDecodeError:
            skipped += 1
            continue
        files[name if path == "." else os.path.join(path, name)] = None
    return list(files), skipped


def scan_roots(paths: Sequence[str], use_git: bool) -> list[str]:
    """The roots handed to scan_imports: the paths themselves, or with git the files it lists."""
    if not use_git:
        return list(paths)
    roots: list[str] = []
    skipped = 0
    for path in paths:
        if not os.path.isdir(path):
            roots.append(path)  # a file named on the command line is read as it is
            continue
        files, not_utf8 = git_python_files(path)
        roots.extend(files)
        skipped += not_utf8
    if skipped:
        print(f"vornu-imports: skipped {skipped} file name(s) that are not valid UTF-8", file=sys.stderr)
    return roots


def module_name(file_name: str) -> str | None:
    stem, dot, extension = file_name.rpartition(".")
    return stem if dot and extension == "py" and stem.isidentifier() else None


def first_party_names(paths: Iterable[str]) -> set[str]:
    """Top-level modules (`name.py`) and packages (`name/__init__.py`) found directly in
    each path and in its src/ folder; a path that is itself a module or a package counts too."""
    names: set[str] = set()
    for path in paths:
        base = os.path.basename(os.path.abspath(path))
        if not os.path.isdir(path):
            name = module_name(base)
            if name:
                names.add(name)
            continue
        if base.isidentifier() and os.path.isfile(os.path.join(path, "__init__.py")):
            names.add(base)
        for directory in (path, os.path.join(path, "src")):
            try:
                entries = list(os.scandir(directory))
            except OSError:
                continue
            for entry in entries:
                if entry.is_dir() and entry.name.isidentifier():
                    if os.path.isfile(os.path.join(entry.path, "__init__.py")):
                        names.add(entry.name)
                elif entry.is_file():
                    name = module_name(entry.name)
                    if name:
                        names.add(name)
    return names


def distributions_of(modules: Iterable[str]) -> dict[str, list[str]]:
    providers = importlib.metadata.packages_distributions()
    return {module: sorted(set(providers.get(module, []))) for module in modules}


def check_paths(paths: Sequence[str]) -> None:
    for path in paths:
        if not os.path.exists(path):
            raise UsageError(f"no such file or directory: {path}")
        try:
            path.encode("utf-8")
        except UnicodeEncodeError:
            raise UsageError(f"path is not valid UTF-8: {path!r}") from None


def render(arguments: argparse.Namespace, paths: list[str], modules: list[str], seconds: float) -> str:
    distributions = distributions_of(modules) if arguments.distributions else None
    unprovided = [module for module, names in (distributions or {}).items() if not names]
    if arguments.json:
        report: dict[str, object] = {"modules": modules, "roots": paths, "seconds": round(seconds, 6)}
        if distributions is not None:
            report["distributions"] = distributions
            report["unprovided"] = unprovided
        return json.dumps(report) + "\n"
    if distributions is None:
        return "".join(f"{module}\n" for module in modules)
    lines = [f"{module}: {', '.join(names)}" for module, names in distributions.items() if names]
    if unprovided:
        lines += ([""] if lines else []) + ["no installed distribution provides:", *unprovided]
    return "".join(f"{line}\n" for line in lines)


def run(arguments: argparse.Namespace) -> str:
    paths: list[str] = arguments.paths or ["."]
    check_paths(paths)
    use_git = arguments.git or (not arguments.paths and in_git_work_tree("."))
    roots = scan_roots(paths, use_git)
    start = time.perf_counter()
    modules = vornu_core.scan_imports(roots)
    seconds = time.perf_counter() - start
    dropped: set[str] = set()
    if arguments.no_stdlib:
        dropped |= sys.stdlib_module_names
    if not arguments.first_party:
        dropped |= first_party_names(paths)
    modules = [module for module in modules if module not in dropped]
    return render(arguments, paths, modules, seconds)


def main(argv: Sequence[str] | None = None) -> int:
    arguments_given = sys.argv[1:] if argv is None else list(argv)
    if arguments_given[:1] == ["check"]:
        # Imported only here, so that the plain command never pays for the check's modules.
        from vornu_imports.check import main as check_main

        return check_main(arguments_given[1:])
    parser = make_parser()
    arguments = parser.parse_args(argv)
    try:
        output = run(arguments)
    except UsageError as error:
        parser.error(str(error))
    try:
        sys.stdout.write(output)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader stopped early (`| head`); say nothing more, and keep Python's exit
        # handler from failing on the same closed pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0
