"""Importer for the PS3.6 registry of data elements as the generated table `tags.ts`.

The file holds one entry a line:

    "00100010": { tag: "00100010", keyword: "PatientName", name: "Patient's Name",
                  vr: ["PN"] as const, vm: "1", retired: false },

(on one line), where the tag may be a mask with "x" for any hex digit ("60xx3000", "1000xxx0").
Every line between the table's braces must be such an entry; anything else raises `SourceError`
with the line, so that a changed generator cannot drop rows unnoticed.

The rows are read into the shape of pydicom's public tables and imported by
`pydicom_tables.import_pydicom`, so exact tags, masks, wide masks and the facts line follow one set
of rules. Fields: a VR list of more than one VR is the choice "US or SS or OW"; an empty list is
"NONE" (items and delimiters, and the blank retired rows), stored as "??" with `; VR NONE`; an empty
VM is written as a facts line `VM` alone, so that it reads as stated, not as missing.
"""

from __future__ import annotations

import json
import os
import re
from contextlib import closing
from dataclasses import replace

from ..description import parse_description
from .lines import source_lines
from .pydicom_tables import Tables, import_pydicom
from .result import ImportResult, SourceError

SOURCE = "ps3.6"

_ROW = re.compile(
    r'\s*"(?P<key>[0-9A-Fa-fx]{8})": \{ tag: "(?P<tag>[0-9A-Fa-fx]{8})", '
    r'keyword: (?P<keyword>"[^"\\]*"), name: (?P<name>"(?:[^"\\]|\\.)*"), '
    r'vr: \[(?P<vr>[^\]]*)\] as const, vm: (?P<vm>"[^"\\]*"), retired: (?P<retired>true|false)'
    r'(?:, repeatingGroup: true as const)? \},\s*'
)
_VR = re.compile(r'\s*"([A-Z]{2})"\s*')
_START = re.compile(r"export const TAGS\b.*=\s*\{\s*$")


def read_rows(path: str | os.PathLike[str]) -> list[tuple[str, tuple[str, str, str, str, str]]]:
    """(tag or mask, (VR, VM, name, retired, keyword)) for each row, in file order."""
    name = os.fspath(path)
    with closing(source_lines(path)) as lines:
        if not any(_START.match(line) for _, line in lines):
            raise SourceError(f"{name}: no 'export const TAGS ... = {{' line")
        return _rows_until_end(lines, name)


def _rows_until_end(lines, name: str) -> list[tuple[str, tuple[str, str, str, str, str]]]:
    rows = []
    for number, line in lines:
        if line.strip() == "};":
            return rows
        if not line.strip():
            continue
        where = f"{name}:{number}"
        m = _ROW.fullmatch(line)
        if m is None or m["key"] != m["tag"]:
            raise SourceError(f"{where}: not a registry row: {line.strip()[:60]!r}")
        vrs = [v.group(1) for v in _VR.finditer(m["vr"])] if m["vr"].strip() else []
        if ",".join(f'"{v}"' for v in vrs) != m["vr"].replace(" ", ""):
            raise SourceError(f"{where}: bad VR list [{m['vr']}]")
        vr = " or ".join(vrs) if vrs else "NONE"
        fields = (vr, json.loads(m["vm"]), json.loads(m["name"]),
                  "Retired" if m["retired"] == "true" else "", json.loads(m["keyword"]))  # fmt: skip
        rows.append((m["key"], fields))
    raise SourceError(f"{name}: the table does not end with '}};'")


def import_ps3_6(paths, *, source: str = SOURCE) -> ImportResult:
    """Reads `tags.ts` file(s), later files overriding earlier ones. Raises OSError, SourceError."""
    public: dict[int, tuple] = {}
    repeaters: dict[str, tuple] = {}
    for path in paths:
        for key, fields in read_rows(path):
            if "x" in key:
                repeaters[key] = fields
            else:
                public[int(key, 16)] = fields
    result = import_pydicom(Tables(public, repeaters, {}), source=source)
    # A stated empty VM keeps its facts line ("VM"), which the shared importer leaves out.
    entries = [
        e if e.description else replace(e, description="VM") for e in result.entries
    ]  # fmt: skip
    assert all(parse_description(e.description).vm is not None for e in entries)
    return ImportResult(source, entries, result.skipped)
