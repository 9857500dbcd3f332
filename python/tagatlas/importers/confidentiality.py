"""The Basic Application Level Confidentiality Profile, from PS3.15's DocBook (Table E.1-1).

Table E.1-1 gives, for each attribute it lists, the action of the Basic Profile and of ten options
that change it, as codes of Table E.1-1a ("X", "Z", "X/Z/D", "X/Z/U*", ...). The reader is strict
about the document's shape, because a misread column would give a wrong instruction silently:

- every `<tr>` of the table is a header row (one, in `<thead>`) or a body row (in `<tbody>`), and
  every cell spans one row and one column;
- the fifteen column headings are checked by name, in order, so a moved column fails the read;
- every code is one that Table E.1-1a defines, kept verbatim; the Basic Profile column is never
  empty; the retired and IOD columns hold "Y" or "N";
- a tag is exact ("(0010,0010)"), a mask with "x" for any digit ("(60xx,3000)"), or the private
  attributes' rule, and no tag is listed twice;
- the private rule reads "X" under the Basic Profile and "C" under Retain Safe Private, which
  `tagatlas.deid` takes to mean "keep the safe ones, remove the rest"; any other wording fails;
- where two options both give a code for an attribute they must agree, except for the pairs in
  CONFLICTING, which `tagatlas.deid` refuses to combine; a new disagreement fails the read.

    >>> table = read_confidentiality("tools/sources/ps3.15-2026c/part15.xml")
    >>> row = table.by_tag["00100010"]
    >>> row.basic, row.options
    ('Z', {})
"""

from __future__ import annotations

import os
import re
import xml.etree.ElementTree as ET
from collections import Counter
from dataclasses import dataclass, field

from .lines import open_regular
from .result import SourceError

__all__ = [
    "HEADINGS", "OPTIONS", "CONFLICTING", "PRIVATE_RULE", "Row", "Confidentiality",
    "read_confidentiality", "option_conflicts",
]

_DOCBOOK = "{http://docbook.org/ns/docbook}"
_XML_ID = "{http://www.w3.org/XML/1998/namespace}id"
TABLE_ID = "table_E.1-1"
CODES_TABLE_ID = "table_E.1-1a"

# The table's column headings as the document words them, and what each column is called here.
HEADINGS = (
    ("Attribute Name", "name"),
    ("Tag", "tag"),
    ("Retd. (from PS3.6)", "retired"),
    ("In Std. Comp. IOD (from PS3.3)", "in_iod"),
    ("Basic Prof.", "basic"),
    ("Rtn. Safe Priv. Opt.", "retain-safe-private"),
    ("Rtn. UIDs Opt.", "retain-uids"),
    ("Rtn. Dev. Id. Opt.", "retain-device-identity"),
    ("Rtn. Inst. Id. Opt.", "retain-institution-identity"),
    ("Rtn. Pat. Chars. Opt.", "retain-patient-characteristics"),
    ("Rtn. Long. Full Dates Opt.", "retain-longitudinal-full-dates"),
    ("Rtn. Long. Modif. Dates Opt.", "retain-longitudinal-modified-dates"),
    ("Clean Desc. Opt.", "clean-descriptors"),
    ("Clean Struct. Cont. Opt.", "clean-structured-content"),
    ("Clean Graph. Opt.", "clean-graphics"),
)
OPTIONS = tuple(name for _, name in HEADINGS[5:])

# Option pairs whose columns disagree on some attributes. The Standard makes the two longitudinal
# options mutually exclusive; for device identity against modified dates (calibration and
# manufacture dates: keep, or modify) it says nothing of which wins. Either way a plan that
# combines them would have to guess.
CONFLICTING = frozenset({
    ("retain-longitudinal-full-dates", "retain-longitudinal-modified-dates"),
    ("retain-device-identity", "retain-longitudinal-modified-dates"),
})  # fmt: skip

PRIVATE_RULE = "private"
SAFE = "retain-safe-private"
_PRIVATE_TAG = "(gggg,eeee) where gggg is odd"
_EXACT = re.compile(r"\(([0-9A-F]{4}),([0-9A-F]{4})\)")
_MASK = re.compile(r"\(([0-9A-Fx]{4}),([0-9A-Fx]{4})\)")
_YES_NO = {"Y": True, "N": False}


@dataclass(frozen=True)
class Row:
    """One attribute of the table. `tag` is eight hex digits ("00100010"), a mask with "x"
    ("60xx3000"), or PRIVATE_RULE; `options` maps each option whose column has a code to it."""

    tag: str
    name: str
    retired: bool
    in_iod: bool
    basic: str
    options: dict[str, str] = field(default_factory=dict)


