"""Importer for DCMTK's data dictionary text files (`dicom.dic`, `private.dic`).

Each line that is not blank and not a comment ("#" as first non-blank character) holds three to
five fields separated by single tabs: tag, VR, keyword, VM, version. A missing version means
"DICOM", as in DCMTK.

Tags:

- `(gggg,eeee)`: one public tag.
- `(gggg-hhhh,eeee)`: a repeating group, even groups only; `(gggg-o-hhhh,eeee)` odd groups only,
  `-e-` even, `-u-` both. The element part may be a range in the same notation.
- `(gggg,"CREATOR",ee)`: a private tag in the block of its creator; the element is the block
  offset (low byte), stored with `block_offset` set. `(gggg,"CREATOR",eeee)` with an element above
  0xFF is a private tag at that fixed element.

How fields become entries:

- keyword: the third field; DCMTK's "RETIRED_" prefix is removed, the flag says it instead.
- name: empty, the files have none.
- VR: a DICOM VR is kept. DCMTK's lower-case pseudo VRs stand for a choice of VRs: "ox" and "px"
  (OB or OW), "xs" (US or SS), "lt" (US or SS or OW) and "na" (NONE, for items and delimiters)
  are stored as "??" with the choice in the description; "up" (a UL holding a file offset) is UL.
- retired: the version field has a "retired" part ("DICOM/retired").
- description: the facts line of `tagatlas.description`: "VM " and the VM field, the VR choice of
  a pseudo VR, and the mask of a repeating line when its range is one ("(6000-60FF,3000)" is
  "60xx3000"; a private "(6001-o-60FF,"C",10)" would be "60xxxx10").

A byte-order mark at the start of a file is skipped.

Several files are read as DCMTK loads them: in order, later lines overriding earlier ones for the
same tag (see `result` for the full rule). Malformed lines raise `SourceError` with file and line,
also for values the dictionary format cannot hold (a keyword or creator over 65,535 bytes, a
creator whose hash is 0); quoted values are cut to a readable length.
Lines that expand to more tags than `ranges.MAX_EXPANSION` are skipped and reported.
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterable

from ..description import format_description
from .._format.creator import hash_creator
from .._format.vr import DICOM_VRS, UNKNOWN_VR
from ..writer import Entry
from .ranges import MAX_EXPANSION, Parity, mask_text, range_values
from .lines import source_lines
from .result import BLOCK_OFFSET, EXACT, Candidate, ImportResult, Skip, SourceError, select

SOURCE = "dcmtk"

_PART = re.compile(r"([0-9A-Fa-f]{1,4})(?:-(?:([A-Za-z])-)?([0-9A-Fa-f]{1,4}))?")
# One place only where blanks may go before the creator: with blanks both there and in the
# element, a comma followed by many blanks and no ")" backtracks in quadratic time.
_TAG = re.compile(r'\(([^,"]*),(?:\s*"([^"]*)"\s*,)?([^)]*)\)')
_VM = re.compile(r"\d+(?:-(?:\d+|\d*[nN]))?|\d*[nN]")
_PARITIES = {"o": Parity.ODD, "e": Parity.EVEN, "u": Parity.ANY}
_RETIRED_PREFIX = "RETIRED_"
_TEXT_LIMIT = 0xFFFF  # keyword and creator lengths are 16-bit in the file

# DCMTK's pseudo VRs, each written as the choice of VRs it stands for. "up" is a UL that holds a
# file offset, so it is one VR.
_PSEUDO_VRS = {
    "ox": "OB or OW",
    "px": "OB or OW",
    "xs": "US or SS",
    "lt": "US or SS or OW",
    "na": "NONE",
    "up": "UL",
}

# Values quoted in messages are cut to this many characters: a broken line can be very long.
_SHOWN = 40


def _shown(text: str) -> str:
    return repr(text if len(text) <= _SHOWN else text[:_SHOWN] + "...")


def _tag_part(text: str, what: str) -> tuple[range, tuple[int, int]]:
    """The values a group or element part stands for, and the part's bounds as written."""
    text = "".join(text.split())
    m = _PART.fullmatch(text)
    if m is None:
        raise ValueError(f"bad {what} {_shown(text)}")
    low, restrictor, high = m.groups()
    if high is None:
        value = int(low, 16)
        return range(value, value + 1), (value, value)
    if restrictor is None:
        parity = Parity.EVEN  # DCMTK's default for a range
    else:
        parity = _PARITIES.get(restrictor.lower())
        if parity is None:
            raise ValueError(f"unknown range restrictor {restrictor!r} in {what} {_shown(text)}")
    bounds = (int(low, 16), int(high, 16))
    return range_values(*bounds, parity), bounds


def _parse_tag(field: str):
    m = _TAG.fullmatch(field.strip())
    if m is None:
        raise ValueError(f"bad tag field {_shown(field.strip())}")
    group_text, creator, element_text = m.groups()
    if creator == "":
        raise ValueError("empty private creator")
    if creator is not None:
        if (size := len(creator.encode("utf-8"))) > _TEXT_LIMIT:
            raise ValueError(
                f"private creator {_shown(creator)} is {size} bytes, at most {_TEXT_LIMIT}"
            )
        if hash_creator(creator) == 0:
            # The index keeps 0 for "no creator"; such a creator could never be told apart.
            raise ValueError(f"private creator {_shown(creator)} hashes to 0, which means none")
    return _tag_part(group_text, "group"), creator, _tag_part(element_text, "element")


