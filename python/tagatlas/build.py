"""Merges importer outputs into the entries of one dictionary.

Each importer gives at most one entry per lookup key (group, element, creator hash). The merge
joins the entries that several sources give for the same key into one, by a fixed priority of
sources, highest first: pydicom's tables, then DCMTK dictionary files. pydicom's tables come from a
newer edition of the DICOM standard than the DCMTK files Debian ships, and carry the standard's
names verbatim; DCMTK's files add keywords for private tags, which pydicom lacks.

For a key held by several sources:

- keyword, name and description come from the highest-ranked source that has a non-empty value;
- the VR comes from the highest-ranked source that has a single DICOM VR ("??" counts as none);
- retired, block_offset and the creator's spelling come from the highest-ranked source;
- sources lists every source holding the key, highest-ranked first.

A key held by one source is taken as that source gives it.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, replace

from .importers.dcmtk import import_dcmtk
from .importers.pydicom_tables import Tables, import_pydicom
from .importers.result import ImportResult, entry_key
from .vr import UNKNOWN_VR
from .writer import Entry

# Debian's dcmtk package (libdcmtk17) installs DCMTK's dictionaries here.
DEBIAN_DCMTK_FILES = (
    "/usr/share/libdcmtk17/dicom.dic",
    "/usr/share/libdcmtk17/private.dic",
)


@dataclass
class Build:
    """The merged entries and, per source, what its importer read and skipped."""

    entries: list[Entry]
    imports: list[ImportResult]


def _first(values: Iterable[str], empty: str = "") -> str:
    return next((v for v in values if v != empty), empty)


def _join(held: list[Entry]) -> Entry:
    top = held[0]
    if len(held) == 1:
        return top
    names: list[str] = []
    for entry in held:
        names += [n for n in entry.sources if n not in names]
    return replace(
        top,
        keyword=_first(e.keyword for e in held),
        name=_first(e.name for e in held),
        description=_first(e.description for e in held),
        vr=_first((e.vr for e in held), UNKNOWN_VR),
        sources=tuple(names),
    )


def merge(imports: Sequence[ImportResult]) -> list[Entry]:
    """Joins the importers' entries; `imports` is ordered highest priority first.

    Returns one entry per key, sorted by key.
    """
    by_key: dict[tuple[int, int, int], list[Entry]] = {}
    for result in imports:
        for entry in result.entries:
            by_key.setdefault(entry_key(entry), []).append(entry)
    return [_join(held) for _, held in sorted(by_key.items())]


def build(
    *,
    dcmtk_files: Sequence[str | os.PathLike[str]] = (),
    dcmtk_name: str = "dcmtk",
    pydicom: bool = False,
    pydicom_tables: Tables | None = None,
) -> Build:
    """Imports the chosen sources and merges them.

    `dcmtk_files` are read in order as one source named `dcmtk_name`; `pydicom` adds pydicom's
    tables (`pydicom_tables` if given, else the installed pydicom's). Raises OSError, SourceError
    or ImportError from the importers.
    """
    imports = []
    if pydicom or pydicom_tables is not None:
        imports.append(import_pydicom(pydicom_tables))
    if dcmtk_files:
        imports.append(import_dcmtk(dcmtk_files, source=dcmtk_name))
    return Build(merge(imports), imports)
