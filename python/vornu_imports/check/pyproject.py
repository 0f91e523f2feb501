"""Declared dependencies in pyproject.toml (PEP 621, PEP 735, Poetry, PDM, uv, pixi) and the
project's own settings there; `Reader`, which the other declaration files share."""

from __future__ import annotations

import os
import re
import tomllib

from vornu_imports.check.model import ConfigError, Declaration, Project, Settings, canonical
from vornu_imports.check.requirements import declaration

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from vornu_imports.check.model import Kind

# Conda packages that are the interpreter or its tools, not libraries imported by code.
CONDA_TOOLS = {"python", "pip", "conda", "setuptools-scm", "wheel"}
SETTING_KEYS = {"ignore", "exclude", "module-map", "first-party"}


class Reader:
    """Collects the declarations of one file, naming the file in every message."""

    def __init__(self, project: Project, base: str, relative: str, shown: str) -> None:
        self.project = project
        self.relative = relative
        self.shown = shown
        self.lines = open_text(os.path.join(base, relative), shown).splitlines()

    def toml(self) -> dict[str, Any]:
        try:
            return tomllib.loads("\n".join(self.lines))
        except tomllib.TOMLDecodeError as error:
            raise ConfigError(f"{self.shown}: {error}") from None

    def line_of(self, needle: str) -> int | None:
        for number, line in enumerate(self.lines, 1):
            if needle in line:
                return number
        return None

    def add(self, text: object, group: str, kind: Kind, key: str) -> None:
        if not isinstance(text, str):
            raise ConfigError(f"{self.shown}: {key}: expected a requirement string, got {text!r}")
        line = self.line_of(text)
        where = f"{self.shown}:{line}" if line else f"{self.shown}: {key}"
        self.project.declarations.append(declaration(text, group, kind, self.shown, line, where))

    def add_named(self, name: str, group: str, kind: Kind, text: str | None = None) -> None:
        pattern = re.compile(rf"^\s*[\"']?{re.escape(name)}[\"']?\s*=")
        line = next((n for n, text_ in enumerate(self.lines, 1) if pattern.match(text_)), None)
        self.project.declarations.append(
            Declaration(canonical(name), text or name, group, kind, self.shown, line)
        )


def open_text(path: str, shown: str) -> str:
    try:
        with open(path, encoding="utf-8") as file:
            return file.read()
    except (OSError, UnicodeDecodeError) as error:
        raise ConfigError(f"{shown}: cannot read: {error}") from None


def table(data: Any, key: str, shown: str) -> dict[str, Any]:
    value = data.get(key, {}) if isinstance(data, dict) else {}
    if not isinstance(value, dict):
        raise ConfigError(f"{shown}: {key}: expected a table")
    return value


def array(data: dict[str, Any], key: str, shown: str) -> list[Any]:
    value = data.get(key, [])
    if not isinstance(value, list):
        raise ConfigError(f"{shown}: {key}: expected an array")
    return value


def read_pyproject(project: Project, base: str, relative: str, shown: str) -> None:
    reader = Reader(project, base, relative, shown)
    data = reader.toml()
    pep621 = table(data, "project", shown)
    tool = table(data, "tool", shown)
    poetry = table(tool, "poetry", shown)
    for candidate in (pep621.get("name"), poetry.get("name")):
        if isinstance(candidate, str) and project.name is None:
            project.name = canonical(candidate)
    for text in array(pep621, "dependencies", shown):
        reader.add(text, "runtime", "runtime", "project.dependencies")
    for extra, texts in table(pep621, "optional-dependencies", shown).items():
        for text in texts if isinstance(texts, list) else [texts]:
            reader.add(text, f"extra:{extra}", "extra", f"project.optional-dependencies.{extra}")
    for text in array(table(data, "build-system", shown), "requires", shown):
        reader.add(text, "build-system", "dev", "build-system.requires")
    read_dependency_groups(reader, table(data, "dependency-groups", shown))
    read_poetry(reader, poetry)
    for group, texts in table(table(tool, "pdm", shown), "dev-dependencies", shown).items():
        for text in texts if isinstance(texts, list) else [texts]:
            add_pdm(reader, text, f"group:{group}")
    uv = table(tool, "uv", shown)
    for text in array(uv, "dev-dependencies", shown):
        reader.add(text, "group:dev", "dev", "tool.uv.dev-dependencies")
    workspace = table(uv, "workspace", shown)
    if "members" in workspace:
        excluded = array(workspace, "exclude", shown)
        project.workspace_members = [m for m in array(workspace, "members", shown) if m not in excluded]
    read_pixi(reader, table(tool, "pixi", shown))
    read_package_settings(project, tool, shown)
    project.settings = read_settings(table(tool, "vornu-imports", shown), shown)


