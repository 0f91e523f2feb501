"""Prints, as JSON, what the check needs to know of the interpreter running it: where it
looks for distributions (sys.path), its standard library names, and the values of the
environment markers of PEP 508.

`vornu-imports check --python PATH` runs this file's text in that interpreter, so it imports
nothing but the standard library and keeps to what Python 3.8 has; the check reads that
interpreter's distributions' metadata itself, and only those it needs. For the interpreter
that runs the check, the check calls the functions here directly."""

import json
import os
import sys


def marker_environment() -> "dict[str, str]":
    """The values of PEP 508's marker variables for this interpreter, as `packaging` finds them."""
    import platform

    implementation = sys.implementation
    version = "{0.major}.{0.minor}.{0.micro}".format(implementation.version)
    if implementation.version.releaselevel != "final":
        version += implementation.version.releaselevel[0] + str(implementation.version.serial)
    return {
        "implementation_name": implementation.name,
        "implementation_version": version,
        "os_name": os.name,
        "platform_machine": platform.machine(),
        "platform_release": platform.release(),
        "platform_system": platform.system(),
        "platform_version": platform.version(),
        "python_full_version": platform.python_version(),
        "platform_python_implementation": platform.python_implementation(),
        "python_version": ".".join(platform.python_version_tuple()[:2]),
        "sys_platform": sys.platform,
    }


def stdlib_names() -> "list[str]":
    return sorted(set(getattr(sys, "stdlib_module_names", ())) | set(sys.builtin_module_names))


def search_path() -> "list[str]":
    """The folders where distributions are looked for, in the order they are."""
    return [entry for entry in sys.path if entry and os.path.isdir(entry)]


if __name__ == "__main__":
    json.dump({"python": sys.executable, "stdlib": stdlib_names(), "path": search_path(),
               "environment": marker_environment()}, sys.stdout)
