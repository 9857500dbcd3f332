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
- VR: a DICOM VR is kept; DCMTK's lower-case pseudo VRs ("ox", "xs", "lt", "up", "na", "px": one
  of several VRs, or none) become "??".
- retired: the version field has a "retired" part ("DICOM/retired").
- description: "VM " and the VM field, when there is one.

Several files are read as DCMTK loads them: in order, later lines overriding earlier ones for the
same tag (see `result` for the full rule). Malformed lines raise `SourceError` with file and line.
Lines that expand to more tags than `ranges.MAX_EXPANSION` are skipped and reported.
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterable

from ..vr import DICOM_VRS, UNKNOWN_VR
from ..writer import Entry
from .ranges import MAX_EXPANSION, Parity, range_values
from .result import BLOCK_OFFSET, EXACT, Candidate, ImportResult, Skip, SourceError, select

SOURCE = "dcmtk"

_PART = re.compile(r"([0-9A-Fa-f]{1,4})(?:-(?:([A-Za-z])-)?([0-9A-Fa-f]{1,4}))?")
_TAG = re.compile(r'\(([^,"]*),\s*(?:"([^"]*)"\s*,)?([^)]*)\)')
_VM = re.compile(r"\d+(?:-(?:\d+|\d*[nN]))?|\d*[nN]")
_PSEUDO_VR = re.compile(r"[a-z]{2}")
_PARITIES = {"o": Parity.ODD, "e": Parity.EVEN, "u": Parity.ANY}
_RETIRED_PREFIX = "RETIRED_"


def _tag_part(text: str, what: str) -> range:
    text = "".join(text.split())
    m = _PART.fullmatch(text)
    if m is None:
        raise ValueError(f"bad {what} {text!r}")
    low, restrictor, high = m.groups()
    if high is None:
        value = int(low, 16)
        return range(value, value + 1)
    if restrictor is None:
        parity = Parity.EVEN  # DCMTK's default for a range
    else:
        parity = _PARITIES.get(restrictor.lower())
        if parity is None:
            raise ValueError(f"unknown range restrictor {restrictor!r} in {what} {text!r}")
    return range_values(int(low, 16), int(high, 16), parity)


def _parse_tag(field: str) -> tuple[range, str | None, range]:
    m = _TAG.fullmatch(field.strip())
    if m is None:
        raise ValueError(f"bad tag field {field.strip()!r}")
    group_text, creator, element_text = m.groups()
    if creator == "":
        raise ValueError("empty private creator")
    return _tag_part(group_text, "group"), creator, _tag_part(element_text, "element")


def _parse_vr(field: str) -> str:
    vr = "".join(field.split())
    if vr in DICOM_VRS:
        return vr
    if _PSEUDO_VR.fullmatch(vr):
        return UNKNOWN_VR
    raise ValueError(f"unknown VR {vr!r}")


def _parse_line(line: str, origin: str, source: str, max_expansion: int) -> list[Candidate] | Skip:
    fields = line.split("\t")
    if not 3 <= len(fields) <= 5:
        raise ValueError(f"expected 3 to 5 tab-separated fields, found {len(fields)}")
    groups, creator, elements = _parse_tag(fields[0])
    vr = _parse_vr(fields[1])
    keyword = "".join(fields[2].split())
    if not keyword:
        raise ValueError("empty keyword")
    vm = "".join(fields[3].split()) if len(fields) > 3 else ""
    if vm and not _VM.fullmatch(vm):
        raise ValueError(f"bad VM {vm!r}")
    version = "".join(fields[4].split()) if len(fields) > 4 else "DICOM"
    retired = "retired" in version.lower().split("/")
    if keyword.startswith(_RETIRED_PREFIX):
        keyword = keyword[len(_RETIRED_PREFIX) :]

    spread = len(groups) * len(elements)
    if spread == 0:
        return Skip(origin, f"{fields[0].strip()} stands for no tag")
    if spread > max_expansion:
        return Skip(
            origin,
            f"{fields[0].strip()} stands for {spread} tags, more than {max_expansion}: "
            "a rule for a class of tags, not an entry",
        )
    description = f"VM {vm}" if vm else ""
    out = []
    for group in groups:
        for element in elements:
            block = creator is not None and element <= 0xFF
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
    read and SourceError for a malformed line or a file that is not UTF-8 text.
    """
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for path in paths:
        name = os.fspath(path)
        with open(path, encoding="utf-8", newline="") as f:
            try:
                lines = f.read().split("\n")
            except UnicodeDecodeError as e:
                raise SourceError(f"{name}: not UTF-8 text (byte {e.start})") from None
        more, skips = parse_lines(lines, name, source=source, max_expansion=max_expansion)
        candidates.extend(more)
        skipped.extend(skips)
    return select(source, candidates, skipped, later_wins=True)
