"""`vornu-imports check`, the installed command, on small generated projects: one per way of
declaring dependencies and per finding, and the cases where the parser must correct the scan."""

from __future__ import annotations

import importlib.util
import json
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

from conftest import require, write_tree

SCRIPT = Path(sys.executable).with_name("vornu-imports")

PEP621 = """\
[project]
name = "app"
dependencies = ["requests>=2", "PyYAML", "never-imported ; python_version > '3'"]
[project.optional-dependencies]
fast = ["orjson"]
"""

# (id, files of the project, extra arguments, expected findings). A finding is written
# "CODE NAME", then for an import the distribution named, if any and named otherwise, the
# places "file:line" (":cell N" in a notebook), " [tc]" when every import of it is under
# TYPE_CHECKING and " [tests]" when every one is in test code. OTHER_PYTHON in the
# arguments is an interpreter other than the one running the check, with the same packages.
CASES = [
    ("pep621 and extras", {
        "pyproject.toml": PEP621,
        "app/__init__.py": "import requests\nimport yaml\nimport numpy\nfrom app import x\n",
        "app/opt.py": "def f():\n    import orjson\n",
    }, [], ["undeclared numpy app/__init__.py:3", "unused never-imported"]),
    # numpy: oldest-supported-numpy, a meta-package, only requires it; twisted: autobahn puts
    # plugins into twisted's package. Neither names the distribution an import of it means.
    ("undeclared names its distribution", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = []\n",
        "app.py": "import yaml\nimport PIL.Image\nimport twisted.internet\nimport numpy\n",
    }, [], ["undeclared PIL (pillow) app.py:2", "undeclared numpy app.py:4", "undeclared twisted app.py:3",
            "undeclared yaml (pyyaml) app.py:1"]),
    ("distributions named around their module, neither installed nor in the table", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['django-fancy-thing', 'python-widget', 'gadget-py']\n",
        "app.py": "import fancy_thing\nimport widget\nimport gadget\n",
    }, [], []),
    ("a requirements file among the test fixtures declares for its own folder", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = []\n",
        "tests/requirements.txt": "suite-dep\n",
        "tests/fixtures/template/requirements.in": "fixture-dep\n",
        "tests/fixtures/template/manage.py": "import fixture_dep\nimport suite_dep\n",
        "tests/test_app.py": "import fixture_dep\nimport suite_dep\nimport a_module_that_exists_nowhere\n",
    }, [], ["undeclared a_module_that_exists_nowhere tests/test_app.py:3 [tests]",
            "undeclared fixture_dep tests/test_app.py:1 [tests]"]),
    ("imports that run when the package is imported, and those that do not", {
        "pyproject.toml": "[project]\nname = 'app'\n[dependency-groups]\ndev = ['d1', 'd2', 'd3', 'd4', 'd5']\n",
        "app/__init__.py": "def f():\n    import d1\n    if f:\n        import d1\nclass C:\n    import d2\n"
                           "if True:\n    import d3\ntry:\n    import d4\nexcept ImportError:\n    pass\n"
                           "async def g():\n    try:\n        import d5\n    finally:\n        pass\n"
                           '"""\n    import d5\n"""\n',
    }, [], ["dev-in-runtime d2 app/__init__.py:6", "dev-in-runtime d3 app/__init__.py:8"]),
    ("dependency groups with include-group", {
        "pyproject.toml": "[project]\nname = 'app'\n[dependency-groups]\nlint = ['ruff_api']\n"
                          "test = ['pytest_like', {include-group = 'lint'}]\n",
        "tests/test_a.py": "import pytest_like\nimport ruff_api\n",
    }, [], []),
    ("poetry", {
        "pyproject.toml": "[tool.poetry]\nname = 'app'\n[tool.poetry.dependencies]\npython = '^3.12'\n"
                          "Django = '^5'\nunused-dep = '1'\nopt-dep = {version = '1', optional = true}\n"
                          "[tool.poetry.extras]\nextra = ['opt-dep']\n"
                          "[tool.poetry.group.test.dependencies]\ncheck-tool = '1'\n"
                          "[tool.poetry.dev-dependencies]\nold-dev = '1'\n",
        "app/__init__.py": "import django\nimport check_tool\n",
        "tests/test_app.py": "import old_dev\nimport opt_dep\n",
    }, [], ["dev-in-runtime check_tool (check-tool) app/__init__.py:2", "unused unused-dep"]),
    ("pdm and uv development dependencies", {
        "pyproject.toml": "[project]\nname = 'app'\n[tool.pdm.dev-dependencies]\nlint = ['pdm-tool']\n"
                          "[tool.uv]\ndev-dependencies = ['uv-tool>=1']\n",
        "tests/test_a.py": "import pdm_tool, uv_tool\n",
    }, [], []),
    ("requirements files", {
        "requirements.txt": "-r requirements/base.txt\n-c constraints.txt\n--index-url https://example.org/simple\n"
                            "hashed==1.0 --hash=sha256:abcd \\\n    --hash=sha256:ef01\n"
                            "marked ; python_version >= '3.8'  # comment\n"
                            "https://example.org/pkgs/from_url-1.0-py3-none-any.whl\n"
                            "-e git+https://example.org/repo.git#egg=editable-one\n",
        "requirements/base.txt": "based[extra]>=1\n",
        "requirements-dev.txt": "dev-only\n",
        "constraints.txt": "pinned-only==1\n",
        "main.py": "import hashed, marked\nimport from_url\nimport editable_one\nimport based\nimport pinned_only\n",
        "tests/test_main.py": "import dev_only\n",
    }, [], ["undeclared pinned_only main.py:5"]),
    ("setup.cfg", {
        "setup.cfg": "[metadata]\nname = app\n[options]\ninstall_requires =\n    click>=8\n    attrs_like\n"
                     "[options.extras_require]\ncli = rich\n",
        "app/__init__.py": "import click\n",
        "app/ui.py": "import rich\n",
    }, [], ["dev-in-runtime rich app/ui.py:1", "unused attrs-like"]),
    ("conda environment and pixi", {
        "environment.yml": "name: x\nchannels: [conda-forge]\ndependencies:\n  - python=3.12\n  - numpy>=1.26\n"
                           "  - conda-forge::scipy\n  - pip\n  - pip:\n    - from-pip==1\n",
        "pixi.toml": "[project]\nname = 'x'\n[dependencies]\npandas = '*'\n"
                     "[feature.test.pypi-dependencies]\nhypothesis = '*'\n",
        "analysis.py": "import numpy, scipy\nimport from_pip\nimport pandas\nimport hypothesis\nimport missing_one\n",
    }, [], ["undeclared missing_one analysis.py:5"]),
    ("stub distributions and TYPE_CHECKING", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['types-cheese']\n"
                          "[dependency-groups]\ndev = ['wine-stubs']\n",
        "app/__init__.py": "from typing import TYPE_CHECKING\nif TYPE_CHECKING:\n    import cheese\n    import bread\n"
                           "import wine\n",
    }, [], ["undeclared bread app/__init__.py:4 [tc]", "undeclared wine app/__init__.py:5"]),
    ("module-map and ignores from the settings and the command line", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['odd-name', 'idle', 'idle-too']\n"
                          "[tool.vornu-imports]\nmodule-map = {odd-name = ['even']}\n"
                          "ignore = ['unused:idle', 'undeclared:internal_*']\n",
        "app.py": "import even\nimport internal_tool\nimport other_tool\n",
    }, ["--ignore", "other_tool"], ["unused idle-too"]),
    ("installed only as a dependency of a declared one", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['pytest']\n",
        "app.py": "import pytest\nimport pluggy\n",
    }, [], ["undeclared-but-installed-transitively pluggy app.py:2"]),
    ("the same, asking the interpreter running the check", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['pytest']\n",
        "app.py": "import pytest\nimport pluggy\n",
    }, ["--python", sys.executable], ["undeclared-but-installed-transitively pluggy app.py:2"]),
    ("the same, asking another interpreter", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['pytest']\n",
        "app.py": "import pytest\nimport pluggy\n",
    }, ["--python", "OTHER_PYTHON"], ["undeclared-but-installed-transitively pluggy app.py:2"]),
    ("a uv workspace", {
        "pyproject.toml": "[tool.uv.workspace]\nmembers = ['packages/*']\n[dependency-groups]\ndev = ['pytest']\n",
        "packages/a/pyproject.toml": "[project]\nname = 'a-lib'\ndependencies = ['b-lib']\n",
        "packages/a/src/a_lib/__init__.py": "import b_lib\n",
        "packages/a/tests/test_a.py": "import pytest\nimport a_lib\n",
        "packages/b/pyproject.toml": "[project]\nname = 'b-lib'\ndependencies = []\n",
        "packages/b/src/b_lib/__init__.py": "import a_lib\n",
    }, [], ["undeclared a_lib (a-lib) packages/b/src/b_lib/__init__.py:1"]),
    ("first-party names, local modules, excluded folders", {
        "pyproject.toml": "[project]\nname = 'my-app'\ndependencies = []\n",
        "src/my_app/__init__.py": "import my_app.sub\nimport nspkg.mod\n",
        "src/nspkg/mod.py": "import my_app\n",
        "scripts/run.py": "import helper\n",
        "scripts/helper.py": "",
        ".venv/pyvenv.cfg": "",
        ".venv/lib/x.py": "import venv_only\n",
        "build/lib/y.py": "import build_only\n",
        "vendor/z.py": "import vendored\n",
    }, ["--exclude", "vendor/"], []),
    ("prose words are not imports", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = []\n",
        "app.py": '"""Sort the rows\nfrom oldest to newest,\nimport nothing\n"""\nx = """\nimport quoted\n"""\n'
                  'def f():\n    """Check what they\n    import error.\n    from the settings import all.\n    """\n',
    }, [], []),
    ("forms the line rule does not read", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['first', 'second', 'third', 'fourth']\n",
        "app.py": "import os, first\ntry: import second\nexcept ImportError: pass\nif True: import third\n"
                  "x = 1; import fourth\nimport os, undeclared_one\n",
    }, [], ["undeclared undeclared_one app.py:6"]),
    ("a notebook", {
        "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['used-in-nb']\n",
        "nb.ipynb": json.dumps({"cells": [
            {"cell_type": "markdown", "source": ["import not_code\n"]},
            {"cell_type": "code", "source": ["%matplotlib inline\n", "!pip install x\n", "import used_in_nb\n",
                                             "import nb_only\n"]},
            {"cell_type": "code", "source": "%%bash\nimport shell_text\n"},
        ], "metadata": {"kernelspec": {"language": "python"}}}),
    }, [], ["undeclared nb_only nb.ipynb:cell 2:4"]),
]


