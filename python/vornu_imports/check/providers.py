"""Which modules each distribution provides: the installed environment first, then the
bundled table of distributions whose modules are not named like them, then the name itself."""

from __future__ import annotations

import os

from vornu_imports.check.environment import Environment
from vornu_imports.check.model import ConfigError

TABLE = os.path.join(os.path.dirname(__file__), "data", "distribution_modules.json")


class Table:
    """The bundled table: `modules` of each distribution listed, and apart the meta-packages
    (whose modules are their requirements') and the namespace portions of each."""

    def __init__(self, modules: dict[str, list[str]], meta: frozenset[str], portions: dict[str, list[str]]) -> None:
        self.modules = modules
        self.meta = meta
        self.portions = portions


_table: Table | None = None


def bundled_table() -> Table:
    global _table
    if _table is None:
        import json

        try:
            with open(TABLE, encoding="utf-8") as file:
                data = json.load(file)
            _table = Table(dict(data["distributions"]), frozenset(data.get("meta-packages", ())),
                           dict(data.get("namespace-portions", {})))
        except (OSError, ValueError, KeyError) as error:
            raise ConfigError(f"the bundled table {TABLE} cannot be read: {error}") from None
    return _table


_reverse: dict[str, list[str]] | None = None


def table_providers(module: str) -> list[str]:
    """The distributions of the table that provide `module` themselves and as more than a
    namespace portion: a meta-package provides the modules of what it requires, and a
    portion is shared, so an import of either says nothing of the distribution."""
    global _reverse
    if _reverse is None:
        table = bundled_table()
        _reverse = {}
        for distribution, modules in sorted(table.modules.items()):
            if distribution not in table.meta:
                shared = table.portions.get(distribution, ())
                for provided in modules:
                    if provided not in shared:
                        _reverse.setdefault(provided, []).append(distribution)
    return _reverse.get(module, [])


# Words that distributions put around the name of the module they provide (python-dateutil,
# django-modelcluster, pyyaml's kin py-X, X-python): the name without them is a module too.
PREFIXES = ("python-", "py-", "django-")
SUFFIXES = ("-python", "-py")


def names_from_name(name: str) -> list[str]:
    """The modules a distribution that is neither installed nor in the table may provide: its
    name with "-" as "_", and that name without one of the usual prefixes or suffixes."""
    found = {name.replace("-", "_")}
    for prefix in PREFIXES:
        if name.startswith(prefix) and len(name) > len(prefix):
            found.add(name[len(prefix):].replace("-", "_"))
    for suffix in SUFFIXES:
        if name.endswith(suffix) and len(name) > len(suffix):
            found.add(name[: -len(suffix)].replace("-", "_"))
    return sorted(module for module in found if module.isidentifier()) or [name.replace("-", "_")]


def stub_base(name: str) -> str | None:
    """The distribution a stub-only distribution describes: types-X and X-stubs give X."""
    if name.startswith("types-"):
        return name[len("types-") :]
    if name.endswith("-stubs"):
        return name[: -len("-stubs")]
    return None


class Providers:
    def __init__(self, environment: Environment, module_map: dict[str, list[str]],
                 siblings: dict[str, list[str]]) -> None:
        self.environment = environment
        self.module_map = module_map
        self.siblings = siblings  # projects of the same tree: name -> their own modules

    def modules_of(self, name: str) -> tuple[list[str], str]:
        """The modules of a distribution, and where that answer comes from."""
        base = stub_base(name)
        if base is not None:
            modules, source = self.modules_of(base)
            installed = self.environment.modules(name)
            return sorted(set(modules) | set(installed)), source
        if name in self.module_map:
            return self.module_map[name], "module-map"
        if name in self.siblings:
            return self.siblings[name], "project"
        installed = self.environment.modules(name)
        if installed:
            return installed, "installed"
        table = bundled_table().modules
        if name in table:
            return table[name], "table"
        return names_from_name(name), "name"

    def suggestion(self, module: str) -> str | None:
        """A distribution that would provide `module`, for the message of an undeclared import."""
        for name, modules in sorted(self.siblings.items()):
            if module in modules:
                return name
        for found in (self.environment.providers(module), table_providers(module)):
            if found:
                return found[0]
        return None
