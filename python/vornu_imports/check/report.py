"""The three outputs of the check: text grouped by finding, JSON, GitHub workflow annotations."""

from __future__ import annotations

from vornu_imports.check.model import CODES, FileWarning, Finding, Project, Site
from vornu_imports.check.projects import is_test_file

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

SCHEMA_VERSION = 1
HEADINGS = {
    "undeclared": "undeclared: imported, and no declared dependency provides it",
    "undeclared-but-installed-transitively": "undeclared-but-installed-transitively: imported, installed only as a dependency of a declared one",
    "unused": "unused: runtime dependencies none of whose modules is imported",
    "dev-in-runtime": "dev-in-runtime: imported by the package's own code, declared only for development or as an extra",
}
SHOWN_LOCATIONS = 3


def where(site: Site) -> str:
    cell = f":cell {site.cell}" if site.cell is not None else ""
    return f"{site.file}{cell}:{site.line}"


def tests_only(finding: Finding) -> bool:
    """Whether every place of an import finding is in test code (tests/, test_*.py, ...):
    a test suite also imports modules that exist nowhere, to see the import fail."""
    return bool(finding.sites) and all(is_test_file(site.file, finding.project) for site in finding.sites)


def site_json(site: Site) -> dict[str, Any]:
    return {
        "file": site.file,
        "line": site.line,
        "cell": site.cell,
        "type_checking": site.type_checking,
        "guarded": site.guarded,
        "deferred": site.deferred,
    }


def finding_json(finding: Finding) -> dict[str, Any]:
    declaration = finding.declaration
    return {
        "code": finding.code,
        "project": finding.project,
        "module": finding.module,
        "distribution": finding.distribution,
        "message": finding.message,
        "type_checking_only": finding.type_checking_only,
        "tests_only": tests_only(finding),
        "locations": [site_json(site) for site in finding.sites],
        "declaration": None
        if declaration is None
        else {
            "file": declaration.file,
            "line": declaration.line,
            "group": declaration.group,
            "kind": declaration.kind,
            "requirement": declaration.text,
        },
        "via": finding.via,
        "more_files": finding.more,
    }


def as_json(path: str, projects: list[Project], findings: list[Finding], warnings: list[FileWarning],
            stats: dict[str, Any]) -> str:
    report = {
        "version": SCHEMA_VERSION,
        "path": path,
        "projects": [
            {
                "root": p.root,
                "name": p.name,
                "declaration_files": sorted({d.file for d in p.declarations} | {f"{p.root}/{f}".removeprefix("./") for f in p.declaration_files}),
                "files": len(p.files),
                "notebooks": len(p.notebooks),
            }
            for p in projects
        ],
        "findings": [finding_json(f) for f in findings],
        "warnings": [{"file": w.file, "message": w.message} for w in warnings],
        "stats": stats,
    }
    import json

    return json.dumps(report, indent=2) + "\n"


def describe(finding: Finding) -> str:
    if finding.code == "unused" and finding.declaration is not None:
        declaration = finding.declaration
        line = f":{declaration.line}" if declaration.line else ""
        return f"{finding.name}  {declaration.file}{line} ({declaration.group})"
    shown = ", ".join(where(s) for s in finding.sites[:SHOWN_LOCATIONS])
    more = len(finding.sites) - SHOWN_LOCATIONS
    text = f"{finding.name}  {shown}" + (f" and {more} more" if more > 0 else "")
    if finding.more:
        text += f" (and {finding.more} more file{'s' if finding.more != 1 else ''} not read)"
    if finding.code == "undeclared" and finding.distribution:
        text += f"  (provided by {finding.distribution})"
    if finding.code == "undeclared-but-installed-transitively" and finding.via:
        text += f"  (installed as {finding.distribution} through {finding.via[0]})"
    if finding.code == "dev-in-runtime" and finding.declaration is not None:
        text += f"  ({finding.distribution}: {finding.declaration.group})"
    if tests_only(finding):
        text += "  [tests only]"
    if finding.type_checking_only:
        text += "  [TYPE_CHECKING only]"
    elif finding.sites and all(s.guarded for s in finding.sites):
        text += "  [guarded by except ImportError]"
    return text


def as_text(projects: list[Project], findings: list[Finding]) -> str:
    lines: list[str] = []
    several = len(projects) > 1
    for project in projects:
        own = [f for f in findings if f.project == project.root]
        if several and own:
            lines.append(f"project {project.root}" + (f" ({project.name})" if project.name else ""))
        for code in CODES:
            group = [f for f in own if f.code == code]
            if not group:
                continue
            indent = "  " if several else ""
            lines.append(indent + HEADINGS[code])
            lines += [f"{indent}  {describe(f)}" for f in group]
    counts = {code: sum(1 for f in findings if f.code == code) for code in CODES}
    plural = "s" if len(projects) != 1 else ""
    if findings:
        detail = ", ".join(f"{counts[c]} {c}" for c in CODES if counts[c])
        lines.append(f"{len(findings)} finding{'s' if len(findings) != 1 else ''} ({detail}) in {len(projects)} project{plural}")
    else:
        lines.append(f"no findings in {len(projects)} project{plural}")
    return "".join(f"{line}\n" for line in lines)


def escape(text: str, property_: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    return text.replace(":", "%3A").replace(",", "%2C") if property_ else text


def as_github(findings: list[Finding], warnings: list[FileWarning]) -> str:
    lines = []
    for finding in findings:
        title = escape(f"vornu-imports check: {finding.code}", True)
        places: list[tuple[str, int | None]] = [(s.file, s.line if s.cell is None else None) for s in finding.sites[:SHOWN_LOCATIONS]]
        if finding.declaration is not None and not places:
            places = [(finding.declaration.file, finding.declaration.line)]
        for file, line in places or [("", None)]:
            properties = [f"file={escape(file, True)}"] if file else []
            if line:
                properties.append(f"line={line}")
            properties.append(f"title={title}")
            lines.append(f"::error {','.join(properties)}::{escape(finding.message)}")
    for warning in warnings:
        lines.append(f"::warning file={escape(warning.file, True)},title=vornu-imports check::{escape(warning.message)}")
    return "".join(f"{line}\n" for line in lines)
