"""The findings of one project, from its declarations, the modules they provide and the
imports that the scan found and the parser confirmed."""

from __future__ import annotations

from vornu_imports.check.evidence import Declared, Evidence
from vornu_imports.check.model import CODES, ConfigError, Finding, Project, Site, canonical
from vornu_imports.check.projects import is_package_code
from vornu_imports.check.providers import Providers, stub_base

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable


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


def ordered(sites: Iterable[Site]) -> list[Site]:
    return sorted(sites, key=lambda s: (s.file, s.cell or 0, s.line))


def find(path: str, project: Project, declared: Declared, evidence: Evidence, providers: Providers) -> list[Finding]:
    stdlib = providers.environment.stdlib
    findings: list[Finding] = []
    reached: dict[str, str] | None = None
    for module in sorted(evidence.scanned | set(evidence.sites)):
        if module in stdlib or module in project.first_party or declared.everywhere(module):
            continue
        if not evidence.imported(module):
            continue
        # Declarations of a part of the tree (a test fixture's requirements) cover its files only.
        sites = ordered(s for s in evidence.sites.get(module, []) if not declared.covers(module, s.file))
        if not sites or (all(s.type_checking for s in sites) and module in declared.stub_modules):
            continue
        if reached is None:
            reached = providers.environment.transitive({d.name: d.extras for d in project.declarations if not d.scope})
        installed = providers.environment.providing(module, reached)
        suggestion = None if installed else providers.suggestion(module)
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
        declarations = [d for d in declarations if not d.scope]
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
        if not sites or not declarations:
            continue
        groups = sorted({d.group for d in declarations})
        distribution = declarations[0].name
        message = f"{module} is imported by the package's own code but {distribution} is declared only in {', '.join(groups)}"
        findings.append(Finding("dev-in-runtime", project.root, module, module, distribution, message,
                                ordered(sites), declarations[0], more=evidence.unread.get(module, 0)))
    return findings


class Rule:
    __slots__ = ("code", "pattern")

    def __init__(self, code: str | None, pattern: str | None) -> None:
        self.code = code
        self.pattern = pattern

    def matches(self, finding: Finding) -> bool:
        if self.code is not None and finding.code != self.code:
            return False
        if self.pattern is None:
            return True
        from fnmatch import fnmatchcase

        module = finding.module or ""
        distribution = canonical(finding.distribution or "")
        return fnmatchcase(module, self.pattern) or fnmatchcase(distribution, canonical(self.pattern))


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
