"""Binding of the arguments of scan_imports and extraction of `paths`: every message."""

from __future__ import annotations

import sys
from pathlib import PurePosixPath
from typing import Any

import pytest

MISSING = "/nonexistent/vornu-core-test-root"


class StrSub(str):
    pass


class Outer:
    class Inner:
        pass


class LenRaises(list):
    def __len__(self) -> int:
        raise RuntimeError("length is unknown")


class LenAbsurd(list):
    def __len__(self) -> int:
        return sys.maxsize


class LenLies(list):
    def __len__(self) -> int:
        return 0


class IterRaises:
    """A sequence whose iteration raises the exception made by `make`."""

    def __init__(self, make: Any) -> None:
        self.make = make

    def __len__(self) -> int:
        return 1

    def __getitem__(self, index: int) -> str:
        raise AssertionError("items are read by iteration, not by index")

    def __iter__(self):
        raise self.make()


class NextRaises(list):
    """Yields its first item, then fails."""

    def __init__(self, make: Any) -> None:
        super().__init__([MISSING, MISSING])
        self.make = make

    def __iter__(self):
        yield MISSING
        raise self.make()


class Unprintable:
    def __str__(self) -> str:
        raise RuntimeError("cannot print")


class TypeErrorSub(TypeError):
    pass


ROOT_CAUSE = KeyError("root cause")


def type_error_with_cause() -> TypeError:
    error = TypeError("iteration refused")
    error.__cause__ = ROOT_CAUSE
    return error


def gen():
    yield MISSING


def binding(message: str) -> tuple[type[BaseException], str]:
    return TypeError, message


def wrapped(message: str) -> tuple[type[BaseException], str]:
    return TypeError, "argument 'paths': " + message