def run_check(cwd: Path, *arguments: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess[str]:
    require(SCRIPT.is_file(), "the vornu-imports console script")
    return subprocess.run([str(SCRIPT), "check", *arguments], cwd=cwd, capture_output=True, text=True, timeout=120,
                          env=env)


def other_python(folder: Path) -> str:
    """A virtual environment of its own whose site-packages lead to this one's (a .pth file),
    so that it has the same distributions but is another interpreter."""
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(folder)], check=True, timeout=120)
    site = next(folder.glob("lib/python3*/site-packages"))
    (site / "same-packages.pth").write_text(sysconfig.get_paths()["purelib"] + "\n", encoding="utf-8")
    return str(folder / "bin" / "python")


def summary(report: dict) -> list[str]:
    lines = []
    for finding in report["findings"]:
        text = f"{finding['code']} {finding['module'] or finding['distribution']}"
        if finding["module"] and finding["distribution"] not in (None, finding["module"]):
            text += f" ({finding['distribution']})"
        places = [
            f"{site['file']}{'' if site['cell'] is None else ':cell ' + str(site['cell'])}:{site['line']}"
            for site in finding["locations"]
        ]
        text += "".join(f" {place}" for place in places[:1]) + "".join(f",{place}" for place in places[1:])
        lines.append(text + (" [tc]" if finding["type_checking_only"] else "") + (" [tests]" if finding["tests_only"] else ""))
    return sorted(lines)


