"""The installed `vornu-imports` command, run as a subprocess on real trees."""

from __future__ import annotations

import contextlib
import importlib.util
import itertools
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time
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


def run_cli(*arguments: str, cwd: Path, env: dict[str, str] | None = None) -> subprocess.CompletedProcess[str]:
    require(SCRIPT.is_file(), "the vornu-imports console script")
    return subprocess.run([str(SCRIPT), *arguments], cwd=cwd, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, **(env or {})))


def git(cwd: Path, *arguments: str, env: dict[str, str] | None = None) -> str:
    return subprocess.run(["git", *arguments], cwd=cwd, check=True, capture_output=True, text=True,
                          env=dict(os.environ, **(env or {}))).stdout


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
        (["app", "two\nlines"], "vornu-imports: error: no such file or directory: 'two\\nlines'"),
        (["--git", "--", "-x"], "vornu-imports: error: no such file or directory: -x"),
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


def import_from_package(name: str):
    """A module of the installed vornu_imports package (not there under the sanitized
    build, which has no console script either)."""
    require(importlib.util.find_spec("vornu_imports") is not None, "the vornu_imports package")
    return importlib.import_module(f"vornu_imports.{name}")


# ---------------------------------------------------------------------------------------
# Trees with links of every kind: a tree split for the workers, and the files git lists,
# must read exactly what the walk of the whole tree reads.

# Git as on a fresh machine, whatever this one's configuration, and able to commit.
GIT_ENV = {"GIT_CONFIG_NOSYSTEM": "1", "GIT_CONFIG_GLOBAL": os.devnull, "GIT_AUTHOR_NAME": "t",
           "GIT_AUTHOR_EMAIL": "t@t", "GIT_COMMITTER_NAME": "t", "GIT_COMMITTER_EMAIL": "t@t"}

# Groups of links (name: target), each put at the top and in one directory below it.
LINKS = [
    {"file_link.py": "{outside}/f.py"},
    {"relative_link.py": "f{index}.py", "through_a_link.py": "relative_link.py"},
    {"dir_link": "{outside}/linked_dir", "dir_link.py": "{outside}/linked_dir"},
    {"up.py": "..", "self": "."},
    {"dangling.py": "missing.py", "loop_a.py": "loop_b.py", "loop_b.py": "loop_a.py"},
]


def tangled_tree(base: Path, seed: int) -> Path:
    """base/tree: random directories up to three deep, each with a file that imports a name
    of its own (so that any file read or missed shows), a file that is not Python and a
    directory named like a module; links of every kind (LINKS) at the top and below; a fifo;
    below the top, a file and a directory whose names are not valid UTF-8. base/outside is
    reached only through links."""
    rng = random.Random(seed)
    tree, outside = base / "tree", base / "outside"
    write_tree(outside, {"linked_dir/m.py": "import only_through_dir_link\n", "f.py": "import through_file_link\n"})
    directories = [tree] + sorted({tree.joinpath(*(f"d{rng.randrange(3)}" for _ in range(rng.randint(1, 3))))
                                   for _ in range(10)})
    for index, directory in enumerate(directories):
        write_tree(directory, {f"f{index}.py": f"import name_{index}\n", "notes.txt": f"import text_{index}\n",
                               "odd.py/inner.py": f"import odd_{index}\n"})
    for group in LINKS:
        for directory in (tree, rng.choice(directories[1:])):
            index = directories.index(directory)
            for name, target in group.items():
                if not os.path.lexists(directory / name):
                    os.symlink(target.format(outside=outside, index=index), directory / name)
    os.mkfifo(tree / "pipe.py")
    below = rng.choice(directories[1:])
    (below / os.fsdecode(b"caf\xe9.py")).write_bytes(b"import undecodable_file\n")
    (below / os.fsdecode(b"d\xff")).mkdir()
    (below / os.fsdecode(b"d\xff") / "x.py").write_text("import undecodable_directory\n")
    return tree


@pytest.mark.parametrize("seed", range(6))
def test_a_split_tree_scans_like_the_whole(vornu_core, tmp_path: Path, seed: int) -> None:
    sources = import_from_package("sources")
    tree = str(tangled_tree(tmp_path, seed))
    whole = vornu_core.scan_imports([tree])
    assert whole == pyscan.scan_roots([tree])
    assert {"through_file_link", "undecodable_file", "undecodable_directory"} <= set(whole)
    assert "only_through_dir_link" not in whole
    assert sources.split_roots([tree], 1) == [tree]
    for workers in (2, 3, 64):
        roots = sources.split_roots([tree], workers)
        assert vornu_core.scan_imports(roots) == whole, (workers, roots)
        assert len(roots) > 1
        # Never a directory and something below it: the directory is walked whole.
        directories = [root + "/" for root in roots if os.path.isdir(root)]
        assert [root for root in roots if any(root.startswith(directory) for directory in directories)] == []


