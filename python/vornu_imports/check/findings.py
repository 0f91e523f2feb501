"""The findings of one project, from its declarations, the modules they provide and the
imports that the scan found and the parser confirmed."""

from __future__ import annotations

import fnmatch
import os
from collections.abc import Iterable
from dataclasses import dataclass, field

from packaging.utils import canonicalize_name

from vornu_imports.check.model import CODES, ConfigError, Declaration, Finding, Project, Site
from vornu_imports.check.projects import is_package_code
from vornu_imports.check.providers import Providers, stub_base, transitive


@dataclass
class Declared:
    """The declared distributions of a project and the modules each provides."""

    by_module: dict[str, list[Declaration]] = field(default_factory=dict)
    stub_modules: set[str] = field(default_factory=set)
    modules: dict[str, list[str]] = field(default_factory=dict)
    runtime: dict[str, Declaration] = field(default_factory=dict)

    def kinds(self, module: str) -> set[str]:
        return {d.kind for d in self.by_module.get(module, [])}


def declared_modules(project: Project, providers: Providers) -> Declared:
    declared = Declared()
    for declaration in project.declarations:
        if declaration.name == project.name:
            continue  # the project naming itself, for its extras
        modules, _ = providers.modules_of(declaration.name)
        declared.modules[declaration.name] = modules
        if stub_base(declaration.name) is not None:
            declared.stub_modules.update(modules)
            continue
        for module in modules:
            declared.by_module.setdefault(module, []).append(declaration)
        if declaration.kind == "runtime":
            declared.runtime.setdefault(declaration.name, declaration)
    return declared


@dataclass
class Evidence:
    """What one project imports: the scan's names, and the sites that the parser saw in the
    files it read. A name the scan found counts only if it needed no confirmation or the parser
    confirmed it."""

    scanned: set[str]
    sites: dict[str, list[Site]]
    unconfirmed: set[str]  # names whose scan count needs the parser's word
    unread: dict[str, int] = field(default_factory=dict)  # files naming a module left unparsed

    def imported(self, module: str) -> bool:
        return module in self.sites or (module in self.scanned and module not in self.unconfirmed)


def ordered(sites: Iterable[Site]) -> list[Site]:
    return sorted(sites, key=lambda s: (s.file, s.cell or 0, s.line))


def find(path: str, project: Project, declared: Declared, evidence: Evidence, providers: Providers) -> list[Finding]:
    stdlib = providers.environment.stdlib
    findings: list[Finding] = []
    reached: dict[str, str] | None = None
    for module in sorted(evidence.scanned | set(evidence.sites)):
        if module in stdlib or module in project.first_party or module in declared.by_module:
            continue
        if not evidence.imported(module):
            continue
        sites = ordered(evidence.sites.get(module, []))
        if not sites or (all(s.type_checking for s in sites) and module in declared.stub_modules):
            continue
        suggestion = providers.suggestion(module)
        if reached is None:
            reached = transitive(providers.environment, {d.name: d.extras for d in project.declarations})
        installed = [d for d in providers.environment.providers.get(module, []) if d in reached]
        if installed:
            via = reached[installed[0]]
            message = f"{module} is imported but only installed as a dependency of {via} (through {installed[0]})"
            findings.append(Finding("undeclared-but-installed-transitively", project.root, module, module,
                                    installed[0], message, sites, None, [via], evidence.unread.get(module, 0)))
            continue
        message = f"{module} is imported but no declared dependency provides it"
        if suggestion:
            message += f" ({suggestion} does)"
        findings.append(Finding("undeclared", project.root, module, module, suggestion, message, sites,
                                more=evidence.unread.get(module, 0)))
    for name, declaration in sorted(declared.runtime.items()):
        modules = declared.modules[name]
        if any(evidence.imported(module) for module in modules):
            continue
        message = (
            f"{name} is declared ({declaration.group}, {declaration.file}) but none of its modules"
            f" ({', '.join(modules)}) is imported"
        )
        findings.append(Finding("unused", project.root, name, None, name, message, [], declaration))
    findings += misplaced(project, declared, evidence)
    return findings


def misplaced(project: Project, declared: Declared, evidence: Evidence) -> list[Finding]:
    """Modules imported by the package's own code whose distributions are declared only for
    development or as an extra, where importing that code fails without them: imports at
    module level, not under TYPE_CHECKING, not in a try that catches ImportError. Imports inside
    functions run only when an optional feature is used."""
    findings = []
    for module, declarations in sorted(declared.by_module.items()):
        kinds = {d.kind for d in declarations}
        if kinds & {"runtime", "environment"}:
            continue
        sites = [
            s
            for s in evidence.sites.get(module, [])
            if is_package_code(project, s.file)
            and not s.type_checking
            and not s.guarded
            and not s.deferred
        ]
        if not sites:
            continue
        groups = sorted({d.group for d in declarations})
        distribution = declarations[0].name
        message = f"{module} is imported by the package's own code but {distribution} is declared only in {', '.join(groups)}"
        findings.append(Finding("dev-in-runtime", project.root, module, module, distribution, message,
                                ordered(sites), declarations[0], more=evidence.unread.get(module, 0)))
    return findings


@dataclass(frozen=True)
class Rule:
    code: str | None
    pattern: str | None

    def matches(self, finding: Finding) -> bool:
        if self.code is not None and finding.code != self.code:
            return False
        if self.pattern is None:
            return True
        module = finding.module or ""
        distribution = canonicalize_name(finding.distribution or "")
        return fnmatch.fnmatchcase(module, self.pattern) or fnmatch.fnmatchcase(
            distribution, canonicalize_name(self.pattern)
        )


def parse_rule(text: str, where: str) -> Rule:
    """CODE, NAME (any code) or CODE:NAME; NAME is a module or distribution, * and ? allowed."""
    if text in CODES:
        return Rule(text, None)
    code, colon, name = text.partition(":")
    if colon:
        if code not in CODES:
            raise ConfigError(f"{where}: unknown finding code {code!r} in {text!r} (codes: {', '.join(CODES)})")
        return Rule(code, name)
    return Rule(None, text)
