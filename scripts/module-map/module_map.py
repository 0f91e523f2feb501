"""Makes the table of distributions whose importable top-level modules are not simply their
own name: python/vornu_imports/check/data/distribution_modules.json, which `vornu-imports
check` consults for declared distributions that are not installed.

For each candidate distribution it takes the newest wheel (from folders of wheels given
with --wheels, from its cache, or else read in place on the package index through HTTP range
requests and kept in the cache as a skeleton: the member names with only the few texts read
here) and reads its list of files, top_level.txt, `.pth` files and METADATA, never unpacking or importing it.
Run it through scripts/make-module-map, which provides an interpreter with `packaging`.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import datetime
import email
import io
import json
import os
import re
import sys
import tempfile
import time
import urllib.request
import zipfile
from pathlib import Path
from typing import Callable

from packaging.requirements import InvalidRequirement, Requirement
from packaging.utils import InvalidWheelFilename, canonicalize_name, parse_wheel_filename

REPOSITORY = Path(__file__).resolve().parents[2]
DEFAULT_CANDIDATES = Path(__file__).with_name("candidates.txt")
DEFAULT_OUT = REPOSITORY / "python/vornu_imports/check/data/distribution_modules.json"
DEFAULT_CACHE = REPOSITORY / "build-module-map"

# Folder names that wheels ship at the top by packaging mistake (a `packages=find_packages()`
# that caught the test suite). Every such wheel would otherwise claim to provide a project's
# own `tests` package, which is never what an import of it means.
MISPACKAGED = frozenset({"benchmark", "benchmarks", "doc", "docs", "example", "examples", "setup", "test", "tests"})

# A Python extension module: `name.so`, `name.pyd`, or with an ABI tag between
# (`name.cpython-312-x86_64-linux-gnu.so`, `name.abi3.so`, `name.cp312-win_amd64.pyd`).
# A plain shared library such as `libfoo.so.1` is no module.
EXTENSION = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)(\.[^./]+)?\.(so|pyd)$")

# The package index, read through its JSON simple API (PEP 691).
INDEX = "https://pypi.org/simple"


def module_of_file(name: str) -> str | None:
    """The module a file of this name provides when it lies directly in site-packages."""
    if name.endswith((".py", ".pyc")):
        stem = name.rsplit(".", 1)[0]
        return stem if stem.isidentifier() else None
    match = EXTENSION.match(name)
    if match is None or (match.group(2) is None and name.startswith("lib") and name.endswith(".so")):
        return None  # `libfoo.so` is a shared library by convention (networkit ships one at the top)
    return match.group(1)


def installed_paths(names: list[str]) -> list[list[str]]:
    """The wheel's files as they land in site-packages, each split into its parts: metadata
    and the scripts, headers and data of `*.data/` left out, `*.data/purelib|platlib/`
    moved to the top, where the installer puts them."""
    paths = []
    for name in names:
        if name.endswith("/"):
            continue
        parts = name.split("/")
        if parts[0].endswith(".dist-info"):
            continue
        if parts[0].endswith(".data"):
            if len(parts) < 3 or parts[1] not in ("purelib", "platlib"):
                continue
            parts = parts[2:]
        paths.append(parts)
    return paths


def modules_from_files(paths: list[list[str]], namespaces: bool = True) -> tuple[set[str], set[str]]:
    """Top-level importable names with Python code: `*.py` and extension modules at the top,
    folders that hold such files somewhere below (packages and, with `namespaces`, namespace
    packages); and, apart, the top-level folders without stubs whose names could be imported."""
    modules, folders, stubs = set(), set(), set()
    for parts in paths:
        top = parts[0]
        if len(parts) == 1:
            module = module_of_file(top)
            if module is not None:
                modules.add(module)
        elif top.isidentifier() and top != "__pycache__":
            folders.add(top)
            if parts[-1].endswith(".pyi"):
                stubs.add(top)
            holds_code = module_of_file(parts[-1]) is not None
            if holds_code and namespaces or len(parts) == 2 and module_of_file(parts[1]) == "__init__":
                modules.add(top)
    return modules, folders - stubs


def namespace_portions(names: list[str]) -> set[str]:
    """The top-level folders with Python code below them but no `__init__` of their own:
    portions of a namespace that other distributions share (google, zope), or a plugin
    folder inside another project's package (autobahn's twisted/plugins). The distribution
    provides them, but an import of one says nothing of which distribution is meant."""
    paths = installed_paths(names)
    with_code = {parts[0] for parts in paths if len(parts) > 1 and module_of_file(parts[-1]) is not None}
    initialised = {parts[0] for parts in paths if len(parts) == 2 and module_of_file(parts[1]) == "__init__"}
    files = {module_of_file(parts[0]) for parts in paths if len(parts) == 1}
    return {top for top in with_code - initialised - files if top.isidentifier()}


def pth_folders(pth_text: str) -> list[list[str]]:
    """The folders a `.pth` file puts on sys.path, relative to site-packages (pywin32's
    adds win32 and win32/lib, whence `import win32api` and `import pywintypes`). Its
    `import` lines run code, which is not followed. Below such a folder only packages with
    an `__init__` count: its other folders are demos and scripts (pywin32's win32/Demos)."""
    folders = []
    for line in pth_text.splitlines():
        line = line.strip()
        if line and not line.startswith(("#", "import ", "import\t")) and not line.startswith("/"):
            parts = [part for part in re.split(r"[/\\]", line) if part not in ("", ".")]
            if parts and ".." not in parts:
                folders.append(parts)
    return folders


def top_level_modules(distribution: str, names: list[str], top_level_txt: str | None = None,
                      pth_texts: tuple[str, ...] = ()) -> list[str]:
    """The sorted top-level modules of a wheel with these file names. The files decide;
    top_level.txt only adds a folder without Python code or stubs that it names (the CUDA
    library wheels declare `nvidia` so, a namespace imported to find them), and what it names that
    the wheel does not have (stale entries, stub folders, mypyc helpers) is ignored. Folders
    that the wheel's `.pth` files put on sys.path count as the top too."""
    paths = installed_paths(names)
    modules, folders = modules_from_files(paths)
    for folder in (folder for text in pth_texts for folder in pth_folders(text)):
        depth = len(folder)
        below = [p[depth:] for p in paths if len(p) > depth and p[:depth] == folder]
        modules |= modules_from_files(below, namespaces=False)[0]
    listed = {line.strip().split("/")[0] for line in (top_level_txt or "").splitlines()}
    own = distribution.replace("-", "_")
    chosen = modules | (listed & folders)
    return sorted(module for module in chosen if module not in MISPACKAGED or module == own)


def requirements_of(metadata: str) -> list[str]:
    """The distributions a METADATA text requires whatever extras are chosen. Other markers
    (platform, Python version) are kept: which machine runs this must not change the table."""
    names = set()
    for value in email.message_from_string(metadata).get_all("Requires-Dist") or []:
        try:
            requirement = Requirement(value)
        except InvalidRequirement:
            continue
        if requirement.marker is None or "extra" not in str(requirement.marker):
            names.add(canonicalize_name(requirement.name))
    return sorted(names)


def read_wheel(distribution: str, wheel: Path) -> tuple[list[str], list[str], list[str]]:
    """The wheel's top-level modules, the distributions it requires unconditionally, and
    which of the modules are namespace portions."""
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()

        def text(name: str) -> str:
            return archive.read(name).decode("utf-8", "replace")

        def metadata_file(leaf: str) -> str | None:
            found = [n for n in names if n.count("/") == 1 and n.endswith(".dist-info/" + leaf)]
            return text(found[0]) if len(found) == 1 else None

        top_level, metadata = metadata_file("top_level.txt"), metadata_file("METADATA")
        pth = tuple(text(n) for n in names if n.endswith(".pth") and [len(p) for p in installed_paths([n])] == [1])
    modules = top_level_modules(distribution, names, top_level, pth)
    return modules, requirements_of(metadata or ""), sorted(namespace_portions(names) & set(modules))


def provided(name: str, wheel_of: Callable[[str], Path | None], memo: dict, depth: int = 0) -> list[str] | None:
    """What installing `name` makes importable; None without a wheel. A meta-package, whose
    own wheel holds no module (jupyter, python-igraph, fastmcp), provides what the
    distributions it requires provide: whoever declares it imports those."""
    if name not in memo:
        wheel = wheel_of(name)
        try:
            memo[name] = None if wheel is None else read_wheel(name, wheel)
        except (OSError, zipfile.BadZipFile) as error:
            print(f"  {name}: {wheel}: {error}", file=sys.stderr)
            memo[name] = None
    if memo[name] is None:
        return None
    modules, requires, _ = memo[name]
    if modules or depth >= 3:
        return modules
    inherited = set()
    for required in requires:
        inherited.update(provided(required, wheel_of, memo, depth + 1) or [])
    return sorted(inherited)


def choose_wheel(wheels: list[Path]) -> Path:
    """The newest final release (a pre-release only when there is nothing else), then a
    pure wheel, else a Linux x86_64 one, else any other; the file name settles the rest, so
    the choice never depends on listing order."""
    parsed = [(wheel, *parse_wheel_filename(wheel.name)[1::2]) for wheel in wheels]
    newest = max((not version.is_prerelease, version) for _, version, _ in parsed)[1]

    def kind(tags: frozenset) -> int:
        platforms = {tag.platform for tag in tags}
        return 0 if "any" in platforms else 1 if any("linux" in p and "x86_64" in p for p in platforms) else 2

    return min((kind(tags), wheel.name, wheel) for wheel, version, tags in parsed if version == newest)[2]


def index_wheels(folders: list[Path]) -> dict[str, list[Path]]:
    wheels: dict[str, list[Path]] = {}
    for folder in folders:
        for wheel in sorted(folder.glob("*.whl")) if folder.is_dir() else []:
            try:
                name = parse_wheel_filename(wheel.name)[0]
            except InvalidWheelFilename:
                continue
            wheels.setdefault(name, []).append(wheel)
    return wheels


class RangeFile(io.RawIOBase):
    """A wheel on the package index read in place through HTTP range requests, as pip's own
    lazy wheel reading does: zipfile seeks to the central directory at the end and reads only
    the few members asked for, so a wheel of a gigabyte costs a few kilobytes."""

    # Reads ask for at least this much, so that the central directory and the small members
    # near it come in one or two requests rather than one a member.
    BLOCK = 1 << 16

    def __init__(self, url: str, size: int) -> None:
        super().__init__()
        self.url, self.size, self.position = url, size, 0
        self.block_start, self.block = 0, b""

    def seekable(self) -> bool:
        return True

    def readable(self) -> bool:
        return True

    def tell(self) -> int:
        return self.position

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        base = {io.SEEK_SET: 0, io.SEEK_CUR: self.position, io.SEEK_END: self.size}[whence]
        self.position = max(0, base + offset)
        return self.position

    def read(self, size: int = -1) -> bytes:
        end = self.size if size < 0 else min(self.size, self.position + size)
        if end <= self.position:
            return b""
        if not (self.block_start <= self.position and end <= self.block_start + len(self.block)):
            start = self.position if self.size - self.position > self.BLOCK else max(0, self.size - self.BLOCK)
            stop = min(self.size, max(end, start + self.BLOCK))
            request = urllib.request.Request(self.url, headers={"Range": f"bytes={start}-{stop - 1}"})
            with urllib.request.urlopen(request, timeout=60) as response:
                block = response.read()
            if response.status != 206 or len(block) != stop - start:
                raise OSError(f"range request for {self.url} answered {response.status} with {len(block)} bytes")
            self.block_start, self.block = start, block
        start, self.position = self.position, end
        return self.block[start - self.block_start:end - self.block_start]


def index_files(distribution: str) -> list[dict]:
    """The files of `distribution` that the index lists (PEP 691 JSON)."""
    request = urllib.request.Request(f"{INDEX}/{distribution}/", headers={"Accept": "application/vnd.pypi.simple.v1+json"})
    with urllib.request.urlopen(request, timeout=60) as response:
        return json.load(response)["files"]


# What a skeleton keeps of a wheel's members: the rest is stored empty, names alone.
KEPT_TEXTS = ("/top_level.txt", "/METADATA", ".pth")


def fetch(distribution: str, cache: Path) -> str | None:
    """Copies the skeleton of the newest wheel of `distribution` into the cache: every member's
    name, with the texts read_wheel looks at (top_level.txt, METADATA, .pth files) and the
    other members empty. None on success, else why not (also recorded, so that a later run
    does not ask again)."""
    try:
        files = [f for f in index_files(distribution) if f["filename"].endswith(".whl") and not f.get("yanked")]
        by_name = {}
        for f in files:
            try:
                parse_wheel_filename(f["filename"])
            except InvalidWheelFilename:
                continue
            by_name[f["filename"]] = f
        if not by_name:
            raise LookupError("no wheel on the index")
        chosen = by_name[choose_wheel([Path(name) for name in by_name]).name]
        with urllib.request.urlopen(urllib.request.Request(chosen["url"], method="HEAD"), timeout=60) as response:
            size = int(response.headers["Content-Length"])
        with zipfile.ZipFile(RangeFile(chosen["url"], size)) as remote, \
                tempfile.NamedTemporaryFile(dir=cache, delete=False) as scratch:
            with zipfile.ZipFile(scratch, "w") as skeleton:
                for member in remote.namelist():
                    keep = member.count("/") <= 1 and member.endswith(KEPT_TEXTS)
                    skeleton.writestr(member, remote.read(member) if keep else b"")
        os.replace(scratch.name, cache / "wheels" / chosen["filename"])
        return None
    except (OSError, LookupError, KeyError, ValueError, zipfile.BadZipFile) as error:
        message = f"{type(error).__name__}: {error}"
        (cache / "unavailable" / distribution).write_text(message + "\n", encoding="utf-8")
        return message


def read_candidates(path: Path) -> list[str]:
    names = set()
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            names.add(canonicalize_name(line))
    return sorted(names)


def render(about: str, table: dict[str, list[str]], meta: list[str], portions: dict[str, list[str]]) -> str:
    """One distribution a line, so that a new run's changes read as a plain diff."""
    lines = [f"  {json.dumps(name)}: {json.dumps(modules)}" for name, modules in sorted(table.items())]
    metas = [f"  {json.dumps(name)}" for name in sorted(meta)]
    shared = [f"  {json.dumps(name)}: {json.dumps(modules)}" for name, modules in sorted(portions.items())]
    return ("{\n" + f'"about": {json.dumps(about)},\n"distributions": {{\n' + ",\n".join(lines) + "\n},\n"
            + '"meta-packages": [\n' + ",\n".join(metas) + "\n],\n"
            + '"namespace-portions": {\n' + ",\n".join(shared) + "\n}\n}\n")


def describe(candidates: int, read: int, listed: int, meta: int, portions: int) -> str:
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    when = datetime.datetime.fromtimestamp(int(epoch) if epoch else time.time(), datetime.UTC)
    return (
        f"Made by scripts/make-module-map on {when:%Y-%m-%d} from the newest wheel at hand of {read} of its "
        f"{candidates} candidate distributions (the others had none), reading each wheel's file list, "
        f"top_level.txt, .pth files and METADATA. Keys are PEP 503 names; a distribution is listed ({listed} are) "
        f"when its top-level modules are not just its name with '-' as '_'. Modules are the *.py and extension "
        f"modules at the top and the folders holding Python code (packages and namespace packages), "
        f"*.data/purelib and platlib counting as the top and other *.data and *.dist-info not at all; a folder "
        f"without code or stubs counts where top_level.txt names it; folders a .pth file puts on sys.path count as the "
        f"top too; tests, docs, examples, benchmarks and setup folders at the top are dropped as packaging "
        f"mistakes; private names (_yaml, _cffi_backend) are kept, being importable. A meta-package, whose wheel "
        f"has no module, lists the modules of the distributions it requires without extras, and is named in "
        f"'meta-packages' ({meta} are): installing it provides those modules, but an import of one of them is no "
        f"sign that it is the distribution wanted, so a search from a module to its distribution passes over it. "
        f"'namespace-portions' ({portions} distributions) names the modules of a distribution that are folders "
        f"without an __init__ of their own: portions of a namespace others share (google, zope) or plugins in "
        f"another project's package (autobahn's twisted); the search from a module passes over those too. "
        f"An empty list means nothing importable even so (programs, data or stubs only). Namespace tops such as google, "
        f"opentelemetry or sphinxcontrib are shared by many distributions."
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="scripts/make-module-map", description=__doc__.split("\n\n")[0])
    parser.add_argument("--candidates", type=Path, default=DEFAULT_CANDIDATES, help="names, one a line")
    parser.add_argument("--wheels", type=Path, action="append", default=[],
                        help="a folder of wheels to use before fetching (repeatable)")
    parser.add_argument("--cache", type=Path, default=DEFAULT_CACHE, help="fetched wheels and failures")
    parser.add_argument("--no-fetch", action="store_true", help="use only the wheels at hand")
    parser.add_argument("--retry", action="store_true", help="ask again for distributions that had no wheel")
    parser.add_argument("--jobs", type=int, default=2, help="downloads at once (default 2)")
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT)
    args = parser.parse_args(argv)
    start = time.monotonic()

    candidates = read_candidates(args.candidates)
    for sub in ("wheels", "unavailable"):
        (args.cache / sub).mkdir(parents=True, exist_ok=True)
    known = index_wheels([*args.wheels, args.cache / "wheels"])
    unavailable = {p.name for p in (args.cache / "unavailable").iterdir()} if not args.retry else set()
    wanted = [name for name in candidates if name not in known and name not in unavailable]
    if wanted and not args.no_fetch:
        print(f"fetching {len(wanted)} distributions, {args.jobs} at a time", file=sys.stderr)
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            for name, error in zip(wanted, pool.map(lambda n: fetch(n, args.cache), wanted)):
                if error:
                    print(f"  {name}: {error}", file=sys.stderr)
        known = index_wheels([*args.wheels, args.cache / "wheels"])

    def wheel_of(name: str) -> Path | None:
        # Requirements of meta-packages are fetched as they come up: few, and not candidates.
        if name not in known and not args.no_fetch and name not in unavailable and fetch(name, args.cache) is None:
            known.update(index_wheels([args.cache / "wheels"]))
        return choose_wheel(known[name]) if name in known else None

    table = {}
    meta = []
    portions = {}
    read = 0
    memo: dict[str, tuple[list[str], list[str], list[str]] | None] = {}
    for name in candidates:
        if name not in known:
            continue
        modules = provided(name, wheel_of, memo)
        read += 1
        if modules != [name.replace("-", "_")]:
            table[name] = modules
            if modules and not memo[name][0]:
                meta.append(name)  # its modules are its requirements'
            elif memo[name][2]:
                portions[name] = memo[name][2]

    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_text(render(describe(len(candidates), read, len(table), len(meta), len(portions)), table, meta, portions), encoding="utf-8")
    took = time.monotonic() - start
    print(f"{len(candidates)} candidates, {read} wheels read, {len(table)} listed in {args.out} "
          f"({took:.1f} s)", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
