"""What `import vornu_core` gives: attributes, signature, identity, exported symbols."""

from __future__ import annotations

import importlib
import inspect
import shutil
import subprocess
import sys
import types

import pytest


def test_module_attributes(vornu_core) -> None:
    assert vornu_core.__name__ == "vornu_core"
    assert vornu_core.__doc__ == ""
    assert vornu_core.__all__ == ["scan_imports"]
    assert type(vornu_core.__all__) is list


def test_function_attributes(vornu_core) -> None:
    function = vornu_core.scan_imports
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__name__ == "scan_imports"
    assert function.__qualname__ == "scan_imports"
    assert function.__module__ == "vornu_core"
    assert function.__self__ is vornu_core
    assert function.__doc__ is None
    assert function.__text_signature__ == "(paths)"


def test_signature(vornu_core) -> None:
    signature = inspect.signature(vornu_core.scan_imports)
    assert list(signature.parameters) == ["paths"]
    parameter = signature.parameters["paths"]
    assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert parameter.default is inspect.Parameter.empty


def test_no_exception_class_attribute(vornu_core) -> None:
    public = {name for name in dir(vornu_core) if not name.startswith("__")}
    assert public == {"scan_imports"}


def test_reimport_returns_the_same_module(vornu_core) -> None:
    del sys.modules["vornu_core"]
    try:
        again = importlib.import_module("vornu_core")
    finally:
        sys.modules["vornu_core"] = vornu_core
    assert again is vornu_core
    assert again.__all__ == ["scan_imports"]


def test_reimport_in_a_fresh_process() -> None:
    from conftest import run_child

    result = run_child(
        """
        import sys, vornu_core
        first = vornu_core
        for _ in range(3):
            del sys.modules["vornu_core"]
            import vornu_core
            assert vornu_core is first
        assert vornu_core.__all__ == ["scan_imports"], vornu_core.__all__
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


def test_only_the_init_function_is_exported(vornu_core) -> None:
    library = vornu_core.__file__
    assert library is not None and library.endswith(".so")
    if shutil.which("nm"):
        out = subprocess.run(["nm", "-D", "--defined-only", library], check=True, capture_output=True, text=True).stdout
        symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    elif shutil.which("readelf"):
        out = subprocess.run(["readelf", "--dyn-syms", "-W", library], check=True, capture_output=True, text=True).stdout
        symbols = [
            fields[7]
            for fields in (line.split() for line in out.splitlines())
            if len(fields) >= 8 and fields[6] != "UND" and fields[4] in ("GLOBAL", "WEAK")
        ]
    else:
        pytest.skip("neither nm nor readelf is available")
    assert symbols == ["PyInit_vornu_core"]
