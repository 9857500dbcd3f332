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

A key without "x" whose element is at or below 0xFF ("00090002") is stored as the block offset
too: a file carries that element in the creator's block, (0009,1002), and an exact entry at
(0009,0002) would be unreachable.

Keys of the form "ggggeexx" in the private tables (a fixed high byte with any low byte) are skipped
and reported: pydicom's own lookup never reaches them, and 256 exact elements each would shadow
the block entries that readers find by the low byte.

Repeaters that stand for more tags than `ranges.MAX_EXPANSION` ((1000,xxx0) to (1000,xxx5),
(1010,xxxx)) are kept as one entry each, at the first tag of the mask that no other entry holds,
with the mask in its description; readers that follow the description convention match such masks
themselves.

How fields become entries: keyword and name as given (private entries have no keyword); a VR that
is not one DICOM VR ("US or SS", "OB or OW", "NONE") becomes "??", with the table's text in the
description; retired when the retired field says "Retired"; the description is the facts line of
`tagatlas.description`: the VM, that VR text, and the mask of a repeater or of a private key with a
masked group. Within the tables the rules of `result` pick one entry per key, the first table entry
winning ties.
"""

from __future__ import annotations

import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from ..description import format_description
from .._format.vr import UNKNOWN_VR, normalize_vr
from ..writer import Entry
from .ranges import MAX_EXPANSION, Parity, mask_values
from .result import (
    BLOCK_OFFSET, EXACT, Candidate, ImportResult, Skip, SourceError, entry_key, select,
)  # fmt: skip

SOURCE = "pydicom"

_KEY = re.compile(r"[0-9A-Fa-fx]{8}")
# The rank of a key written "gggg00ee" among the candidates of one lookup key (see `result`).
_SLOT_FORM = BLOCK_OFFSET + 1


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


def _vr(text: str) -> tuple[str, str | None]:
    """The VR to store and, when the table gives no single VR ("US or SS"), that text."""
    vr = normalize_vr(text)
    choice = text.strip()
    return vr, (choice if vr == UNKNOWN_VR and choice not in ("", UNKNOWN_VR) else None)


def _facts(vr_text: str, vm: str, mask: str | None) -> tuple[str, str]:
    vr, choice = _vr(vr_text)
    return vr, format_description(vm, choice, mask)


def _public(
    groups: list[int], elements: list[int], value: Any, origin: str, source: str,
    mask: str | None = None,
) -> list[Candidate]:  # fmt: skip
    vr_text, vm, name, retired, keyword = _fields(value, 5, origin)
    vr, description = _facts(vr_text, vm, mask)
    spread = len(groups) * len(elements)
    return [
        Candidate(
            Entry(group, element, keyword, name, vr, None, description, _is_retired(retired),
                  False, (source,)),
            origin,
            spread,
        )
        for group in groups
        for element in elements
    ]  # fmt: skip


def _normal_mask(key: str) -> str:
    """A table key as a mask: hex digits upper-case, "x" lower-case ("7fxx0010" -> "7Fxx0010")."""
    return "".join(ch if ch == "x" else ch.upper() for ch in key)


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

    wide: list[tuple[str, list[int], list[int], Any, str]] = []
    for key, value in tables.repeaters.items():
        origin = f"RepeatersDictionary[{key!r}]"
        if not isinstance(key, str) or not _KEY.fullmatch(key):
            raise SourceError(f"{origin}: bad mask")
        groups = _mask(key[:4], Parity.EVEN)
        elements = _mask(key[4:], Parity.ANY)
        if len(groups) * len(elements) > max_expansion:
            wide.append((_normal_mask(key), groups, elements, value, origin))
            continue
        candidates += _public(groups, elements, value, origin, source, _normal_mask(key))

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
                element, block, form = int(element_mask[2:], 16), True, BLOCK_OFFSET
            elif "x" not in element_mask:
                # At or below 0xFF the element is a creator slot in a file; such keys mean the
                # block offset, as pydicom's lookup (which tries "xx" first) reads them.
                element = int(element_mask, 16)
                block = element <= 0xFF
                # pydicom's lookup tries the "xx" key first: that key wins a tie with this one.
                form = _SLOT_FORM if block else EXACT
            else:
                skipped.append(Skip(origin, f"element mask {element_mask!r} is not a block offset"))
                continue
            groups = _mask(key[:4], Parity.ODD)
            if len(groups) > max_expansion:
                skipped.append(_too_many(origin, key, len(groups), max_expansion))
                continue
            stored_vr, description = _facts(vr, vm, _normal_mask(key) if len(groups) > 1 else None)
            for group in groups:
                candidates.append(
                    Candidate(
                        Entry(group, element, "", name, stored_vr, creator, description,
                              _is_retired(retired), block, (source,)),
                        origin,
                        len(groups),
                        form,
                    )
                )  # fmt: skip

    candidates += _wide_repeaters(wide, candidates, source)
    return select(source, candidates, skipped, later_wins=False)


def _wide_repeaters(
    wide: list[tuple[str, list[int], list[int], Any, str]], candidates: list[Candidate], source: str
) -> list[Candidate]:
    """One entry for each repeater too wide to expand, at the first tag of its mask that no other
    entry of the tables holds, so that it is stored whole (its mask in the description) without
    hiding an exact tag. Readers that know the convention match the mask themselves."""
    taken = {entry_key(c.entry) for c in candidates}
    out = []
    for mask, groups, elements, value, origin in wide:
        spread = len(groups) * len(elements)
        free = next(
            ((g, e) for g in groups for e in elements if (g, e, 0) not in taken), None
        )  # fmt: skip
        if free is None:
            continue  # every tag it stands for is an exact entry already
        [candidate] = _public([free[0]], [free[1]], value, origin, source, mask)
        out.append(Candidate(candidate.entry, origin, spread))
        taken.add((free[0], free[1], 0))
    return out
