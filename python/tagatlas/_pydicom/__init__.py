"""The machinery of `tagatlas.datadict.install_in_pydicom()`: pydicom answering from tagatlas.

`rebind` swaps the functions in pydicom's modules, `functions` holds the ones that speak as
pydicom does, `creators` tells whether a private creator is known at all.
"""

from .rebind import install, installed, uninstall

__all__ = ["install", "installed", "uninstall"]
