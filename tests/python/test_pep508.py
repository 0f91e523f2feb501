"""The check's own reading of requirement strings and markers against `packaging`'s, which it
stands in for on the common shapes: where it answers, it must answer as `packaging` does."""

from __future__ import annotations

import itertools

import pytest

packaging_requirements = pytest.importorskip("packaging.requirements")
pep508 = pytest.importorskip("vornu_imports.check.pep508")

REQUIREMENTS = [
    "requests", "requests>=2", "PyYAML ==6.0.1", "a.b_c-d", "x[extra1, Extra-2] (>=1.0,<2)", "y~=1.2", "z==1.0.*",
    "v!=2.0rc1", "w>=1.0a1.post2.dev3", "u===1.0", "t>=1.0+local", "s @ https://example.org/s.whl",
    "numpy >= 1.26.0; sys.platform != 'win32' or python_version < '3.15'", "tzdata; sys_platform == 'win32'",
    "c; extra == 'Test_X'", "d; (os_name == 'nt' or os_name == 'posix') and extra != 'a'",
    "e; python_full_version >= '3.8.1' and platform_python_implementation == 'CPython'",
    "f; 'linux' in sys_platform", "g; platform_release >= '5'", "h; python_version ~= '3.8'",
    "i; python_version in '3.10 3.11'", "j; implementation_name == \"cpython\" and python_version >= '3'",
    # Not requirements: each must go to packaging, which rejects it.
    "not a requirement!", "k>=", "l; python_version >>> '3'", "m; ()", "n; unknown_variable == '1'", "o[", "-e .",
    "p; python_version", "q >= abc",
]
ENVIRONMENTS = [
    {"python_version": "3.12", "python_full_version": "3.12.1", "sys_platform": "linux", "os_name": "posix",
     "platform_release": "6.1.0-13-amd64", "platform_python_implementation": "CPython", "implementation_name": "cpython"},
    {"python_version": "3.8", "python_full_version": "3.8.0", "sys_platform": "win32", "os_name": "nt",
     "platform_release": "10", "platform_python_implementation": "PyPy", "implementation_name": "pypy"},
]


@pytest.mark.parametrize("text", REQUIREMENTS)
def test_requirements_read_as_packaging_reads_them(text: str) -> None:
    from packaging.markers import Marker, default_environment

    try:
        expected = packaging_requirements.Requirement(text)
    except packaging_requirements.InvalidRequirement:
        expected = None
    found = pep508.parse(text)
    if found is None:
        # packaging decides: anything but the shapes nearly every project writes
        assert expected is None or "@" in text or text.startswith(("t>", "u=", "v!", "w>")), "a common shape left to packaging"
        return
    assert expected is not None, "read a string that is no requirement"
    name, extras, marker = found
    assert (name, extras) == (expected.name, frozenset(e.lower() for e in expected.extras))
    assert (marker is None) == (expected.marker is None)
    if marker is None:
        return
    for overrides, extra in itertools.product(ENVIRONMENTS, ["", "test-x", "a"]):
        environment = dict(default_environment(), **overrides, extra=extra)
        value = pep508.evaluate(marker, environment)
        if value is not None:
            assert value == Marker(marker).evaluate(environment), (overrides, extra)
