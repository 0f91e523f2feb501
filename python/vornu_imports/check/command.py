"""`vornu-imports check [PATH]`: the dependencies a project declares against what its code
imports.

The check runs in commit hooks and editors, on every save, where its start is much of its
cost: so common command lines are read without argparse, and the modules of the later steps
(`packaging`, `json`, the parser's helpers) are imported only by a run that needs them."""

from __future__ import annotations

import os
import sys
import time

from vornu_imports.check.evidence import gather
from vornu_imports.check.files import list_files
from vornu_imports.check.findings import Rule, declared_modules, find, parse_rule
from vornu_imports.check.model import CODES, ConfigError, FileWarning, Finding, Project
from vornu_imports.check.projects import discover
from vornu_imports.check.environment import Environment, load_environment
from vornu_imports.check.providers import Providers
from vornu_imports.check.report import as_github, as_json, as_text
from vornu_imports.check.search import Search
from vornu_imports.sources import worker_count

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from collections.abc import Sequence

DESCRIPTION = """\
Check the dependencies that the project in PATH (default: the current directory) declares
against the modules its code imports. Findings: undeclared, unused, dev-in-runtime,
undeclared-but-installed-transitively. Every finding is confirmed with Python's parser.
"""

EPILOG = """\
Exit status: 0 without findings, 1 with findings, 2 on a usage or configuration error
(a declaration file that cannot be parsed, an unknown setting). Settings go in
[tool.vornu-imports] of pyproject.toml: ignore, exclude, module-map, first-party.
"""
FORMATS = ("text", "json", "github")


class Options:
    """What a command line asks for; the attributes are those of the long options."""

    def __init__(self) -> None:
        self.path = "."
        self.format = "text"
        self.python: str | None = None
        self.git: bool | None = None
        self.exclude: list[str] = []
        self.ignore: list[str] = []


