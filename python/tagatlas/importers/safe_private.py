"""Reader for PS3.15's table of safe private attributes (Table E.3.10-1) in the DocBook `part15.xml`.

The table lists private data elements that a de-identifier may keep: element, private creator, VR,
VM and meaning. This module only reads the rows as the table writes them; the dictionary importer
(`ps3_15`) and the de-identification facts each decide what a row means for them.

The reader is strict, because a silently shorter table would mark fewer elements safe: the table is
found by its id, its five headings are checked by name, and every `<tr>` is either the heading row
or a data row of exactly five cells with a well-formed element. Anything else raises `SourceError`
naming the row.

Elements are written `(gggg,xxee)` for an element in a creator's block (`block_offset` set,
`element` the low byte) or `(gggg,eeee)` for a fixed element. Cell text is whitespace-normalised;
the VR is kept verbatim ("OW/OB" stays as written, an empty cell is "").
"""

from __future__ import annotations

import os
import re
import xml.etree.ElementTree as ET
from dataclasses import dataclass

from .lines import open_regular
from .result import SourceError

TABLE_ID = "table_E.3.10-1"
HEADINGS = ("Data Element", "Private Creator", "VR", "VM", "Meaning")

_DOCBOOK = "{http://docbook.org/ns/docbook}"
_XML_ID = "{http://www.w3.org/XML/1998/namespace}id"
_ELEMENT = re.compile(r"\(([0-9A-Fa-f]{4}),\s*(xx|[0-9A-Fa-f]{2})([0-9A-Fa-f]{2})\)", re.IGNORECASE)


@dataclass(frozen=True)
class SafePrivate:
    group: int  # e.g. 0x7053
    element: int  # low byte 0x00-0xFF when block_offset, else the full element
    block_offset: bool  # True for the (gggg,xxee) form
    creator: str  # as the table writes it
    vr: str  # "" when the table gives none; "OW/OB" kept verbatim here
    vm: str
    meaning: str


def _text(node: ET.Element) -> str:
    return " ".join("".join(node.itertext()).split())


def _find_table(root: ET.Element, path: str | os.PathLike[str]) -> ET.Element:
    for node in root.iter(f"{_DOCBOOK}table"):
        if node.get(_XML_ID) == TABLE_ID:
            return node
    raise SourceError(f"{os.fspath(path)}: no table {TABLE_ID!r}")


def _cells(row: ET.Element, tag: str) -> list[ET.Element]:
    return [c for c in row if c.tag == f"{_DOCBOOK}{tag}"]


def _row(cells: list[str], where: str) -> SafePrivate:
    element, creator, vr, vm, meaning = cells
    m = _ELEMENT.fullmatch(element)
    if m is None:
        raise SourceError(f"{where}: data element {element!r} is not (gggg,xxee) or (gggg,eeee)")
    if not creator:
        raise SourceError(f"{where}: no private creator")
    group = int(m.group(1), 16)
    block = m.group(2).lower() == "xx"
    low = int(m.group(3), 16)
    elem = low if block else (int(m.group(2), 16) << 8) | low
    return SafePrivate(group, elem, block, creator, vr, vm, meaning)


def read_safe_private(path: str | os.PathLike[str]) -> list[SafePrivate]:
    """All rows of Table E.3.10-1 in table order; raises `SourceError` on any row it cannot read."""
    try:
        with open_regular(path) as f:
            root = ET.parse(f).getroot()
    except ET.ParseError as exc:
        raise SourceError(f"{os.fspath(path)}: not well-formed XML: {exc}") from None
    table = _find_table(root, path)
    rows: list[SafePrivate] = []
    headed = False
    for index, tr in enumerate(table.iter(f"{_DOCBOOK}tr"), 1):
        where = f"{os.fspath(path)}: {TABLE_ID} row {index}"
        heads = _cells(tr, "th")
        if heads:
            names = tuple(_text(th) for th in heads)
            if headed or names != HEADINGS or _cells(tr, "td"):
                raise SourceError(f"{where}: headings {names!r}, expected {HEADINGS!r} once")
            headed = True
            continue
        cells = _cells(tr, "td")
        if not headed:
            raise SourceError(f"{where}: data row before the headings")
        if len(cells) != len(HEADINGS) or len(cells) != len(tr):
            raise SourceError(f"{where}: {len(tr)} cells, expected {len(HEADINGS)} <td>")
        rows.append(_row([_text(td) for td in cells], where))
    if not headed:
        raise SourceError(f"{os.fspath(path)}: {TABLE_ID} has no heading row")
    return rows