@pytest.mark.parametrize(("files", "arguments", "expected"), [case[1:] for case in CASES], ids=[c[0] for c in CASES])
def test_findings(tmp_path: Path, files: dict[str, str], arguments: list[str], expected: list[str]) -> None:
    if "OTHER_PYTHON" in arguments:
        python = other_python(tmp_path / "other-venv")
        arguments = [python if argument == "OTHER_PYTHON" else argument for argument in arguments]
        tmp_path = tmp_path / "project"
    write_tree(tmp_path, files)
    result = run_check(tmp_path, "--json", "--no-git", *arguments)
    assert result.returncode == (1 if expected else 0), result.stderr
    report = json.loads(result.stdout)
    assert summary(report) == expected
    assert report["warnings"] == []
    text = run_check(tmp_path, "--no-git", *arguments)
    assert (text.returncode, text.stderr) == (result.returncode, "")
    assert text.stdout.splitlines()[-1].startswith(f"{len(expected)} finding" if expected else "no findings")


@pytest.mark.parametrize("grep", [True, False], ids=["grep", "without grep"])
def test_files_the_scan_cannot_read(tmp_path: Path, grep: bool) -> None:
    # Latin-1 with its coding line, and a byte-order mark: the scan reads nothing of the
    # first and misses the first line of the second; a file that does not parse is a warning.
    # Without grep on the PATH the check looks for them itself, with the same result.
    write_tree(tmp_path, {"pyproject.toml": "[project]\nname = 'app'\ndependencies = ['used-latin', 'used-in-try']\n",
                          "bom.py": "\ufeffimport bom_only\n", "broken.py": "import broken_dep\ndef (:\n",
                          "forms.py": "try: import used_in_try\nexcept ImportError: pass\nimport os,forms_only\n"})
    (tmp_path / "latin.py").write_bytes(b"# -*- coding: latin-1 -*-\nimport used_latin\nimport latin_only\ns = '\xe9'\n")
    # A file name that is not UTF-8: scan_imports cannot take it, so it is left out, with a warning.
    (tmp_path / os.fsdecode(b"caf\xe9.py")).write_bytes(b"import latin_name_only\n")
    result = run_check(tmp_path, "--json", "--no-git", env=None if grep else dict(os.environ, PATH=""))
    report = json.loads(result.stdout)
    assert summary(report) == ["undeclared bom_only bom.py:1", "undeclared forms_only forms.py:3",
                               "undeclared latin_only latin.py:3"]
    assert [(w["file"], w["message"].split(":")[0]) for w in report["warnings"]] == [
        (".", "skipped 1 name(s) that are not valid UTF-8"), ("broken.py", "cannot parse")]
    locations = report["findings"][0]["locations"][0]
    assert (locations["guarded"], locations["type_checking"], locations["deferred"]) == (False, False, False)