@pytest.mark.parametrize(
    ("shape", "most_roots"),
    [
        ("flat", 1),  # one directory of files stays whole: nothing to split but single files
        ("chain", 120),  # a chain of directories is listed only so deep
        ("wide", 300),  # as many roots as the one level has directories
    ],
)
def test_split_shapes(vornu_core, tmp_path: Path, shape: str, most_roots: int) -> None:
    sources = import_from_package("sources")
    files = {
        "flat": {f"f{i}.py": f"import flat_{i}\n" for i in range(300)},
        "chain": {"/".join(["c"] * depth + [f"f{depth}.py"]): f"import chain_{depth}\n" for depth in range(300)},
        "wide": {f"d{i}/f.py": f"import wide_{i}\n" for i in range(300)},
    }[shape]
    tree = str(write_tree(tmp_path / shape, files))
    roots = sources.split_roots([tree], 2)
    assert len(roots) <= most_roots
    assert vornu_core.scan_imports(roots) == vornu_core.scan_imports([tree]) == sorted(
        text.split()[1] for text in files.values())


@pytest.mark.parametrize("seed", range(3))
def test_git_reads_what_the_walk_reads(tmp_path: Path, seed: int) -> None:
    tree = tangled_tree(tmp_path, seed)
    write_tree(tree, {".gitignore": "ignored/\n", "ignored/i.py": "import ignored_by_git\n",
                      "moved/m.py": "import behind_a_replaced_directory\n"})
    # The submodule tracks a file that its .gitignore names: it is listed all the same.
    submodule = write_tree(tmp_path / "submodule", {"s.py": "import submodule_tracked\n",
                                                    "forced.py": "import submodule_tracked_and_ignored\n"})
    git(submodule, "init", "-q", env=GIT_ENV)
    git(submodule, "add", ".", env=GIT_ENV)
    write_tree(submodule, {".gitignore": "forced.py\n"})
    git(submodule, "add", ".gitignore", env=GIT_ENV)
    git(submodule, "commit", "-q", "-m", "s", env=GIT_ENV)
    git(tree, "init", "-q", env=GIT_ENV)
    git(tree, "-c", "protocol.file.allow=always", "submodule", "add", "-q", str(submodule), "sub", env=GIT_ENV)
    git(tree, "add", "-A", env=GIT_ENV)
    write_tree(tree, {"untracked.py": "import untracked_at_the_top\n", "d0/untracked.py": "import untracked_below\n"})
    write_tree(tree / "sub", {"u.py": "import submodule_untracked\n", ".gitignore": "forced.py\nskip.py\n",
                              "skip.py": "import submodule_ignored\n"})
    nested = write_tree(tree / "nested", {"n.py": "import nested_untracked\n", ".gitignore": "x.py\n",
                                          "x.py": "import nested_ignored\n"})
    git(nested, "init", "-q", env=GIT_ENV)
    # A tracked directory replaced by a link: git still lists its file; the walk does not
    # enter a linked directory.
    (tree / "moved").rename(tmp_path / "outside" / "moved")
    os.symlink(tmp_path / "outside" / "moved", tree / "moved")

    walked = run_cli(".", cwd=tree, env={"RAYON_NUM_THREADS": "1"})
    split = run_cli(".", cwd=tree, env={"RAYON_NUM_THREADS": "3"})
    assert (walked.returncode, walked.stderr) == (0, "")
    assert split.stdout == walked.stdout
    names = walked.stdout.splitlines()
    not_from_git = {"ignored_by_git", "submodule_ignored", "nested_ignored",
                    "undecodable_file", "undecodable_directory"}
    assert not_from_git | {"submodule_tracked", "submodule_tracked_and_ignored", "submodule_untracked",
                           "nested_untracked", "untracked_below"} <= set(names)
    assert {"behind_a_replaced_directory", "only_through_dir_link"}.isdisjoint(names)
    # Git names the repository in the environment of its hooks; a nested one is another.
    for arguments, env in [([], {}), (["--git", "."], {}), ([], {"GIT_DIR": str(tree / ".git")})]:
        listed = run_cli(*arguments, cwd=tree, env=env)
        assert listed.returncode == 0
        assert listed.stderr == "vornu-imports: skipped 2 file name(s) that are not valid UTF-8\n"
        assert listed.stdout.splitlines() == [name for name in names if name not in not_from_git]


# ---------------------------------------------------------------------------------------
# When git cannot be asked, the output cannot be written, the user presses Ctrl-C.

WALKED = sorted(IN_GIT + ["ignored_build_dep", "ignored_venv_dep"])