def read_dependency_groups(reader: Reader, groups: dict[str, Any]) -> None:
    normalised: dict[str, Any] = {canonical(name): value for name, value in groups.items()}

    def expand(name: str, trail: tuple[str, ...]) -> list[str]:
        if name in trail:
            raise ConfigError(f"{reader.shown}: dependency-groups: include-group cycle: {' -> '.join(trail + (name,))}")
        if name not in normalised:
            raise ConfigError(f"{reader.shown}: dependency-groups: no group named {name!r}")
        texts: list[str] = []
        for item in normalised[name]:
            if isinstance(item, dict) and set(item) == {"include-group"}:
                texts += expand(canonical(str(item["include-group"])), trail + (name,))
            elif isinstance(item, str):
                texts.append(item)
            else:
                raise ConfigError(f"{reader.shown}: dependency-groups.{name}: unexpected item {item!r}")
        return texts

    for name in normalised:
        for text in expand(name, ()):
            reader.add(text, f"group:{name}", "dev", f"dependency-groups.{name}")


def read_poetry(reader: Reader, poetry: dict[str, Any]) -> None:
    shown = reader.shown
    extras: dict[str, str] = {}
    for extra, names in table(poetry, "extras", shown).items():
        for name in names if isinstance(names, list) else []:
            extras.setdefault(canonical(str(name)), extra)
    for name, constraint in table(poetry, "dependencies", shown).items():
        if name.lower() == "python":
            continue
        optional = any(isinstance(s, dict) and s.get("optional") for s in (constraint if isinstance(constraint, list) else [constraint]))
        if optional:
            reader.add_named(name, f"extra:{extras.get(canonical(name), name)}", "extra")
        else:
            reader.add_named(name, "runtime", "runtime")
    for name in table(poetry, "dev-dependencies", shown):
        reader.add_named(name, "group:dev", "dev")
    for group, settings in table(poetry, "group", shown).items():
        for name in table(settings, "dependencies", shown):
            if name.lower() != "python":
                reader.add_named(name, f"group:{group}", "dev")


def add_pdm(reader: Reader, text: object, group: str) -> None:
    if isinstance(text, str) and text.startswith("-e"):
        match = re.search(r"#egg=([\w.-]+)", text) or re.search(r"([\w.-]+)\s*@", text)
        if match:
            reader.add_named(match.group(1), group, "dev", text)
        return
    reader.add(text, group, "dev", f"tool.pdm.dev-dependencies.{group.removeprefix('group:')}")


def read_pixi(reader: Reader, pixi: dict[str, Any]) -> None:
    """pixi's manifest (pixi.toml, or [tool.pixi] in pyproject.toml): conda and PyPI
    dependencies, and those of each feature."""
    shown = reader.shown
    sections: list[tuple[dict[str, Any], str, Kind]] = [(pixi, "environment", "environment")]
    for feature, settings in table(pixi, "feature", shown).items():
        sections.append((settings, f"feature:{feature}", "dev"))
    for section, group, kind in sections:
        tables = [section] + list(table(section, "target", shown).values())
        for part in tables:
            for key in ("dependencies", "pypi-dependencies"):
                for name in table(part, key, shown):
                    if name.lower() not in CONDA_TOOLS:
                        reader.add_named(name, group, kind)


def read_package_settings(project: Project, tool: dict[str, Any], shown: str) -> None:
    """Where the project's own packages are, as its build backend is told."""
    paths = project.package_paths
    setuptools = table(tool, "setuptools", shown)
    package_dir = table(setuptools, "package-dir", shown)
    packages = setuptools.get("packages")
    if isinstance(packages, list):
        for name in packages:
            paths.append(os.path.join(str(package_dir.get("", "")), str(name).split(".")[0]))
    elif isinstance(packages, dict):
        for where in array(table(packages, "find", shown), "where", shown) or ["."]:
            paths.append(os.path.join(str(where), "*"))
    for name in array(setuptools, "py-modules", shown):
        paths.append(f"{name}.py")
    hatch = table(table(table(table(tool, "hatch", shown), "build", shown), "targets", shown), "wheel", shown)
    paths += [str(p) for p in array(hatch, "packages", shown)]
    for entry in array(table(tool, "poetry", shown), "packages", shown):
        if isinstance(entry, dict) and "include" in entry:
            paths.append(os.path.join(str(entry.get("from", "")), str(entry["include"]).split("/")[0]))
    module = table(table(tool, "flit", shown), "module", shown).get("name")
    if isinstance(module, str):
        paths.append(module)


def read_settings(section: dict[str, Any], shown: str) -> Settings:
    unknown = sorted(set(section) - SETTING_KEYS)
    if unknown:
        raise ConfigError(f"{shown}: [tool.vornu-imports]: unknown setting {unknown[0]!r}")
    settings = Settings()
    for key, target in (("ignore", settings.ignore), ("exclude", settings.exclude), ("first-party", settings.first_party)):
        values = section.get(key, [])
        if not isinstance(values, list) or not all(isinstance(v, str) for v in values):
            raise ConfigError(f"{shown}: [tool.vornu-imports] {key}: expected an array of strings")
        target.extend(values)
    module_map = section.get("module-map", {})
    if not isinstance(module_map, dict):
        raise ConfigError(f"{shown}: [tool.vornu-imports] module-map: expected a table")
    for name, modules in module_map.items():
        if isinstance(modules, str):
            modules = [modules]
        if not isinstance(modules, list) or not all(isinstance(m, str) and m.isidentifier() for m in modules):
            raise ConfigError(
                f"{shown}: [tool.vornu-imports] module-map.{name}: expected module names (identifiers)"
            )
        settings.module_map[canonical(name)] = list(modules)
    return settings
