"""The installed `vornu-imports` command, run as a subprocess on real trees."""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import require, write_tree

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import pyscan  # noqa: E402

SCRIPT = Path(sys.executable).with_name("vornu-imports")
REPOSITORY = Path(__file__).resolve().parents[2]

# A project with a git-ignored venv and build folder, an untracked file that is not
# ignored, a package under src/, stdlib imports, an installed third-party distribution
# (pytest) and names no distribution provides.
PROJECT = {
    ".gitignore": ".venv/\nbuild/\n",
    "app/__init__.py": "from . import util\nimport os\n",
    "app/util.py": "import json\nimport missing_dist_one.sub\nfrom app import core\nimport tool\n",
    "src/lib_pkg/__init__.py": "import _pytest.config\nfrom lib_pkg import x\n",
    "tool.py": "import sys, os\nimport app.util\nimport pytest\n",
    "notes.txt": "import not_python\n",
    ".venv/lib/site.py": "import ignored_venv_dep\n",
    "build/gen.py": "import ignored_build_dep\n",
    "untracked.py": "import vornu_core\n",
}
# "import sys, os" gives nothing: its first word is "sys,", which is no identifier.
IN_GIT = ["_pytest", "app", "json", "lib_pkg", "missing_dist_one", "os", "pytest", "tool", "vornu_core"]
STDLIB = {"json", "os"}
FIRST_PARTY = {"app", "lib_pkg", "tool"}

# (id, arguments, expected lines of output) for runs inside the project's root.
RUNS = [
    ("git by default", [], IN_GIT),
    ("git asked for", ["--git", "."], IN_GIT),
    ("walk", ["."], sorted(IN_GIT + ["ignored_build_dep", "ignored_venv_dep"])),
    ("no stdlib", ["--no-stdlib"], [m for m in IN_GIT if m not in STDLIB]),
    ("no first party", ["--no-first-party"], [m for m in IN_GIT if m not in FIRST_PARTY]),
    ("first party kept", ["--first-party"], IN_GIT),
    ("third party", ["--no-stdlib", "--no-first-party"], ["_pytest", "missing_dist_one", "pytest", "vornu_core"]),
    ("one file and one package", ["--no-first-party", "tool.py", "app"], ["json", "missing_dist_one", "os", "pytest"]),
    ("distributions", ["--no-stdlib", "--no-first-party", "--distributions"],
     ["_pytest: pytest", "pytest: pytest", "vornu_core: vornu_core", "", "no installed distribution provides:",
      "missing_dist_one"]),
]


def run_cli(*arguments: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    require(SCRIPT.is_file(), "the vornu-imports console script")
    return subprocess.run([str(SCRIPT), *arguments], cwd=cwd, capture_output=True, text=True, timeout=120)


def git(cwd: Path, *arguments: str) -> str:
    return subprocess.run(["git", *arguments], cwd=cwd, check=True, capture_output=True, text=True).stdout


@pytest.fixture(scope="module")
def project(tmp_path_factory: pytest.TempPathFactory) -> Path:
    root = write_tree(tmp_path_factory.mktemp("project"), PROJECT)
    git(root, "init", "-q")
    git(root, "add", "--", ".gitignore", "app", "src", "tool.py", "notes.txt")
    return root


@pytest.mark.parametrize(("arguments", "expected"), [run[1:] for run in RUNS], ids=[run[0] for run in RUNS])
def test_runs_in_a_git_project(project: Path, arguments: list[str], expected: list[str]) -> None:
    result = run_cli(*arguments, cwd=project)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines() == expected


def test_json_report(project: Path) -> None:
    result = run_cli("--json", "--no-stdlib", "--distributions", cwd=project)
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    assert len(result.stdout.splitlines()) == 1
    assert report["modules"] == [m for m in IN_GIT if m not in STDLIB]
    assert report["roots"] == ["."]
    assert isinstance(report["seconds"], float) and report["seconds"] >= 0
    assert report["distributions"]["pytest"] == ["pytest"]
    assert report["unprovided"] == ["app", "lib_pkg", "missing_dist_one", "tool"]


@pytest.mark.parametrize(
    ("arguments", "message"),
    [
        (["no/such/dir"], "vornu-imports: error: no such file or directory: no/such/dir"),
        (["app", ""], "vornu-imports: error: no such file or directory: "),
        (["--bogus"], "vornu-imports: error: unrecognized arguments: --bogus"),
        (["--git", "outside"], "vornu-imports: error: --git: not inside a git work tree: outside"),
    ],
)
def test_usage_errors(tmp_path: Path, arguments: list[str], message: str) -> None:
    (tmp_path / "outside").mkdir()
    (tmp_path / "app").mkdir()
    result = run_cli(*arguments, cwd=tmp_path)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr == message + "\n"


def test_outside_git_the_current_directory_is_walked(tmp_path: Path) -> None:
    write_tree(tmp_path, {"a.py": "import alpha\n", ".venv/b.py": "import beta\n"})
    result = run_cli(cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, "alpha\nbeta\n")


def test_help_states_the_rule(project: Path) -> None:
    result = run_cli("--help", cwd=project)
    assert result.returncode == 0
    assert 'starts with "import " or "from "' in result.stdout
    assert 'cut before its first ".", is an ASCII identifier' in result.stdout


def test_the_repository_itself(vornu_core) -> None:
    if not (REPOSITORY / ".git").exists():
        pytest.skip("the tests are not in a git checkout")
    listed = git(REPOSITORY, "ls-files", "-z", "--cached", "--others", "--exclude-standard").split("\0")
    files = [str(REPOSITORY / name) for name in listed if name.endswith(".py")]
    by_git = run_cli("--json", cwd=REPOSITORY)
    walked = run_cli("--json", "--no-stdlib", str(REPOSITORY), cwd=REPOSITORY)
    assert by_git.returncode == walked.returncode == 0, by_git.stderr + walked.stderr
    modules = json.loads(by_git.stdout)["modules"]
    assert modules == pyscan.scan_roots(files)
    assert {"vornu_core", "vornu_imports", "pytest", "os"} <= set(modules)
    everything = vornu_core.scan_imports([str(REPOSITORY)])
    assert set(modules) <= set(everything)
    assert json.loads(walked.stdout)["modules"] == [m for m in everything if m not in sys.stdlib_module_names]
