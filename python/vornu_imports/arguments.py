"""The full command-line parser of `vornu-imports`, built on argparse: the help, the
version, abbreviated options and every mistake. `vornu_imports.cli` parses the common
command lines itself and comes here for everything else, as importing argparse (and
through it `re`) would cost about as much as the interpreter's own start."""

from __future__ import annotations

import argparse

from vornu_imports.cli import Options, usage_error, write_output

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import NoReturn

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
walk everything instead. Exit status: 0 on success, 2 on a bad argument or missing PATH,
1 when the output cannot be written, 130 when interrupted.
"""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise SystemExit(usage_error(message))

    def print_help(self, file: object = None) -> None:
        # Through the command's own output, which reports an output that refuses it.
        if write_output(self.format_help()) != 0:
            raise SystemExit(1)


class VersionAction(argparse.Action):
    """`--version`, which looks the version up only when asked: the metadata machinery
    costs more than the rest of a run."""

    def __init__(self, option_strings: Sequence[str], dest: str, **kwargs: object) -> None:
        super().__init__(option_strings, dest, nargs=0, help="show program's version number and exit")

    def __call__(
        self,
        parser: argparse.ArgumentParser,
        namespace: argparse.Namespace,
        values: object,
        option_string: str | None = None,
    ) -> NoReturn:
        raise SystemExit(write_output(f"{parser.prog} {installed_version()}\n"))


def installed_version() -> str:
    import importlib.metadata

    try:
        return importlib.metadata.version("vornu_core")
    except importlib.metadata.PackageNotFoundError:  # imported from a build tree
        return "(not installed)"


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
    parser.add_argument("--version", action=VersionAction)
    return parser


def parse_arguments(argv: Sequence[str]) -> Options:
    """The options of any command line; SystemExit after --help or --version (0, or 1 when
    the text cannot be written) and after a mistake (2, with one line on standard error)."""
    arguments = make_parser().parse_args(argv)
    options = Options()
    options.paths = list(arguments.paths)
    for name in ("json", "git", "no_stdlib", "first_party", "distributions"):
        setattr(options, name, bool(getattr(arguments, name)))
    return options
