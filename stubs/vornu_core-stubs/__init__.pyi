from collections.abc import Sequence

__all__ = ["scan_imports"]

def scan_imports(paths: Sequence[str]) -> list[str]:
    """Sorted distinct top-level module names imported by the Python files under `paths`."""
    ...
