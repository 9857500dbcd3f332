"""Importer for the TCIA Private Tag Knowledge Base, as the CSV `private_tags_template.csv`.

Columns read: Group, Element (`xxEE`, a block offset), Private Creator, VR, VM, Meaning. The
"Meaning" cell often is a path through sequences ("Referenced Series Sequence:Referenced Image
Sequence:Unknown"), where the element's own name is the text after the last ":"; that text is the
entry's name ("Unknown" stays a placeholder, for the merge to weigh). The CSV's keep/remove
decisions are de-identification advice, not dictionary facts, and are not read. There is no
keyword and no retired flag.
"""

from __future__ import annotations

import csv
import os
import re
from contextlib import closing

from .lines import source_lines
from .private_rows import private_candidates
from .result import Candidate, ImportResult, Skip, SourceError, select

SOURCE = "tcia"

COLUMNS = ("Group", "Element", "Private Creator", "VR", "VM", "Meaning")
_GROUP = re.compile(r"[0-9A-Fa-f]{4}")
_ELEMENT = re.compile(r"(?:[xX]{2}|[0-9A-Fa-f]{2})[0-9A-Fa-f]{2}")


def import_tcia(paths, *, source: str = SOURCE) -> ImportResult:
    """Reads the CSV file(s). Raises OSError or SourceError (with file and line)."""
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for path in paths:
        name = os.fspath(path)
        # The csv module needs the line ends back: a quoted cell may hold one.
        with closing(source_lines(path)) as lines:
            try:
                reader = csv.DictReader(line + "\n" for _, line in lines)
                missing = [c for c in COLUMNS if c not in (reader.fieldnames or ())]
                if missing:
                    raise SourceError(f"{name}: no column {', '.join(map(repr, missing))}")
                for row in reader:
                    where = f"{name}:{reader.line_num}"
                    group, element = row["Group"].strip(), row["Element"].strip()
                    if not _GROUP.fullmatch(group) or not _ELEMENT.fullmatch(element):
                        raise SourceError(f"{where}: bad tag ({group},{element})")
                    if int(group, 16) % 2 == 0:
                        skipped.append(Skip(where, f"({group},{element}) is not private"))
                        continue
                    low = element[2:] if element[:2].lower() == "xx" else element
                    meaning = " ".join(row["Meaning"].split())
                    candidates += private_candidates(
                        group, int(low, 16), row["Private Creator"], origin=where,
                        source=source, name=meaning.rpartition(":")[2].strip(),
                        vr=row["VR"], vm=row["VM"].strip(),
                    )  # fmt: skip
            except csv.Error as e:
                raise SourceError(f"{name}: {e}") from None
    return select(source, candidates, skipped, later_wins=False)