def _parse_vr(field: str) -> tuple[str, str | None]:
    """The VR to store and, for a pseudo VR that is no single VR, the choice it stands for."""
    vr = "".join(field.split())
    if vr in DICOM_VRS:
        return vr, None
    choice = _PSEUDO_VRS.get(vr)
    if choice is None:
        raise ValueError(f"unknown VR {_shown(vr)}")
    return (choice, None) if choice in DICOM_VRS else (UNKNOWN_VR, choice)


def _mask(groups, elements, creator: str | None, block: bool) -> str | None:
    """The mask of a repeating line in the form pydicom's tables use, if it has one."""
    (_, group_bounds), (element_values, element_bounds) = groups, elements
    if creator is None:
        return mask_text(group_bounds, element_bounds)
    # A private line repeats over groups only; its element is a block offset or a fixed one.
    if group_bounds[0] == group_bounds[1] or len(element_values) != 1:
        return None
    group_mask = mask_text(group_bounds, (0, 0))
    if group_mask is None:
        return None
    element = element_values[0]
    return group_mask[:4] + (f"xx{element:02X}" if block else f"{element:04X}")


def _parse_line(line: str, origin: str, source: str, max_expansion: int) -> list[Candidate] | Skip:
    fields = line.split("\t")
    if not 3 <= len(fields) <= 5:
        raise ValueError(f"expected 3 to 5 tab-separated fields, found {len(fields)}")
    group_part, creator, element_part = _parse_tag(fields[0])
    groups, elements = group_part[0], element_part[0]
    vr, vr_choice = _parse_vr(fields[1])
    keyword = "".join(fields[2].split())
    if not keyword:
        raise ValueError("empty keyword")
    vm = "".join(fields[3].split()) if len(fields) > 3 else ""
    if vm and not _VM.fullmatch(vm):
        raise ValueError(f"bad VM {_shown(vm)}")
    version = "".join(fields[4].split()) if len(fields) > 4 else "DICOM"
    retired = "retired" in version.lower().split("/")
    if keyword.startswith(_RETIRED_PREFIX):
        keyword = keyword[len(_RETIRED_PREFIX) :]
    if (size := len(keyword.encode("utf-8"))) > _TEXT_LIMIT:
        raise ValueError(f"keyword {_shown(keyword)} is {size} bytes, at most {_TEXT_LIMIT}")

    spread = len(groups) * len(elements)
    if spread == 0:
        return Skip(origin, f"{_shown(fields[0].strip())} stands for no tag")
    if spread > max_expansion:
        return Skip(
            origin,
            f"{fields[0].strip()} stands for {spread} tags, more than {max_expansion}: "
            "a rule for a class of tags, not an entry",
        )
    out = []
    for group in groups:
        for element in elements:
            block = creator is not None and element <= 0xFF
            mask = _mask(group_part, element_part, creator, block) if spread > 1 else None
            description = format_description(vm, vr_choice, mask)
            out.append(
                Candidate(
                    Entry(
                        group, element, keyword, "", vr, creator, description, retired, block,
                        (source,),
                    ),
                    origin,
                    spread,
                    BLOCK_OFFSET if block else EXACT,
                )
            )  # fmt: skip
    return out


def parse_lines(
    lines: Iterable[str],
    name: str,
    *,
    source: str = SOURCE,
    max_expansion: int = MAX_EXPANSION,
) -> tuple[list[Candidate], list[Skip]]:
    """Reads the lines of one dictionary file named `name` (used in messages)."""
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for number, raw in enumerate(lines, 1):
        line = raw.rstrip()
        stripped = line.lstrip()
        if not stripped or stripped.startswith("#"):
            continue
        origin = f"{name}:{number}"
        try:
            parsed = _parse_line(line, origin, source, max_expansion)
        except ValueError as e:
            raise SourceError(f"{origin}: {e}") from None
        if isinstance(parsed, Skip):
            skipped.append(parsed)
        else:
            candidates.extend(parsed)
    return candidates, skipped


def import_dcmtk(
    paths: Iterable[str | os.PathLike[str]],
    *,
    source: str = SOURCE,
    max_expansion: int = MAX_EXPANSION,
) -> ImportResult:
    """Reads DCMTK dictionary files, in order, into one entry per lookup key.

    `source` is the name recorded in each entry's sources. Raises OSError when a file cannot be
    read and SourceError for a malformed line, a line over `lines.MAX_LINE` bytes, a file that is not
    UTF-8 text or not a regular file (a FIFO, a device).
    """
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for path in paths:
        name = os.fspath(path)
        lines = (line for _, line in source_lines(path))
        more, skips = parse_lines(lines, name, source=source, max_expansion=max_expansion)
        candidates.extend(more)
        skipped.extend(skips)
    return select(source, candidates, skipped, later_wins=True)
