"""`vornu-imports check [PATH]`: the dependencies a project declares against what its code
imports."""

from __future__ import annotations

import argparse
import os
import sys
import time
from collections import Counter
from collections.abc import Sequence
from typing import NoReturn

import vornu_core

from vornu_imports.check.files import list_files
from vornu_imports.check.findings import Declared, Evidence, declared_modules, find, parse_rule
from vornu_imports.check.imports import Parsed, look, parse_notebook, parse_python, read
from vornu_imports.check.model import CODES, ConfigError, FileWarning, Finding, Project, Site
from vornu_imports.check.projects import Locality, discover
from vornu_imports.check.providers import Environment, Providers, load_environment
from vornu_imports.check.report import as_github, as_json, as_text

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


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: error: {message}\n")


def make_parser() -> Parser:
    parser = Parser(prog="vornu-imports check", description=DESCRIPTION, epilog=EPILOG,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("path", nargs="?", default=".", metavar="PATH", help="the project folder (default: .)")
    parser.add_argument("--format", choices=("text", "json", "github"), default="text",
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


def root_settings_excludes(path: str) -> list[str]:
    """The root project's own exclude patterns, which decide what is listed at all."""
    project = Project(root=".")
    pyproject = os.path.join(path, "pyproject.toml")
    if os.path.isfile(pyproject):
        from vornu_imports.check.declarations import read_pyproject

        read_pyproject(project, path, "pyproject.toml", "pyproject.toml")
    return project.settings.exclude


def own_modules(project: Project) -> list[str]:
    names = {os.path.basename(d).removesuffix(".py") for d in project.package_dirs}
    return sorted(names or {(project.name or "").replace("-", "_")} - {""})


# Places of an import finding looked for: the parser stops reading further files for a name
# once it has seen this many plain imports of it (not under TYPE_CHECKING, not guarded).
PLACES = 3


def evidence_of(path: str, project: Project, declared: Declared, stdlib: frozenset[str],
                warnings: list[FileWarning]) -> tuple[Evidence, int]:
    """The scan of the project's files, then the parser on the few that decide a finding: in
    path order, a file is parsed while some name it may import still lacks evidence (an
    undeclared candidate fewer than PLACES plain imports, a module of a runtime dependency
    that the scan did not see no import at all, a development dependency fewer than PLACES
    imports at module level of the package's own code)."""
    scanned = set(vornu_core.scan_imports([os.path.join(path, f) for f in project.files]))
    known = stdlib | project.first_party
    doubtful = {m for m in scanned if m not in known and m not in declared.by_module}
    unused_modules = {
        m
        for name in declared.runtime
        if not any(m in scanned for m in declared.modules[name])
        for m in declared.modules[name]
    }
    dev_only = {m for m in declared.by_module if declared.kinds(m) <= {"dev", "extra"}}
    locality = Locality(project)
    seen: Counter[str] = Counter()  # every import the parser saw
    plain: Counter[str] = Counter()
    in_package: Counter[str] = Counter()
    skipped: Counter[str] = Counter()

    def interesting(name: str, file: str) -> bool:
        if name in known or locality.is_local(file, name):
            return False
        if name not in declared.by_module or name in unused_modules:
            return True
        return name in dev_only and locality.is_package_code(file)

    def lacking(name: str) -> bool:
        if name in dev_only:
            return in_package[name] < PLACES
        if name in unused_modules:
            return seen[name] == 0
        return plain[name] < PLACES

    parsed: dict[str, Parsed] = {}

    def take(file: str, result: Parsed) -> None:
        parsed[file] = result
        if result.error is not None:
            warnings.append(FileWarning(file, f"cannot parse: {result.error}"))
        for module, found in result.sites.items():
            kept = [site for site in found if not locality.is_local(file, module)]
            seen[module] += len(kept)
            plain[module] += sum(1 for s in kept if not s.type_checking and not s.guarded)
            if locality.is_package_code(file):
                in_package[module] += sum(1 for s in kept if not (s.type_checking or s.guarded or s.deferred))

    for file in project.files:
        data = read(os.path.join(path, file))
        if data is None:
            continue
        names, must = look(data)
        relevant = [name for name in names if interesting(name, file)]
        open_ = [name for name in relevant if lacking(name)]
        skipped.update(name for name in relevant if name not in open_)
        if must or open_:
            take(file, parse_python(data, file))
    for notebook in project.notebooks:
        data = read(os.path.join(path, notebook))
        if data is not None:
            take(notebook, parse_notebook(data, notebook))
    sites: dict[str, list[Site]] = {}
    for file, result in parsed.items():
        for module, found in result.sites.items():
            kept = [site for site in found if not locality.is_local(file, module)]
            if kept:
                sites.setdefault(module, []).extend(kept)
    return Evidence(scanned, sites, (doubtful | unused_modules) & scanned, dict(skipped)), len(parsed)


def run(arguments: argparse.Namespace) -> tuple[str, int]:
    start = time.perf_counter()
    path: str = arguments.path
    if not os.path.isdir(path):
        raise ConfigError(f"not a folder: {path}")
    rules = [parse_rule(text, "--ignore") for text in arguments.ignore]
    files, used_git = list_files(path, arguments.git, list(arguments.exclude) + root_settings_excludes(path))
    projects = discover(path, files)
    environment: Environment = load_environment(arguments.python)
    root_settings = projects[0].settings if projects and projects[0].root == "." else None
    siblings = {p.name: own_modules(p) for p in projects if p.name}
    warnings: list[FileWarning] = []
    findings: list[Finding] = []
    parsed = 0
    for project in projects:
        if not project.declaration_files and project.root == ".":
            warnings.append(FileWarning(project.root, "no file declaring dependencies found"))
        module_map = dict(root_settings.module_map if root_settings else {}) | project.settings.module_map
        providers = Providers(environment, module_map, siblings)
        declared = declared_modules(project, providers)
        evidence, count = evidence_of(path, project, declared, environment.stdlib, warnings)
        parsed += count
        own_rules = rules + [parse_rule(text, f"{project.root}/pyproject.toml [tool.vornu-imports] ignore")
                             for text in project.settings.ignore + (root_settings.ignore if root_settings and project.root != "." else [])]
        findings += [f for f in find(path, project, declared, evidence, providers) if not any(r.matches(f) for r in own_rules)]
    order = {project.root: index for index, project in enumerate(projects)}
    findings.sort(key=lambda f: (order[f.project], CODES.index(f.code), f.name))
    stats = {
        "files": sum(len(p.files) for p in projects),
        "notebooks": sum(len(p.notebooks) for p in projects),
        "parsed": parsed,
        "git": used_git,
        "python": environment.python,
        "seconds": round(time.perf_counter() - start, 6),
    }
    if arguments.format == "json":
        output = as_json(path, projects, findings, warnings, stats)
    elif arguments.format == "github":
        output = as_github(findings, warnings)
    else:
        output = as_text(projects, findings)
        for warning in warnings:
            print(f"vornu-imports check: warning: {warning.file}: {warning.message}", file=sys.stderr)
    return output, 1 if findings else 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = make_parser()
    arguments = parser.parse_args(argv)
    try:
        output, status = run(arguments)
    except ConfigError as error:
        parser.error(str(error))
    from vornu_imports.cli import write_output

    return write_output(output) or status
