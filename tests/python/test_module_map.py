"""The table of distributions whose modules are not their own name: the copy the wheel
ships, and the script that makes it (scripts/module-map), run offline on made-up wheels."""

from __future__ import annotations

import importlib.machinery
import importlib.util
import json
import re
import types
import zipfile
from pathlib import Path

import pytest

from conftest import require

REPOSITORY = Path(__file__).resolve().parents[2]


def load_script():
    script = REPOSITORY / "scripts/module-map/module_map.py"
    loader = importlib.machinery.SourceFileLoader("module_map", str(script))
    module = types.ModuleType(loader.name)
    module.__file__ = str(script)
    loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def shipped() -> dict:
    package = importlib.util.find_spec("vornu_imports")
    require(package is not None, "the vornu_imports package")
    path = Path(package.origin).parent / "check" / "data" / "distribution_modules.json"
    return json.loads(path.read_text(encoding="utf-8"))


# What `import` needs of these, whatever else a later release adds.
FAMOUS = {
    "pyyaml": {"yaml", "_yaml"},
    "pillow": {"PIL"},
    "scikit-learn": {"sklearn"},
    "opencv-python": {"cv2"},
    "opencv-python-headless": {"cv2"},
    "beautifulsoup4": {"bs4"},
    "python-dateutil": {"dateutil"},
    "protobuf": {"google"},
    "googleapis-common-protos": {"google"},
    "attrs": {"attr", "attrs"},
    "setuptools": {"_distutils_hack", "setuptools"},
    "pywin32": {"win32api", "pywintypes", "win32com", "pythoncom"},
    "jupyter": {"notebook"},
}


def test_shipped_table_is_well_formed(shipped: dict) -> None:
    assert "scripts/make-module-map" in shipped["about"]
    table = shipped["distributions"]
    assert list(table) == sorted(table) and len(table) >= 150
    for name, modules in table.items():
        assert re.fullmatch(r"[a-z0-9]+(-[a-z0-9]+)*", name), name
        assert modules == sorted(set(modules)) and all(m.isidentifier() for m in modules), name
        assert modules != [name.replace("-", "_")], name
    for name, modules in FAMOUS.items():
        assert modules <= set(table[name]), name
    # Meta-packages provide their requirements' modules: listed apart, for lookups by module to pass over.
    meta = shipped["meta-packages"]
    assert meta == sorted(set(meta)) and set(meta) <= set(table) and {"jupyter", "oldest-supported-numpy"} <= set(meta)


# (files of a wheel, its top_level.txt, its .pth files, the modules expected)
CASES = [
    (["yaml/__init__.py", "_yaml/__init__.py", "PyYAML-6.dist-info/RECORD"], None, (), ["_yaml", "yaml"]),
    (["google/protobuf/__init__.py", "google/protobuf/x.py"], "google\n", (), ["google"]),
    (["_cffi_backend.cpython-312-x86_64-linux-gnu.so", "cffi/__init__.py"], None, (), ["_cffi_backend", "cffi"]),
    (["m.abi3.so", "n.cp312-win_amd64.pyd", "o.pyd", "p.py", "libq.so", "libr.so.1", "9x.so"], None, (),
     ["m", "n", "o", "p"]),
    (["d-1.data/purelib/pure/__init__.py", "d-1.data/scripts/tool.py", "d-1.data/data/share/x.py"], None, (),
     ["pure"]),
    (["pkg/__init__.py", "tests/test_a.py", "docs/conf.py", "setup.py", "__pycache__/p.cpython-312.pyc"], None,
     (), ["pkg"]),
    (["pkg/a.py", "include/pkg.h", "share/doc/x.txt"], "pkg\nstale\npkg-stubs\n", (), ["pkg"]),
    (["nvidia/cu13/lib/libcublas.so.13", "nvidia/cu13/include/cublas.h"], "nvidia\n", (), ["nvidia"]),
    (["bokeh/__init__.py", "typings/bokeh/x.pyi"], "bokeh\ntypings\n", (), ["bokeh"]),
    (["x.pth", "win32/win32api.pyd", "win32/lib/pywintypes.py", "win32/Demos/demo.py", "win32/lib/sub/__init__.py"],
     None, ("# comment\nwin32\nwin32\\lib\nimport boot\n/abs\n../up\n",), ["pywintypes", "sub", "win32", "win32api"]),
]


@pytest.mark.parametrize("files, top_level, pth, expected", CASES)
def test_top_level_modules_of_a_wheel(files, top_level, pth, expected) -> None:
    assert load_script().top_level_modules("dist", files, top_level, pth) == expected


def make_wheel(folder: Path, filename: str, files: list[str], requires: list[str] = ()) -> None:
    name, version = filename.split("-")[:2]
    metadata = "Metadata-Version: 2.1\nName: x\n" + "".join(f"Requires-Dist: {r}\n" for r in requires)
    with zipfile.ZipFile(folder / filename, "w") as archive:
        for file in [*files, f"{name}-{version}.dist-info/METADATA"]:
            archive.writestr(file, metadata if file.endswith("METADATA") else "")


def test_the_script_offline(tmp_path: Path) -> None:
    wheels = tmp_path / "wheels"
    wheels.mkdir()
    make_wheel(wheels, "py_yaml-5.0-py3-none-any.whl", ["old_yaml/__init__.py"])
    make_wheel(wheels, "py_yaml-6.0-cp312-cp312-manylinux_2_28_x86_64.whl", ["linux_yaml/__init__.py"])
    make_wheel(wheels, "py_yaml-6.0-py3-none-any.whl", ["yaml/__init__.py"])
    make_wheel(wheels, "py_yaml-7.0rc1-py3-none-any.whl", ["rc_yaml/__init__.py"])
    make_wheel(wheels, "plain_name-1.0-py3-none-any.whl", ["plain_name.py"])
    make_wheel(wheels, "meta-1.0-py3-none-any.whl", [], ["py-yaml>=6", "plain.name", "extra-only; extra == 'x'",
                                                          "winonly; sys_platform == 'win32'"])
    make_wheel(wheels, "extra_only-1.0-py3-none-any.whl", ["extra_only.py"])
    make_wheel(wheels, "winonly-1.0-py3-none-any.whl", ["win_only.py"])
    # A plugin dropped into another project's package: a namespace portion of it.
    make_wheel(wheels, "plug-1.0-py3-none-any.whl", ["plug/__init__.py", "host/plugins/plug_host.py"])
    candidates = tmp_path / "candidates.txt"
    candidates.write_text("# comment\nPy_YAML\nplain-name\nmeta  # inline\nabsent\nplug\n", encoding="utf-8")
    out = tmp_path / "out.json"
    arguments = ["--candidates", str(candidates), "--wheels", str(wheels), "--cache", str(tmp_path / "cache"),
                 "--no-fetch", "--out", str(out)]
    assert load_script().main(arguments) == 0
    table = json.loads(out.read_text(encoding="utf-8"))
    assert table["distributions"] == {"meta": ["plain_name", "win_only", "yaml"], "plug": ["host", "plug"],
                                      "py-yaml": ["yaml"]}
    assert table["meta-packages"] == ["meta"]
    assert table["namespace-portions"] == {"plug": ["host"]}
    assert "4 of its 5 candidate" in table["about"]
