"""Importer for dicom3tools' element dictionaries (`*.tpl`), their vendors' private entries.

Each line is a tag and attributes: `(gggg,eeee) VERS="GEM" VR="LO" VM="1" Owner="GEMS_ACQU_01"
Keyword="..." Name="..."`, optionally `PrivateBlock="0011"`. Lines with an `Owner` are private:

- the element is a block offset (at most 0xFF, as dicom3tools writes them) unless the line says
  which block it is in: `PrivateBlock="00bb"` places it at the full element (gggg,bbee), since
  such a vendor (PHILIPS MR/PART) defines the same offset differently in different blocks; a
  full element above 0xFF is kept as written;
- a group mask ("60xx") stands for the odd groups it matches;
- VR: "OW/OB" and "US or SS" are choices (`private_rows.vr_choice`); VERS="RET" means retired.

Lines without an `Owner` are the public registry as of 2011; PS3.6 is the public registry here,
so they are skipped and reported. Some lines of the 2011 files miss a quote (`Name=Collimator
Left Vertical Edge"`, `Name="?`); attributes are read up to the next ` Key=` or the end of the
line, and a stray quote at either end of a value is dropped.
"""

from __future__ import annotations

import os
import re

from .lines import source_lines
from .private_rows import private_candidates
from .result import Candidate, ImportResult, Skip, SourceError, select

SOURCE = "dicom3tools"

_LINE = re.compile(r"\(([0-9A-Fa-fx]{4}),([0-9A-Fa-fx]{4})\)(.*)")
_ATTRIBUTE = re.compile(r"(?:^|\s)([A-Za-z]+)=")


def attributes(text: str) -> dict[str, str]:
    """The Key="value" pairs of a line's rest, tolerant of a missing or doubled quote."""
    marks = list(_ATTRIBUTE.finditer(text))
    out = {}
    for m, after in zip(marks, marks[1:] + [None]):
        value = text[m.end() : after.start() if after else len(text)].strip()
        if value.startswith('"'):
            value = value[1:]
        while value.endswith('"'):
            value = value[:-1]
        out[m.group(1)] = value.strip()
    return out


def import_dicom3tools(paths, *, source: str = SOURCE) -> ImportResult:
    """Reads the `.tpl` files in order. Raises OSError or SourceError (with file and line)."""
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for path in paths:
        name = os.fspath(path)
        for number, line in source_lines(path):
            if not line.strip():
                continue
            where = f"{name}:{number}"
            m = _LINE.match(line.strip())
            if m is None:
                raise SourceError(f"{where}: no (gggg,eeee) tag at the start")
            group, element_text, rest = m.groups()
            fields = attributes(rest)
            owner = fields.get("Owner")
            if not owner:
                skipped.append(Skip(where, "public line (PS3.6 is the public registry)"))
                continue
            if "x" in element_text.lower():
                raise SourceError(f"{where}: a private element mask {element_text!r}")
            element = int(element_text, 16)
            block = fields.get("PrivateBlock")
            if block is not None:
                if not re.fullmatch(r"00[1-9A-Fa-f][0-9A-Fa-f]", block) or element > 0xFF:
                    raise SourceError(f"{where}: bad PrivateBlock {block!r}")
                element = int(block, 16) << 8 | element
            candidates += private_candidates(
                group, element, owner, origin=where, source=source,
                name=fields.get("Name", ""), keyword=fields.get("Keyword", ""),
                vr=fields.get("VR", ""), vm=fields.get("VM", ""),
                retired=fields.get("VERS", "").upper() == "RET",
            )  # fmt: skip
    return select(source, candidates, skipped, later_wins=False)
