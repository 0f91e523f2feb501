"""VORNU_FORCE_KERNEL, the hook with which tests and benchmarks force a search kernel.

A forced kernel that cannot be had (a name no kernel has, or a kernel this processor cannot
run) makes every call raise "pyo3_runtime.PanicException" naming the value, instead of
scanning quietly with another kernel; it never crashes the process or prints anything.
Empty, or naming a kernel that runs, it changes nothing. Each case runs in a fresh
interpreter: the kernel is chosen once a process.
"""

from __future__ import annotations

import json

import pytest

from conftest import run_child

TWO_CALLS = """
import json, vornu_core
outcomes = []
for _ in range(2):
    try:
        outcomes.append(vornu_core.scan_imports([{root!r}]))
    except BaseException as error:
        outcomes.append([type(error).__name__, isinstance(error, Exception), str(error)])
print(json.dumps(outcomes))
"""


@pytest.mark.parametrize(("forced", "obeyed"), [("", True), ("scalar", True), ("no-such-kernel", False), ("Scalar", False)])
def test_a_forced_kernel_is_obeyed_or_every_call_fails(make_tree, forced: str, obeyed: bool) -> None:
    root = make_tree({"a.py": "import os\n"})
    result = run_child(TWO_CALLS.format(root=str(root)), env_update={"VORNU_FORCE_KERNEL": forced})
    assert (result.returncode, result.stderr) == (0, "")
    for outcome in json.loads(result.stdout):
        if obeyed:
            assert outcome == ["os"]
            continue
        name, is_exception, message = outcome
        assert (name, is_exception) == ("PanicException", False)
        prefix = f'VORNU_FORCE_KERNEL="{forced}": no search kernel has that name; this processor runs '
        assert message.startswith(prefix) and "scalar" in message.removeprefix(prefix).split()
