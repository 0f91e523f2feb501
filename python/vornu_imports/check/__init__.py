"""`vornu-imports check`: declared dependencies against what the code imports.

The scan of `vornu_core` finds the imported names fast; Python's parser confirms every name
that decides a finding, on the few files that mention it."""

from vornu_imports.check.command import main

__all__ = ["main"]