@dataclass
class Confidentiality:
    """The table read: its rows in document order, the codes of Table E.1-1a and counts."""

    rows: list[Row]
    codes: dict[str, str]  # code -> the Standard's meaning
    header_rows: int

    @property
    def by_tag(self) -> dict[str, Row]:
        return {row.tag: row for row in self.rows}

    def counts(self) -> dict[str, object]:
        """Rows by kind, codes per column and the option conflicts, for the build's report."""
        masks = sum(1 for r in self.rows if "x" in r.tag)
        private = sum(1 for r in self.rows if r.tag == PRIVATE_RULE)
        return {
            "rows": len(self.rows),
            "exact": len(self.rows) - masks - private,
            "masks": masks,
            "private_rules": private,
            "basic": dict(sorted(Counter(r.basic for r in self.rows).items())),
            "options": {
                name: sum(1 for r in self.rows if name in r.options) for name in OPTIONS
            },
            "conflicts": {" / ".join(pair): n for pair, n in option_conflicts(self.rows).items()},
        }


def option_conflicts(rows) -> dict[tuple[str, str], int]:
    """For each pair of options (in OPTIONS order) whose codes differ on some row, how many."""
    from .._deid_table import option_conflicts as conflicts

    return conflicts((r.options for r in rows), OPTIONS)


def _text(element: ET.Element) -> str:
    """A cell's text with spaces normalised; a cross-reference to another Part reads as its name
    ("PS3.6"), as the rendered document shows it."""
    parts = [element.text or ""]
    for child in element:
        if child.tag == f"{_DOCBOOK}olink":
            parts.append(child.get("targetdoc", ""))
        parts.append(_text(child))
        parts.append(child.tail or "")
    return " ".join("".join(parts).split())


def _find_table(root: ET.Element, table_id: str, where: str) -> ET.Element:
    found = [e for e in root.iter(f"{_DOCBOOK}table") if e.get(_XML_ID) == table_id]
    if len(found) != 1:
        raise SourceError(f"{where}: {len(found)} tables with id {table_id!r}, expected 1")
    return found[0]


def _cells(tr: ET.Element, where: str) -> list[ET.Element]:
    cells = list(tr)
    for cell in cells:
        if cell.tag not in (f"{_DOCBOOK}td", f"{_DOCBOOK}th"):
            raise SourceError(f"{where}: a row holds <{cell.tag}>, not a cell")
        if cell.get("colspan", "1") != "1" or cell.get("rowspan", "1") != "1":
            raise SourceError(f"{where}: a cell spans several columns or rows")
    return cells


def _read_codes(table: ET.Element, where: str) -> dict[str, str]:
    codes = {}
    for n, tr in enumerate(table.iter(f"{_DOCBOOK}tr"), 1):
        cells = _cells(tr, f"{where}, Table E.1-1a row {n}")
        if len(cells) != 2:
            raise SourceError(f"{where}: Table E.1-1a row {n} has {len(cells)} cells, expected 2")
        code, meaning = (_text(c) for c in cells)
        if not code or code in codes:
            raise SourceError(f"{where}: Table E.1-1a row {n}: code {code!r} empty or repeated")
        codes[code] = meaning
    if not codes:
        raise SourceError(f"{where}: Table E.1-1a has no codes")
    return codes


def _tag(text: str, where: str) -> str:
    if text == _PRIVATE_TAG:
        return PRIVATE_RULE
    m = _EXACT.fullmatch(text) or _MASK.fullmatch(text)
    if m is None:
        raise SourceError(
            f"{where}: tag {text!r} is neither (GGGG,EEEE), a mask nor the private rule"
        )
    return m.group(1) + m.group(2)


def _row(texts: list[str], codes: dict[str, str], where: str) -> Row:
    name, tag_text, retired, in_iod, basic, *option_codes = texts
    for column, value in zip((h for h, _ in HEADINGS[4:]), texts[4:]):
        if value and value not in codes:
            raise SourceError(f"{where}: {value!r} in column {column!r} is no code of Table E.1-1a")
    if not basic:
        raise SourceError(f"{where}: no Basic Profile action")
    for column, value in (("retired", retired), ("in IOD", in_iod)):
        if value not in _YES_NO:
            raise SourceError(f"{where}: {column} is {value!r}, expected Y or N")
    options = {n: c for n, c in zip(OPTIONS, option_codes) if c}
    return Row(_tag(tag_text, where), name, _YES_NO[retired], _YES_NO[in_iod], basic, options)