@pytest.mark.parametrize(
    ("env", "reason"),
    [
        ({"PATH": "{empty}"}, "cannot run git: [Errno 2] No such file or directory: 'git'"),
        # git's own switch for testing that check: the repository reads as another user's.
        ({"GIT_TEST_ASSUME_DIFFERENT_OWNER": "1", **GIT_ENV},
         "fatal: detected dubious ownership in repository at '{root}'"),
    ],
    ids=["git not installed", "dubious ownership"],
)
def test_git_cannot_be_asked(project: Path, tmp_path: Path, env: dict[str, str], reason: str) -> None:
    env = {name: value.format(empty=tmp_path) for name, value in env.items()}
    reason = reason.format(root=project.resolve())
    default = run_cli(cwd=project, env=env)
    assert (default.returncode, default.stdout.splitlines()) == (0, WALKED)
    assert default.stderr == f"vornu-imports: walking every file, ignored ones too, as git cannot list them: {reason}\n"
    asked = run_cli("--git", cwd=project, env=env)
    assert (asked.returncode, asked.stdout) == (2, "")
    assert asked.stderr == f"vornu-imports: error: --git: git cannot list the files: {reason}\n"


@pytest.mark.parametrize("arguments", [["."], ["--json", "--distributions", "."], ["--help"], ["--version"]])
@pytest.mark.parametrize(
    ("redirect", "reason"), [(">&-", "standard output is closed"), ("> /dev/full", "No space left on device")]
)
def test_output_that_cannot_be_written(project: Path, arguments: list[str], redirect: str, reason: str) -> None:
    require(SCRIPT.is_file(), "the vornu-imports console script")
    command = ["sh", "-c", f'exec "$0" "$@" {redirect}', str(SCRIPT), *arguments]
    result = subprocess.run(command, cwd=project, capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (1, f"vornu-imports: cannot write the output: {reason}\n")


def test_ctrl_c(project: Path, tmp_path: Path) -> None:
    """SIGINT while the command waits for git: exit status 130, no traceback."""
    require(SCRIPT.is_file(), "the vornu-imports console script")
    started = tmp_path / "git-started"
    fake = tmp_path / "bin" / "git"
    fake.parent.mkdir()
    fake.write_text(f"#!/bin/sh\n: > '{started}'\nexec sleep 600\n")
    fake.chmod(0o755)
    env = dict(os.environ, PATH=f"{fake.parent}{os.pathsep}{os.environ['PATH']}")
    # SIGINT as a terminal gives it, also where this test runs in the background of a shell,
    # which starts its children with SIGINT ignored.
    with subprocess.Popen([str(SCRIPT), "--git"], cwd=project, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, start_new_session=True,
                          preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)) as command:
        try:
            deadline = time.monotonic() + 60
            while not started.exists() and command.poll() is None and time.monotonic() < deadline:
                time.sleep(0.01)
            assert started.exists(), command.communicate()
            command.send_signal(signal.SIGINT)
            stdout, stderr = command.communicate(timeout=60)
        finally:
            with contextlib.suppress(ProcessLookupError):  # the fake git, should it outlive the command
                os.killpg(command.pid, signal.SIGKILL)
    assert (command.returncode, stdout, stderr) == (130, "", "")


def test_git_that_says_much_on_standard_error(project: Path, tmp_path: Path) -> None:
    """More than a pipe holds on standard error before the listing: both are read at once."""
    real = shutil.which("git")
    assert real is not None
    (tmp_path / "git").write_text(f'#!/bin/sh\nhead -c 1000000 /dev/zero >&2\nexec "{real}" "$@"\n')
    (tmp_path / "git").chmod(0o755)
    result = run_cli(cwd=project, env={"PATH": f"{tmp_path}{os.pathsep}{os.environ['PATH']}"})
    assert (result.returncode, result.stdout.splitlines(), result.stderr) == (0, IN_GIT, "")


def test_a_distribution_without_metadata_is_no_provider(tmp_path: Path) -> None:
    # A .dist-info with a RECORD and no METADATA, as an interrupted install leaves it.
    site = write_tree(tmp_path / "site", {"half-1.0.dist-info/RECORD": "halfmod.py,,\n", "halfmod.py": ""})
    tree = write_tree(tmp_path / "tree", {"a.py": "import halfmod\nimport pytest\n"})
    result = run_cli("--distributions", str(tree), cwd=tmp_path, env={"PYTHONPATH": str(site)})
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines() == ["pytest: pytest", "", "no installed distribution provides:", "halfmod"]


def test_common_command_lines_parse_as_argparse_reads_them(capsys: pytest.CaptureFixture[str]) -> None:
    """Every command line of up to four words from a set of options, PATHs and near misses:
    where the command parses it without argparse, argparse reads it alike and without a
    mistake; the plain command lines are among those."""
    cli = import_from_package("cli")
    arguments = import_from_package("arguments")
    words = [*cli.FLAGS, "a", "", "-", "--", "--js", "-h"]
    parsed_quickly = 0
    for length in range(5):
        for argv in itertools.product(words, repeat=length):
            quick = cli.parse_common(list(argv))
            if quick is None:
                continue
            parsed_quickly += 1
            assert vars(arguments.parse_arguments(list(argv))) == vars(quick), argv
    assert capsys.readouterr() == ("", "")
    assert cli.parse_common(["--no-stdlib", "--distributions", "src", "tests"]) is not None
    assert parsed_quickly > 1000
