"""The dictionary shipped with the package.

`data/default.tatl` is built by tools/build_default_dict.py from the vendored dictionary sources
(PS3.6 2026c, PS3.15 2026c, DCMTK, GDCM, TCIA, dicom3tools) and pydicom's tables; its sources
manifest `data/default.sources.json` sits beside it, and docs/data.md says where the data comes
from.
"""

from __future__ import annotations

import os

DEFAULT_RESOURCE = "data/default.tatl"


class _InPlace:
    """A path usable as `with default_file() as path:`, like importlib.resources.as_file."""

    def __init__(self, path: str) -> None:
        self.path = path

    def __enter__(self) -> str:
        return self.path

    def __exit__(self, *exc: object) -> None:
        pass


def default_file():
    """A context manager that gives the bundled dictionary's path for the `with` block.

    When the package lives in an archive the file is extracted to a temporary copy for the block;
    a mapping made inside it stays valid after the copy is removed.
    """
    # An installed package is a folder: use the file in place. importlib.resources, needed only
    # for packages inside archives, costs more to import than opening the dictionary.
    path = os.path.join(os.path.dirname(__file__), DEFAULT_RESOURCE)
    if os.path.isfile(path):
        return _InPlace(path)
    from importlib import resources

    return resources.as_file(resources.files(__package__).joinpath(DEFAULT_RESOURCE))


def open_default():
    """Opens the bundled dictionary and returns a `Dict`.

    The returned `Dict` does not depend on any temporary copy (see `default_file`).
    """
    from ._tagatlas import open as open_dict

    with default_file() as path:
        return open_dict(os.fspath(path))
