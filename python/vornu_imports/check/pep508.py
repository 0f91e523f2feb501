"""Requirement strings of the common shapes, read without `packaging`.

Importing `packaging.requirements` (with its markers, specifiers and platform tags) costs
more than the rest of a check of a small project. So a requirement of the shapes nearly
every project writes -- a name, extras, version clauses, an environment marker -- is read
here by strict patterns, and anything else (URLs, unusual versions, and every mistake) is
handed to `packaging`, whose messages the errors quote. Markers are evaluated here when they
compare with plain values; others go to `packaging` too."""

from __future__ import annotations

import re

NAME = r"[A-Za-z0-9](?:[A-Za-z0-9._-]*[A-Za-z0-9])?"
# A version as PEP 440 writes it, possibly with a wildcard (== and !=) or a local part.
VERSION = r"v?(?:[0-9]+!)?[0-9]+(?:\.[0-9]+)*(?:\.\*|(?:[-_.]?(?:a|b|c|rc|alpha|beta|pre|preview)[-_.]?[0-9]*)?" \
          r"(?:[-_.]?(?:post|rev|r)[-_.]?[0-9]*)?(?:[-_.]?dev[-_.]?[0-9]*)?)"
CLAUSE = rf"(?:~=|==|!=|<=|>=|<|>)\s*{VERSION}"
CLAUSES = rf"{CLAUSE}(?:\s*,\s*{CLAUSE})*"
REQUIREMENT = re.compile(
    rf"\s*({NAME})\s*(?:\[\s*((?:{NAME})(?:\s*,\s*{NAME})*)?\s*\])?\s*"
    rf"(?:{CLAUSES}|\(\s*{CLAUSES}\s*\))?\s*(?:;\s*(\S.*?))?\s*",
    re.IGNORECASE | re.ASCII,
)
VARIABLES = frozenset(
    "python_version python_full_version os_name sys_platform platform_release platform_system platform_version"
    " platform_machine platform_python_implementation implementation_name implementation_version extra".split()
)
# The names of PEP 345 that packaging still reads.
LEGACY = {"os.name": "os_name", "sys.platform": "sys_platform", "platform.version": "platform_version",
          "platform.machine": "platform_machine", "platform.python_implementation": "platform_python_implementation",
          "python_implementation": "platform_python_implementation"}
TOKEN = re.compile(r"\s*(?:('[^']*'|\"[^\"]*\")|(not\s+in\b|in\b|and\b|or\b)|([a-z_.]+)|(===|~=|==|!=|<=|>=|<|>)|([()]))")
VERSION_VARIABLES = frozenset({"python_version", "python_full_version", "implementation_version"})


def parse(text: str) -> tuple[str, frozenset[str], str | None] | None:
    """(name, extras, marker) of a requirement of a common shape; None for any other text,
    which `packaging` is to read (and reject, where it is no requirement)."""
    match = REQUIREMENT.fullmatch(text)
    if match is None:
        return None
    name, extras, marker = match.groups()
    if marker is not None and tokens(marker) is None:
        return None
    found = frozenset(e.strip().lower() for e in extras.split(",")) if extras else frozenset()
    return name, found, marker


Token = tuple[str, str]  # (kind, text): "value", "variable", "operator", "bool", "paren"


def tokens(marker: str) -> list[Token] | None:
    """The tokens of a well-formed marker (comparisons joined by and/or, in parentheses or
    not), or None."""
    found: list[Token] = []
    position = 0
    while position < len(marker):
        match = TOKEN.match(marker, position)
        if match is None or match.end() == position:
            return None if marker[position:].strip() else found
        position = match.end()
        value, word, variable, operator, paren = match.groups()
        if value is not None:
            found.append(("value", value[1:-1]))
        elif word is not None:
            kind = "bool" if word in ("and", "or") else "operator"
            found.append((kind, " ".join(word.split())))
        elif variable is not None:
            variable = LEGACY.get(variable, variable)
            if variable not in VARIABLES:
                return None
            found.append(("variable", variable))
        elif operator is not None:
            found.append(("operator", operator))
        else:
            found.append(("paren", paren))
    shape = "".join({"value": "v", "variable": "v", "operator": "o", "bool": "b"}.get(k, t) for k, t in found)
    depth = 0
    for char in shape:
        depth += {"(": 1, ")": -1}.get(char, 0)
        if depth < 0:
            return None
    if depth:
        return None
    flat = shape.replace("(", "").replace(")", "")
    return found if re.fullmatch(r"vov(?:bvov)*", flat) and "()" not in shape else None


def evaluate(marker: str, environment: dict[str, str]) -> bool | None:
    """The marker's value in `environment` (which holds "extra"); None where a comparison
    needs `packaging`'s version rules beyond plain release numbers."""
    found = tokens(marker)
    if found is None:
        return None
    try:
        value, rest = disjunction(found, environment)
    except Unsure:
        return None
    return value if not rest else None


class Unsure(Exception):
    pass


def disjunction(items: list[Token], environment: dict[str, str]) -> tuple[bool, list[Token]]:
    value, items = conjunction(items, environment)
    while items and items[0] == ("bool", "or"):
        right, items = conjunction(items[1:], environment)
        value = value or right
    return value, items


def conjunction(items: list[Token], environment: dict[str, str]) -> tuple[bool, list[Token]]:
    value, items = atom(items, environment)
    while items and items[0] == ("bool", "and"):
        right, items = atom(items[1:], environment)
        value = value and right
    return value, items


def atom(items: list[Token], environment: dict[str, str]) -> tuple[bool, list[Token]]:
    if items[0] == ("paren", "("):
        value, items = disjunction(items[1:], environment)
        return value, items[1:]
    (left_kind, left), (_, operator), (right_kind, right) = items[:3]
    variable = left if left_kind == "variable" else right if right_kind == "variable" else None
    if left_kind == "variable":
        left = environment.get(left, "")
    if right_kind == "variable":
        right = environment.get(right, "")
    return compare(left, operator, right, variable), items[3:]


def release(text: str) -> tuple[int, ...] | None:
    return tuple(int(part) for part in text.split(".")) if re.fullmatch(r"[0-9]+(?:\.[0-9]+)*", text) else None


def compare(left: str, operator: str, right: str, variable: str | None) -> bool:
    if operator == "in":
        return left in right
    if operator == "not in":
        return left not in right
    if variable == "extra":
        left, right = (re.sub(r"[-_.]+", "-", side).lower() for side in (left, right))
    if variable in VERSION_VARIABLES or operator not in ("==", "!="):
        a, b = release(left), release(right)
        if a is None or b is None or operator in ("~=", "==="):
            raise Unsure
        width = max(len(a), len(b))
        a, b = a + (0,) * (width - len(a)), b + (0,) * (width - len(b))
        return {"==": a == b, "!=": a != b, "<": a < b, "<=": a <= b, ">": a > b, ">=": a >= b}[operator]
    return (left == right) == (operator == "==")
