"""The dictionary shipped with the package.

`data/default.tatl` is built by tools/build_default_dict.py from DCMTK's dicom.dic and private.dic
(as Debian ships them) and pydicom's tables; docs/data.md says where the data comes from.
"""

from __future__ import annotations

DEFAULT_RESOURCE = "data/default.tatl"


def open_default():
    """Opens the bundled dictionary and returns a `Dict`.

    When the package lives in an archive the file is extracted to a temporary copy; the mapping
    stays valid after the copy is removed, so the returned `Dict` does not depend on it.
    """
    # Imported here: importlib.resources costs more to import than the rest of the package.
    from importlib import resources

    from ._tagatlas import open as open_dict

    with resources.as_file(resources.files(__package__).joinpath(DEFAULT_RESOURCE)) as path:
        return open_dict(path)