@pytest.mark.parametrize(("files", "arguments", "message"), [
    ({"pyproject.toml": "[project\n"}, [], "pyproject.toml: Expected ']' at the end of a table declaration"),
    ({"requirements.txt": "ok\nnot a requirement!\n"}, [], "requirements.txt:2: Expected semicolon"),
    ({"requirements.txt": "-r missing.txt\n"}, [], "requirements.txt:1: no such requirements file: missing.txt"),
    ({"pyproject.toml": "[tool.vornu-imports]\nignores = []\n"}, [], "unknown setting 'ignores'"),
    ({"pyproject.toml": "[dependency-groups]\na = [{include-group = 'a'}]\n"}, [], "include-group cycle: a -> a"),
    ({}, ["--ignore", "unusd:x"], "unknown finding code 'unusd'"),
    ({}, ["no/such/folder"], "not a folder: no/such/folder"),
])
def test_configuration_errors(tmp_path: Path, files: dict[str, str], arguments: list[str], message: str) -> None:
    write_tree(tmp_path, files)
    result = run_check(tmp_path, "--no-git", *arguments)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("vornu-imports check: error: ") and message in result.stderr
    assert len(result.stderr.splitlines()) == 1


def test_github_annotations_and_git(tmp_path: Path) -> None:
    write_tree(tmp_path, {".gitignore": "ignored/\n", "pyproject.toml": "[project]\nname = 'app'\ndependencies = ['idle']\n",
                          "app.py": "import missing\n", "ignored/x.py": "import hidden\n"})
    subprocess.run(["git", "init", "-q"], cwd=tmp_path, check=True)
    result = run_check(tmp_path, "--format", "github")
    assert result.returncode == 1
    assert sorted(result.stdout.splitlines()) == [
        "::error file=app.py,line=1,title=vornu-imports check%3A undeclared::missing is imported but no declared"
        " dependency provides it",
        "::error file=pyproject.toml,line=3,title=vornu-imports check%3A unused::idle is declared (runtime,"
        " pyproject.toml) but none of its modules (idle) is imported",
    ]


def test_the_plain_command_does_not_load_the_check(tmp_path: Path) -> None:
    require(importlib.util.find_spec("vornu_imports") is not None, "the vornu_imports package")
    code = ("import sys; from vornu_imports.cli import main; main(['--json', '.']);"
            "print([m for m in ('vornu_imports.check', 'packaging', 'tomllib') if m in sys.modules], file=sys.stderr)")
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stderr) == (0, "[]\n")