# (id, positional args, keyword args, expected exception type or None, expected str())
CASES: list[tuple[str, tuple[Any, ...], dict[str, Any], type[BaseException] | None, str | None]] = [
    ("empty list", ([],), {}, None, None),
    ("empty tuple", ((),), {}, None, None),
    ("keyword", (), {"paths": []}, None, None),
    ("range(0)", (range(0),), {}, None, None),
    ("str subclass items", ([StrSub(MISSING)],), {}, None, None),
    ("len raises", (LenRaises([MISSING]),), {}, None, None),
    ("len absurd", (LenAbsurd([MISSING]),), {}, None, None),
    ("len lies", (LenLies([MISSING] * 100),), {}, None, None),
    ("no arguments", (), {}, *binding("scan_imports() missing 1 required positional argument: 'paths'")),
    ("two positional", ([], []), {}, *binding("scan_imports() takes 1 positional arguments but 2 were given")),
    ("three positional", ([], [], []), {}, *binding("scan_imports() takes 1 positional arguments but 3 were given")),
    ("positional and keyword", ([],), {"paths": []}, *binding("scan_imports() got multiple values for argument 'paths'")),
    ("unknown keyword", (), {"root": []}, *binding("scan_imports() got an unexpected keyword argument 'root'")),
    ("root then paths", ([],), {"root": [], "paths": []}, *binding("scan_imports() got an unexpected keyword argument 'root'")),
    ("paths then root", ([],), {"paths": [], "root": []}, *binding("scan_imports() got multiple values for argument 'paths'")),
    ("paths then root, no positional", (), {"paths": [], "root": []}, *binding("scan_imports() got an unexpected keyword argument 'root'")),
    ("too many before keywords", ([], []), {"root": []}, *binding("scan_imports() takes 1 positional arguments but 2 were given")),
    ("str", (MISSING,), {}, *wrapped("Can't extract `str` to `Vec`")),
    ("str by keyword", (), {"paths": MISSING}, *wrapped("Can't extract `str` to `Vec`")),
    ("empty str", ("",), {}, *wrapped("Can't extract `str` to `Vec`")),
    ("str subclass", (StrSub(MISSING),), {}, *wrapped("Can't extract `str` to `Vec`")),
    ("set", ({MISSING},), {}, *wrapped("'set' object cannot be converted to 'Sequence'")),
    ("dict", ({MISSING: 1},), {}, *wrapped("'dict' object cannot be converted to 'Sequence'")),
    ("int", (5,), {}, *wrapped("'int' object cannot be converted to 'Sequence'")),
    ("None", (None,), {}, *wrapped("'NoneType' object cannot be converted to 'Sequence'")),
    ("generator", (gen(),), {}, *wrapped("'generator' object cannot be converted to 'Sequence'")),
    ("nested class", (Outer.Inner(),), {}, *wrapped("'Outer.Inner' object cannot be converted to 'Sequence'")),
    ("bytes", (b"ab",), {}, *wrapped("'int' object cannot be converted to 'PyString'")),
    ("range(2)", (range(2),), {}, *wrapped("'int' object cannot be converted to 'PyString'")),
    ("int item", ([MISSING, 1],), {}, *wrapped("'int' object cannot be converted to 'PyString'")),
    ("path item", ([PurePosixPath(MISSING)],), {}, *wrapped("'PurePosixPath' object cannot be converted to 'PyString'")),
    ("bytes item", ((MISSING, b"x"),), {}, *wrapped("'bytes' object cannot be converted to 'PyString'")),
    ("lone surrogate", (["\udc80"],), {}, UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\udc80' in position 0: surrogates not allowed"),
    ("iter raises ValueError", (IterRaises(lambda: ValueError("bad iteration")),), {}, ValueError, "bad iteration"),
    ("next raises ValueError", (NextRaises(lambda: ValueError("bad item")),), {}, ValueError, "bad item"),
    ("iter raises TypeError", (IterRaises(type_error_with_cause),), {}, *wrapped("iteration refused")),
    ("next raises TypeError", (NextRaises(type_error_with_cause),), {}, *wrapped("iteration refused")),
    ("iter raises TypeError subclass", (IterRaises(lambda: TypeErrorSub("sub")),), {}, TypeErrorSub, "sub"),
    ("unprintable TypeError", (IterRaises(lambda: TypeError(Unprintable())),), {}, *wrapped("<unprintable TypeError object>")),
]


@pytest.mark.parametrize(("args", "kwargs", "error", "message"), [case[1:] for case in CASES], ids=[case[0] for case in CASES])
def test_binding_and_extraction(vornu_core, monkeypatch, args, kwargs, error, message) -> None:
    unraisable: list[Any] = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    if error is None:
        result = vornu_core.scan_imports(*args, **kwargs)
        assert result == []
        assert type(result) is list
        return
    with pytest.raises(BaseException) as caught:
        vornu_core.scan_imports(*args, **kwargs)
    assert type(caught.value) is error
    assert str(caught.value) == message
    assert len(caught.value.args) == 1 or error is UnicodeEncodeError
    if "unprintable" in message:
        assert len(unraisable) == 1
        assert type(unraisable[0].exc_value) is RuntimeError
    else:
        assert unraisable == []


def test_wrapped_type_error_keeps_cause(vornu_core) -> None:
    with pytest.raises(TypeError) as caught:
        vornu_core.scan_imports(IterRaises(type_error_with_cause))
    assert str(caught.value) == "argument 'paths': iteration refused"
    assert caught.value.__cause__ is ROOT_CAUSE


def test_wrapped_type_error_without_cause(vornu_core) -> None:
    with pytest.raises(TypeError) as caught:
        vornu_core.scan_imports([1])
    assert caught.value.__cause__ is None


def test_binding_errors_are_not_wrapped(vornu_core) -> None:
    with pytest.raises(TypeError) as caught:
        vornu_core.scan_imports()
    assert not str(caught.value).startswith("argument")


def test_unchanged_exception_is_the_same_object(vornu_core) -> None:
    error = ValueError("mine")
    with pytest.raises(ValueError) as caught:
        vornu_core.scan_imports(IterRaises(lambda: error))
    assert caught.value is error


def test_len_raising_still_reads_every_item(vornu_core, make_tree) -> None:
    a = make_tree({"a.py": "import alpha\n"})
    b = make_tree({"b.py": "import beta\n"})
    assert vornu_core.scan_imports(LenRaises([str(a), str(b)])) == ["alpha", "beta"]
    assert vornu_core.scan_imports(LenLies([str(a), str(b)])) == ["alpha", "beta"]
    assert vornu_core.scan_imports(LenAbsurd([str(a), str(b)])) == ["alpha", "beta"]


def test_str_subclass_items_are_read(vornu_core, make_tree) -> None:
    a = make_tree({"a.py": "import alpha\n"})
    assert vornu_core.scan_imports([StrSub(str(a))]) == ["alpha"]


def test_embedded_nul_is_kept(vornu_core, make_tree) -> None:
    # A root with a NUL names no file; it must not be cut short to the part before it.
    a = make_tree({"a.py": "import alpha\n"})
    assert vornu_core.scan_imports([str(a) + "\0/ignored"]) == []


def test_many_roots_from_a_long_sequence(vornu_core, make_tree) -> None:
    a = make_tree({"a.py": "import alpha\n"})
    roots = [MISSING] * 100_000 + [str(a)]
    assert vornu_core.scan_imports(roots) == ["alpha"]
    assert vornu_core.scan_imports(tuple(roots)) == ["alpha"]