def make_parser() -> argparse.ArgumentParser:
    import argparse
    from typing import NoReturn

    class Parser(argparse.ArgumentParser):
        def error(self, message: str) -> NoReturn:
            self.exit(2, f"{self.prog}: error: {message}\n")

    parser = Parser(prog="vornu-imports check", description=DESCRIPTION, epilog=EPILOG,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("path", nargs="?", default=".", metavar="PATH", help="the project folder (default: .)")
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text grouped by finding (default), JSON, or GitHub workflow annotations")
    parser.add_argument("--json", dest="format", action="store_const", const="json", help="the same as --format json")
    parser.add_argument("--python", metavar="PATH",
                        help="the interpreter (or virtual environment folder) whose installed distributions count;"
                             " default: the one running this command")
    parser.add_argument("--git", action=argparse.BooleanOptionalAction, default=None,
                        help="list the files with git (default when PATH is inside a git work tree) or walk the folder")
    parser.add_argument("--exclude", action="append", default=[], metavar="GLOB",
                        help="leave out files and folders matching a gitignore-style pattern (repeatable)")
    parser.add_argument("--ignore", action="append", default=[], metavar="RULE",
                        help=f"drop findings: CODE, NAME or CODE:NAME, NAME a module or distribution with * and ?"
                             f" (repeatable); codes: {', '.join(CODES)}")
    return parser


VALUED = {"--format": "format", "--python": "python", "--exclude": "exclude", "--ignore": "ignore"}


def parse_common(argv: Sequence[str]) -> Options | None:
    """The options of a command line made of whole option names, their values and at most one
    PATH, as argparse reads it; None for any other (help, abbreviations, "--", values that
    start with "-", mistakes), which argparse then reads."""
    options = Options()
    paths = 0
    tokens = iter(argv)
    for token in tokens:
        if not token.startswith("-"):
            paths += 1
            options.path = token
            continue
        name, equals, value = token.partition("=")
        if name in VALUED:
            if not equals:
                value = next(tokens, "-")
            if value.startswith("-") and not equals or name == "--format" and value not in FORMATS:
                return None
            attribute = VALUED[name]
            if attribute in ("exclude", "ignore"):
                getattr(options, attribute).append(value)
            else:
                setattr(options, attribute, value)
        elif token == "--json":
            options.format = "json"
        elif token in ("--git", "--no-git"):
            options.git = token == "--git"
        else:
            return None
    return options if paths <= 1 else None


def parse_arguments(argv: Sequence[str]) -> Options:
    options = parse_common(argv)
    if options is None:
        namespace = make_parser().parse_args(argv)
        options = Options()
        for name in ("path", "format", "python", "git", "exclude", "ignore"):
            setattr(options, name, getattr(namespace, name))
    return options


def root_settings_excludes(path: str) -> list[str]:
    """The root project's own exclude patterns, which decide what is listed at all."""
    project = Project(root=".")
    pyproject = os.path.join(path, "pyproject.toml")
    if os.path.isfile(pyproject):
        from vornu_imports.check.pyproject import read_pyproject

        read_pyproject(project, path, "pyproject.toml", "pyproject.toml")
    return project.settings.exclude


def own_modules(project: Project) -> list[str]:
    names = {os.path.basename(d).removesuffix(".py") for d in project.package_dirs}
    return sorted(names or {(project.name or "").replace("-", "_")} - {""})


def run(options: Options) -> tuple[str, int]:
    start = time.perf_counter()
    path = options.path
    if not os.path.isdir(path):
        raise ConfigError(f"not a folder: {path}")
    rules = [parse_rule(text, "--ignore") for text in options.ignore]
    warnings: list[FileWarning] = []
    files, used_git = list_files(path, options.git, options.exclude + root_settings_excludes(path), warnings)
    python_files = [os.path.join(path, f) for f in files if f.endswith(".py")]
    # In the background from here on, on the cores the calling thread leaves.
    forms = Search(python_files, [], worker_count() - 1)
    try:
        return check(options, path, forms, files, used_git, rules, warnings, start)
    finally:
        forms.close()


def check(options: Options, path: str, forms: Search, files: list[str], used_git: bool, rules: list[Rule],
          warnings: list[FileWarning], start: float) -> tuple[str, int]:
    projects = discover(path, files)
    environment: Environment = load_environment(options.python)
    root_settings = projects[0].settings if projects and projects[0].root == "." else None
    siblings = {p.name: own_modules(p) for p in projects if p.name}
    providers = []
    for project in projects:
        if not project.declaration_files and project.root == ".":
            warnings.append(FileWarning(project.root, "no file declaring dependencies found"))
        module_map = dict(root_settings.module_map if root_settings else {}) | project.settings.module_map
        providers.append(Providers(environment, module_map, siblings))
    declared = [declared_modules(project, own) for project, own in zip(projects, providers)]
    evidence = gather(path, list(zip(projects, declared)), environment.stdlib, forms, warnings)
    findings: list[Finding] = []
    for project, own, declared_, evidence_ in zip(projects, providers, declared, evidence):
        inherited = root_settings.ignore if root_settings and project.root != "." else []
        own_rules = rules + [parse_rule(text, f"{project.root}/pyproject.toml [tool.vornu-imports] ignore")
                             for text in project.settings.ignore + inherited]
        findings += [f for f in find(path, project, declared_, evidence_, own)
                     if not any(r.matches(f) for r in own_rules)]
    order = {project.root: index for index, project in enumerate(projects)}
    findings.sort(key=lambda f: (order[f.project], CODES.index(f.code), f.name))
    stats = {
        "files": sum(len(p.files) for p in projects),
        "notebooks": sum(len(p.notebooks) for p in projects),
        "parsed": sum(e.parsed for e in evidence),
        "git": used_git,
        "python": environment.python,
        "seconds": round(time.perf_counter() - start, 6),
    }
    if options.format == "json":
        output = as_json(path, projects, findings, warnings, stats)
    elif options.format == "github":
        output = as_github(findings, warnings)
    else:
        output = as_text(projects, findings)
        for warning in warnings:
            print(f"vornu-imports check: warning: {warning.file}: {warning.message}", file=sys.stderr)
    return output, 1 if findings else 0


def main(argv: Sequence[str] | None = None) -> int:
    options = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        output, status = run(options)
    except ConfigError as error:
        print(f"vornu-imports check: error: {error}", file=sys.stderr)
        return 2
    from vornu_imports.cli import write_output

    return write_output(output) or status
