"""Importer for the rows of PS3.15's Table E.3.10-1 (safe private attributes) as dictionary entries.

`safe_private.read_safe_private` reads the table; each row becomes an entry of its creator:

- name: the meaning up to the first " - " ("SUV Factor - Multiplying Stored Pixel Values ..." is
  "SUV Factor"); the whole meaning is the entry's descriptive text;
- VR: as `private_rows.vr_choice` reads it ("OW/OB" is the choice "OB or OW", an empty cell "??");
- VM as written; no keyword; not retired.

Whether an element is safe to keep is not a dictionary fact and is not stored here.
"""

from __future__ import annotations

import os

from .private_rows import private_candidates
from .result import Candidate, ImportResult, select
from .safe_private import TABLE_ID, read_safe_private

SOURCE = "ps3.15"


def name_of(meaning: str) -> str:
    """The element's name in a meaning cell: the text before the first " - "."""
    return meaning.partition(" - ")[0].strip()


def import_ps3_15(paths, *, source: str = SOURCE) -> ImportResult:
    """Reads Table E.3.10-1 of each document. Raises OSError or SourceError."""
    candidates: list[Candidate] = []
    for path in paths:
        for number, row in enumerate(read_safe_private(path), 1):
            name = name_of(row.meaning)
            candidates += private_candidates(
                f"{row.group:04X}", row.element, row.creator,
                origin=f"{os.fspath(path)}: {TABLE_ID} row {number}", source=source,
                name=name, vr=row.vr, vm=row.vm,
                text=row.meaning,
            )  # fmt: skip
    return select(source, candidates, [], later_wins=False)
