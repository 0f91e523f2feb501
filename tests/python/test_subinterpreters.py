"""The module belongs to the first interpreter that imports it; others are refused.

Each case runs in its own process, since the claim lasts for the life of the process.
Sub-interpreters are made with the legacy (shared GIL) settings through _testcapi, so
that what is observed is the module's own refusal, not the interpreter refusing every
single-phase module. From 3.14 on, the interpreters of concurrent.interpreters (each with
its own GIL) are tried too: they refuse the module themselves.
"""

from __future__ import annotations

import sys

import pytest

from conftest import require, run_child

REFUSAL_PREFIX = "vornu_core modules do not yet support subinterpreters, see "

SUB_IMPORT = """
try:
    import vornu_core
    print("SUB:ok", vornu_core.scan_imports([]), flush=True)
except BaseException as error:
    print("SUB:" + type(error).__name__ + ":" + str(error), flush=True)
"""


@pytest.fixture(autouse=True)
def needs_testcapi() -> None:
    # Python builds without their test modules lack it; a wheel's test run may not.
    require(__import__("importlib.util").util.find_spec("_testcapi") is not None, "_testcapi")


def test_sub_interpreter_refused_after_main() -> None:
    result = run_child(
        f"""
        import _testcapi, vornu_core
        assert vornu_core.scan_imports([]) == []
        rc = _testcapi.run_in_subinterp({SUB_IMPORT!r})
        print("RC:", rc, flush=True)
        # The main interpreter keeps its module.
        import sys
        del sys.modules["vornu_core"]
        import vornu_core as again
        assert again is vornu_core
        print("MAIN:ok", flush=True)
        """
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    sub = [line for line in lines if line.startswith("SUB:")]
    assert len(sub) == 1
    assert sub[0].startswith("SUB:ImportError:" + REFUSAL_PREFIX), sub[0]
    assert "MAIN:ok" in lines


SUB_FIRST = f"""
import _testcapi
rc = _testcapi.run_in_subinterp({SUB_IMPORT!r})
print("RC:", rc, flush=True)
for attempt in range(2):
    try:
        import vornu_core
        print("MAIN:ok", vornu_core.scan_imports([]), flush=True)
    except ImportError as error:
        print("MAIN:ImportError:" + str(error), flush=True)
"""


@pytest.mark.skipif(sys.version_info >= (3, 13), reason="3.13 runs the init function in the main interpreter first")
def test_main_refused_after_sub_interpreter() -> None:
    result = run_child(SUB_FIRST)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert "SUB:ok []" in lines, result.stdout
    main = [line for line in lines if line.startswith("MAIN:")]
    assert len(main) == 2
    for line in main:
        assert line.startswith("MAIN:ImportError:" + REFUSAL_PREFIX), line


@pytest.mark.skipif(sys.version_info < (3, 13), reason="before 3.13 the sub-interpreter initialises the module itself")
def test_sub_interpreter_first_on_313() -> None:
    # From 3.13 on, an import of a single-phase module from a sub-interpreter first runs
    # the init function in the main interpreter, so the main interpreter claims the
    # module and the sub-interpreter's own initialisation is the one refused.
    result = run_child(SUB_FIRST)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    sub = [line for line in lines if line.startswith("SUB:")]
    assert len(sub) == 1 and sub[0].startswith("SUB:ImportError:" + REFUSAL_PREFIX), result.stdout
    assert lines.count("MAIN:ok []") == 2, result.stdout


def test_refusal_names_an_issue_link() -> None:
    result = run_child(
        f"""
        import _testcapi, vornu_core
        _testcapi.run_in_subinterp({SUB_IMPORT!r})
        """
    )
    line = next(line for line in result.stdout.splitlines() if line.startswith("SUB:"))
    link = line.split(REFUSAL_PREFIX, 1)[1]
    assert link.startswith("https://") and " " not in link


ISOLATED = """
from concurrent import interpreters

def sub_import():
    interpreter = interpreters.create()
    try:
        interpreter.exec("import vornu_core")
        print("SUB:ok", flush=True)
    except interpreters.ExecutionFailed as failed:
        print("SUB:" + failed.excinfo.type.__name__, flush=True)
    finally:
        interpreter.close()

def main_import():
    import vornu_core
    print("MAIN:ok", vornu_core.scan_imports([]), flush=True)
"""


@pytest.mark.skipif(sys.version_info < (3, 14), reason="concurrent.interpreters is new in 3.14")
@pytest.mark.parametrize("order", [("main_import", "sub_import"), ("sub_import", "main_import", "sub_import")])
def test_isolated_sub_interpreter_refused(order: tuple[str, ...]) -> None:
    result = run_child(ISOLATED + "\n".join(f"{step}()" for step in order))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert [line for line in lines if line.startswith("SUB:")] == ["SUB:ImportError"] * order.count("sub_import")
    assert lines.count("MAIN:ok []") == 1, result.stdout
