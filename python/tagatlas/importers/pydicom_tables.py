"""Importer for pydicom's dictionary tables.

pydicom is only needed here, at build time, and is imported when the tables are first asked for.
Three tables are read:

- `pydicom.datadict.DicomDictionary`: {tag: (VR, VM, name, retired, keyword)}, public tags.
- `pydicom.datadict.RepeatersDictionary`: {"60xx3000": (...)}, public tags whose "x" digits stand
  for any hex digit. A masked group stands for its even groups only, since odd groups are private.
- `pydicom._private_dict.private_dictionaries`: {creator: {"0019xx0C": (VR, VM, name, retired)}}.
  "xx" in place of the element's high byte is the block-offset form: stored with the low byte and
  `block_offset` set. A key without "x" is a private tag at that fixed element. A masked group
  ("70xxxx04") stands for its odd groups, the private ones.

Keys of the form "ggggeexx" in the private tables (a fixed high byte with any low byte) are skipped
and reported: pydicom's own lookup never reaches them, and 256 exact elements each would shadow
the block entries that readers find by the low byte.

How fields become entries: keyword and name as given (private entries have no keyword); a VR that
is not one DICOM VR ("US or SS", "OB or OW", "NONE") becomes "??"; retired when the retired field
says "Retired"; description "VM " and the VM. Within the tables the rules of `result` pick one
entry per key, the first table entry winning ties.
"""

from __future__ import annotations

import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from ..vr import normalize_vr
from ..writer import Entry
from .ranges import MAX_EXPANSION, Parity, mask_values
from .result import BLOCK_OFFSET, EXACT, Candidate, ImportResult, Skip, SourceError, select

SOURCE = "pydicom"

_KEY = re.compile(r"[0-9A-Fa-fx]{8}")


@dataclass(frozen=True)
class Tables:
    """The three pydicom tables; tests pass small ones of their own."""

    public: Mapping[int, tuple]
    repeaters: Mapping[str, tuple]
    private: Mapping[str, Mapping[str, tuple]]
    version: str = ""


def load_tables() -> Tables:
    """Returns the installed pydicom's tables. Raises ImportError when pydicom is missing."""
    import pydicom
    from pydicom._private_dict import private_dictionaries
    from pydicom.datadict import DicomDictionary, RepeatersDictionary

    return Tables(DicomDictionary, RepeatersDictionary, private_dictionaries, pydicom.__version__)


def _fields(value: Any, size: int, origin: str) -> tuple[str, ...]:
    if (
        not isinstance(value, tuple)
        or len(value) != size
        or not all(isinstance(v, str) for v in value)
    ):
        raise SourceError(f"{origin}: expected a tuple of {size} str, got {value!r}")
    return value


def _is_retired(text: str) -> bool:
    return text.strip().lower() == "retired"


def _public(
    groups: list[int], elements: list[int], value: Any, origin: str, source: str
) -> list[Candidate]:
    vr, vm, name, retired, keyword = _fields(value, 5, origin)
    spread = len(groups) * len(elements)
    return [
        Candidate(
            Entry(group, element, keyword, name, normalize_vr(vr), None,
                  f"VM {vm}" if vm else "", _is_retired(retired), False, (source,)),
            origin,
            spread,
        )
        for group in groups
        for element in elements
    ]  # fmt: skip


def _mask(text: str, parity: Parity) -> list[int]:
    if "x" in text:
        return mask_values(text, parity)
    return [int(text, 16)]


def _too_many(origin: str, key: str, spread: int, max_expansion: int) -> Skip:
    return Skip(
        origin,
        f"{key} stands for {spread} tags, more than {max_expansion}: "
        "a rule for a class of tags, not an entry",
    )


def import_pydicom(
    tables: Tables | None = None,
    *,
    source: str = SOURCE,
    max_expansion: int = MAX_EXPANSION,
) -> ImportResult:
    """Reads pydicom's tables (the installed pydicom's unless `tables` is given).

    Raises ImportError when pydicom is needed and missing, SourceError for a malformed table row.
    """
    if tables is None:
        tables = load_tables()
    candidates: list[Candidate] = []
    skipped: list[Skip] = []

    for tag, value in tables.public.items():
        origin = f"DicomDictionary[0x{tag:08X}]" if isinstance(tag, int) else repr(tag)
        if not isinstance(tag, int) or not 0 <= tag <= 0xFFFF_FFFF:
            raise SourceError(f"DicomDictionary: bad tag {tag!r}")
        candidates += _public([tag >> 16], [tag & 0xFFFF], value, origin, source)

    for key, value in tables.repeaters.items():
        origin = f"RepeatersDictionary[{key!r}]"
        if not isinstance(key, str) or not _KEY.fullmatch(key):
            raise SourceError(f"{origin}: bad mask")
        groups = _mask(key[:4], Parity.EVEN)
        elements = _mask(key[4:], Parity.ANY)
        spread = len(groups) * len(elements)
        if spread > max_expansion:
            skipped.append(_too_many(origin, key, spread, max_expansion))
            continue
        candidates += _public(groups, elements, value, origin, source)

    for creator, table in tables.private.items():
        if not isinstance(creator, str) or not creator:
            raise SourceError(f"private_dictionaries: bad creator {creator!r}")
        for key, value in table.items():
            origin = f"private_dictionaries[{creator!r}][{key!r}]"
            if not isinstance(key, str) or not _KEY.fullmatch(key):
                raise SourceError(f"{origin}: bad key")
            vr, vm, name, retired = _fields(value, 4, origin)
            element_mask = key[4:]
            if element_mask[:2] == "xx" and "x" not in element_mask[2:]:
                element, block = int(element_mask[2:], 16), True
            elif "x" not in element_mask:
                element, block = int(element_mask, 16), False
            else:
                skipped.append(Skip(origin, f"element mask {element_mask!r} is not a block offset"))
                continue
            groups = _mask(key[:4], Parity.ODD)
            if len(groups) > max_expansion:
                skipped.append(_too_many(origin, key, len(groups), max_expansion))
                continue
            for group in groups:
                candidates.append(
                    Candidate(
                        Entry(group, element, "", name, normalize_vr(vr), creator,
                              f"VM {vm}" if vm else "", _is_retired(retired), block, (source,)),
                        origin,
                        len(groups),
                        BLOCK_OFFSET if block else EXACT,
                    )
                )  # fmt: skip

    return select(source, candidates, skipped, later_wins=False)