def _check_rules(rows: list[Row], where: str) -> None:
    private = [r for r in rows if r.tag == PRIVATE_RULE]
    if len(private) != 1 or private[0].basic != "X" or private[0].options != {
        "retain-safe-private": "C"
    }:  # fmt: skip
        raise SourceError(
            f"{where}: the private attributes' rule is not one row of X with Retain Safe "
            f"Private C: {private}"
        )
    elsewhere = [r.tag for r in rows if r.tag != PRIVATE_RULE and SAFE in r.options]
    if elsewhere:
        raise SourceError(f"{where}: Retain Safe Private has codes beyond its rule: {elsewhere}")
    repeated = [t for t, n in Counter(r.tag for r in rows).items() if n > 1]
    if repeated:
        raise SourceError(f"{where}: tags listed more than once: {repeated}")
    unexpected = sorted(set(option_conflicts(rows)) - CONFLICTING)
    if unexpected:
        raise SourceError(f"{where}: options that now disagree on some attributes: {unexpected}")


def read_confidentiality(path: str | os.PathLike[str]) -> Confidentiality:
    """Reads Tables E.1-1a and E.1-1 of PS3.15's DocBook; raises SourceError naming the place
    where the document does not have the shape described above, OSError when it cannot be read."""
    where = os.fsdecode(path)
    try:
        with open_regular(path) as f:
            root = ET.parse(f).getroot()
    except ET.ParseError as e:
        raise SourceError(f"{where}: not XML: {e}") from None
    codes = _read_codes(_find_table(root, CODES_TABLE_ID, where), where)
    table = _find_table(root, TABLE_ID, where)
    parts = {child.tag for child in table} - {f"{_DOCBOOK}caption"}
    if parts != {f"{_DOCBOOK}thead", f"{_DOCBOOK}tbody"}:
        raise SourceError(f"{where}: Table E.1-1 has parts {sorted(parts)}, not thead and tbody")
    heads = list(table.find(f"{_DOCBOOK}thead").iter(f"{_DOCBOOK}tr"))
    body = list(table.find(f"{_DOCBOOK}tbody").iter(f"{_DOCBOOK}tr"))
    if len(heads) + len(body) != len(list(table.iter(f"{_DOCBOOK}tr"))):
        raise SourceError(f"{where}: Table E.1-1 has rows outside its head and body")
    if len(heads) != 1:
        raise SourceError(f"{where}: Table E.1-1 has {len(heads)} header rows, expected 1")
    headings = [_text(c) for c in _cells(heads[0], f"{where}, Table E.1-1 header")]
    expected = [h for h, _ in HEADINGS]
    if headings != expected:
        raise SourceError(f"{where}: Table E.1-1 headings are {headings}, expected {expected}")
    rows = []
    for n, tr in enumerate(body, 1):
        at = f"{where}, Table E.1-1 row {n}"
        cells = _cells(tr, at)
        if len(cells) != len(HEADINGS) or any(c.tag != f"{_DOCBOOK}td" for c in cells):
            raise SourceError(f"{at}: {len(cells)} cells, expected {len(HEADINGS)} <td>")
        rows.append(_row([_text(c) for c in cells], codes, at))
    _check_rules(rows, where)
    return Confidentiality(rows, codes, len(heads))


def to_json(table: Confidentiality, safe_private=(), edition: str = "") -> str:
    """The package data form of the table (`tagatlas/data/deid.json`), one row a line.

    `safe_private` are (group, element, block_offset, creator) of Table E.3.10-1, element the
    low byte in the block-offset form. `tagatlas._deid_table` reads it back.
    """
    import json

    def dump(value) -> str:
        return json.dumps(value, ensure_ascii=False)

    lines = [
        "{",
        f'"edition": {dump(edition)},',
        f'"codes": {dump(table.codes)},',
        f'"options": {dump(list(OPTIONS))},',
        '"attributes": [',
    ]
    rows = [dump([r.tag, r.name, r.retired, r.in_iod, r.basic, r.options]) for r in table.rows]
    lines.append(",\n".join(rows))
    lines.append("],")
    lines.append('"safe_private": [')
    lines.append(",\n".join(dump(list(s)) for s in safe_private))
    lines.append("]")
    lines.append("}")
    return "\n".join(lines) + "\n"
