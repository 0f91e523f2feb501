"""Command line of vornu_core: `vornu-imports [options] [PATH ...]`.

The command runs on every save in editors and hooks, where its start is the whole cost.
So it imports what a run needs when the run needs it: argparse (see
`vornu_imports.arguments`) only for a command line other than the common ones, `json`
for --json, `importlib.metadata` for --version and --distributions; and it starts git only
where a git work tree may be.
"""

from __future__ import annotations

import os
import sys

from vornu_imports.git_listing import GitError, NotInWorkTree
from vornu_imports.messages import say, shown
from vornu_imports.sources import roots_for

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable, Sequence


class UsageError(Exception):
    """A mistake in the command line; reported in one line with exit status 2."""


class Options:
    """What a command line asks for; the attributes are those of the long options."""

    def __init__(self) -> None:
        self.paths: list[str] = []
        self.json = False
        self.git = False
        self.no_stdlib = False
        self.first_party = True
        self.distributions = False


# The options of the common command lines: the attribute each sets, and to what.
FLAGS = {
    "--json": ("json", True),
    "--git": ("git", True),
    "--no-stdlib": ("no_stdlib", True),
    "--first-party": ("first_party", True),
    "--no-first-party": ("first_party", False),
    "--distributions": ("distributions", True),
}


def parse_common(argv: Sequence[str]) -> Options | None:
    """The options of a command line made of whole option names and one run of PATHs, as
    argparse reads it; None for any other command line (help, version, abbreviations, "--",
    a PATH that starts with "-", mistakes), which `vornu_imports.arguments` parses."""
    options = Options()
    runs = 0
    after_path = False
    for token in argv:
        if token.startswith("-"):
            flag = FLAGS.get(token)
            if flag is None:
                return None
            setattr(options, *flag)
            after_path = False
        else:
            # argparse gives the PATH list the first run of PATHs; a second one is a mistake.
            runs += not after_path
            if runs > 1:
                return None
            options.paths.append(token)
            after_path = True
    return options


def usage_error(message: str) -> int:
    """Reports a mistake in the command line in one line, without the usage block, so that
    scripts can show it as it is; the exit status to end with."""
    say(f"vornu-imports: error: {message}")
    return 2


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


def installed_providers() -> dict[str, set[str]]:
    """The names of the installed distributions that provide each top-level module, as
    importlib.metadata.packages_distributions() finds them (top_level.txt, else the first
    part of each installed file), leaving out every distribution without metadata (a
    .dist-info with a RECORD and no METADATA, as an interrupted install leaves it): it has
    no name, and some Python versions cannot even list the others past it."""
    import importlib.metadata
    import inspect

    providers: dict[str, set[str]] = {}
    for distribution in importlib.metadata.distributions():
        if distribution.read_text("METADATA") is None and distribution.read_text("PKG-INFO") is None:
            continue
        name = distribution.metadata["Name"]
        if not name:
            continue
        modules = (distribution.read_text("top_level.txt") or "").split()
        if not modules:
            for file in distribution.files or []:
                top = file.parts[0] if len(file.parts) > 1 else inspect.getmodulename(str(file)) or str(file)
                if "." not in top:
                    modules.append(top)
        for module in modules:
            providers.setdefault(module, set()).add(name)
    return providers


def distributions_of(modules: Iterable[str]) -> dict[str, list[str]]:
    providers = installed_providers()
    return {module: sorted(providers.get(module, set())) for module in modules}


def check_paths(paths: Sequence[str]) -> None:
    for path in paths:
        if not os.path.exists(path):
            raise UsageError(f"no such file or directory: {shown(path)}")
        try:
            path.encode("utf-8")
        except UnicodeEncodeError:
            raise UsageError(f"path is not valid UTF-8: {path!r}") from None


def render(options: Options, paths: list[str], modules: list[str], seconds: float) -> str:
    distributions = distributions_of(modules) if options.distributions else None
    unprovided = [module for module, names in (distributions or {}).items() if not names]
    if options.json:
        import json

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


def run(options: Options) -> str:
    import time

    import vornu_core

    paths = options.paths or ["."]
    check_paths(paths)
    use_git: bool | None = True  # --git
    if not options.git:
        use_git = False if options.paths else None  # a PATH named is walked; else git if it can
    try:
        roots = roots_for(paths, use_git)
    except NotInWorkTree as error:
        raise UsageError(f"--git: {error}") from None
    except GitError as error:
        raise UsageError(f"--git: git cannot list the files: {error}") from None
    start = time.perf_counter()
    modules = vornu_core.scan_imports(roots)
    seconds = time.perf_counter() - start
    dropped: set[str] = set()
    if options.no_stdlib:
        dropped |= sys.stdlib_module_names
    if not options.first_party:
        dropped |= first_party_names(paths)
    modules = [module for module in modules if module not in dropped]
    return render(options, paths, modules, seconds)


def write_output(text: str) -> int:
    """Writes `text` to standard output: 0, or 1 with one line on standard error when it
    cannot be written (closed, full; nothing more when the reader stopped early, as
    `| head` does)."""
    try:
        if sys.stdout is None:  # started with standard output closed (`>&-`)
            raise OSError("standard output is closed")
        sys.stdout.write(text)
        sys.stdout.flush()
    except OSError as error:
        if not isinstance(error, BrokenPipeError):
            reason = os.strerror(error.errno) if error.errno else str(error)
            say(f"vornu-imports: cannot write the output: {reason}")
        silence_stdout()
        return 1
    return 0


def silence_stdout() -> None:
    """Points standard output at /dev/null, so that the interpreter's flush at exit does
    not fail on the same stream once more, with a traceback."""
    if sys.stdout is not None:
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        except (OSError, ValueError):
            sys.stdout = None


def main(argv: Sequence[str] | None = None) -> int:
    """The command; returns its exit status. Ctrl-C, wherever it comes, ends it with 130
    and no traceback."""
    try:
        if argv is None:
            argv = sys.argv[1:]
        if len(argv) > 0 and argv[0] == "check":
            # Imported only here, so that the plain command never pays for the check's modules.
            from vornu_imports.check import main as check_main

            return check_main(argv[1:])
        options = parse_common(argv)
        if options is None:
            from vornu_imports.arguments import parse_arguments

            options = parse_arguments(argv)
        try:
            output = run(options)
        except UsageError as error:
            return usage_error(str(error))
        return write_output(output)
    except KeyboardInterrupt:
        return 130
