"""The dictionary shipped with the package.

`data/default.tatl` is built by tools/build_default_dict.py from DCMTK's dicom.dic and private.dic
(as Debian ships them) and pydicom's tables; docs/data.md says where the data comes from.
"""

from __future__ import annotations

import os

DEFAULT_RESOURCE = "data/default.tatl"


def open_default():
    """Opens the bundled dictionary and returns a `Dict`.

    When the package lives in an archive the file is extracted to a temporary copy; the mapping
    stays valid after the copy is removed, so the returned `Dict` does not depend on it.
    """
    from ._tagatlas import open as open_dict

    # An installed package is a folder: open the file in place. importlib.resources, needed only
    # for packages inside archives, costs more to import than opening the dictionary.
    path = os.path.join(os.path.dirname(__file__), DEFAULT_RESOURCE)
    if os.path.isfile(path):
        return open_dict(path)
    from importlib import resources

    with resources.as_file(resources.files(__package__).joinpath(DEFAULT_RESOURCE)) as extracted:
        return open_dict(extracted)
