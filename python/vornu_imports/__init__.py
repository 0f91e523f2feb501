"""The `vornu-imports` command: which top-level modules Python source trees import.

A thin command line around `vornu_core.scan_imports`; run it as `vornu-imports` or as
`python -m vornu_imports` (the latter with the interpreter whose installed distributions
`--distributions` should consult).
"""

from vornu_imports.cli import main

__all__ = ["main"]
