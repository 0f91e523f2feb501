"""Internal failures reach Python as "pyo3_runtime.PanicException".

A worker pool that cannot be started is the failure that can be provoked from outside:
a child process that may not start another thread makes its first call. The process
limit is lowered to zero and, as root is exempt from it, root gives up its identity; no
guess at memory is needed, which a sanitizer's own appetite for address space would spoil.
"""

from __future__ import annotations

import json

import pytest

from conftest import run_child

LIKE_SYSTEM_EXIT = (
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)
POOL_MESSAGE = "The global thread pool has not been initialized."

FAILING_POOL = """
import json, os, resource, sys, vornu_core

# The pool is made at the first call, so the module is imported while threads may still start.
resource.setrlimit(resource.RLIMIT_NPROC, (0, 0))
if os.getuid() == 0:
    # Any unprivileged identity will do: with a limit of zero it makes no difference how many
    # processes already run under it. Everything the child imports is imported above, as the
    # interpreter's own files may not be readable by that identity.
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)

def catch(call):
    try:
        call()
    except Exception:
        raise
    except BaseException as error:
        return error
    raise AssertionError("the call did not fail")

first = catch(lambda: vornu_core.scan_imports([]))
second = catch(lambda: vornu_core.scan_imports(["a", "b"]))
panic = type(first)
"""


def run_failing_pool(body: str) -> dict:
    result = run_child(FAILING_POOL + body, env_update={"RAYON_NUM_THREADS": "4"})
    assert result.returncode == 0, result.stderr
    return {"report": json.loads(result.stdout.splitlines()[-1]), "stderr": result.stderr}


@pytest.fixture(scope="module")
def pool_failure() -> dict:
    return run_failing_pool(
        """
print(json.dumps({
    "name": panic.__name__,
    "qualname": panic.__qualname__,
    "module": panic.__module__,
    "bases": [base.__name__ for base in panic.__bases__],
    "is_exception": issubclass(panic, Exception),
    "same_class": type(second) is panic,
    "doc": panic.__doc__,
    "first_args": list(first.args),
    "second_args": list(second.args),
    "first_str": str(first),
    "has_attribute": hasattr(vornu_core, "PanicException"),
    "third": str(catch(lambda: vornu_core.scan_imports([]))),
}))
"""
    )["report"]


def test_panic_exception_class(pool_failure) -> None:
    assert pool_failure["name"] == "PanicException"
    assert pool_failure["qualname"] == "PanicException"
    assert pool_failure["module"] == "pyo3_runtime"
    assert pool_failure["bases"] == ["BaseException"]
    assert pool_failure["is_exception"] is False
    assert pool_failure["same_class"] is True
    assert pool_failure["has_attribute"] is False


def test_panic_exception_doc(pool_failure) -> None:
    doc = pool_failure["doc"]
    assert doc.startswith("\n")
    first_sentence, rest = doc[1:].split("\n\n", 1)
    assert "raised" in first_sentence and "Python" in first_sentence
    assert rest == LIKE_SYSTEM_EXIT


def test_pool_creation_failure_messages(pool_failure) -> None:
    (first,) = pool_failure["first_args"]
    (second,) = pool_failure["second_args"]
    assert pool_failure["first_str"] == first
    assert first.startswith(POOL_MESSAGE + ": ")
    assert "IOError" in first
    assert second.startswith(POOL_MESSAGE + ": ")
    assert "GlobalPoolAlreadyInitialized" in second
    assert pool_failure["third"] == second


def test_panic_raised_by_the_argument_is_resumed() -> None:
    outcome = run_failing_pool(
        """
class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")

class LenPanics(list):
    def __len__(self):
        raise panic("from len")

class IterPanics(list):
    def __iter__(self):
        raise panic("from iter")

class IterPanicsUnprintable(list):
    def __iter__(self):
        raise panic(Unprintable())

results = []
for argument in (LenPanics(["x"]), IterPanics(["x"]), IterPanicsUnprintable(["x"])):
    error = catch(lambda: vornu_core.scan_imports(argument))
    results.append([type(error) is panic, list(error.args)])
print(json.dumps(results))
"""
    )
    assert outcome["report"] == [
        [True, ["from len"]],
        [True, ["from iter"]],
        [True, ["Unwrapped panic from Python code"]],
    ]
    stderr = outcome["stderr"]
    assert stderr.count("Python stack trace below:") == 3
    assert stderr.count("resuming") == 3
    assert "Traceback (most recent call last):" in stderr
    assert "PanicException: from len" in stderr
    assert "PanicException: from iter" in stderr
