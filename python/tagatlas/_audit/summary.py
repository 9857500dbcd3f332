"""One row per attribute over every file of an audit, with the number of files and elements.

A public element is counted under its dictionary entry (a repeating tag under its mask,
"60xx,3000"), a private element under its group, creator (any case and spacing, shown as first
met) and block offset ("0019,xx0C"), since the block a creator is given differs from file to
file; a creator element under its group and creator ("0019,00xx"). What the dictionary does not
know is counted the same way and named as unknown. Rows come private first, unknown creators
first among them.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import NamedTuple

from .._format.creator import canonicalize_creator
from ..explain import Explained

__all__ = ["UNKNOWN", "SummaryRow", "Summary"]

UNKNOWN = {
    "tag": "<unknown tag>",
    "no creator": "<unknown: no creator element for its block>",
    "creator": "<unknown creator>",
    "element": "<unknown element of its creator>",
}


class SummaryRow(NamedTuple):
    """`tag` as counted ("0010,0010", "60xx,3000", "0019,xx0C"); `deid` None without a rule."""

    tag: str
    creator: str | None
    name: str
    vr: str | None
    files: int
    elements: int
    deid: str | None


class _Tally:
    __slots__ = ("row", "files", "elements", "seen_in")

    def __init__(self, row: Explained) -> None:
        self.row = row  # the first element met, which names the attribute
        self.files = 0
        self.elements = 0
        self.seen_in = -1


def _canonical(creator: str) -> str:
    try:
        return canonicalize_creator(creator)
    except UnicodeError:
        return creator


def _key(r: Explained) -> tuple:
    group, element = int(r.tag[:4], 16), int(r.tag[5:], 16)
    if not r.private:
        if r.mask is None:
            return (2, group, element, "")
        first = r.mask.replace("x", "0")  # a mask's lowest tag, for its place among the others
        return (2, int(first[:4], 16), int(first[4:], 16), r.mask)
    rank = 0 if r.unknown in ("creator", "no creator") else 1
    if r.creator is None or element < 0x10 or 0x100 <= element < 0x1000:
        return (rank, group, element, "")
    if element <= 0xFF:  # the creator element itself
        return (rank, group, 0, _canonical(r.creator))
    return (rank, group, 0x100 | element & 0xFF, _canonical(r.creator))


def _tag(key: tuple, r: Explained) -> str:
    _, group, element, extra = key
    if not r.private:
        return r.tag if not extra else f"{extra[:4]},{extra[4:]}"
    if not extra:
        return r.tag
    return f"{group:04X},00xx" if element == 0 else f"{group:04X},xx{element & 0xFF:02X}"


class Summary:
    """Folds the rows of each file into counts per attribute.

    `deid(group, element, creator)` gives the de-identification action of an attribute for its
    DEID column (None: no rule).
    """

    def __init__(self, deid: Callable[[int, int, str | None], str | None] | None = None) -> None:
        self._deid = deid
        self._tallies: dict[tuple, _Tally] = {}
        self._files = 0

    def add_file(self, rows: Iterable[Explained]) -> None:
        file = self._files
        self._files += 1
        tallies = self._tallies
        for r in rows:
            key = _key(r)
            tally = tallies.get(key)
            if tally is None:
                tally = tallies[key] = _Tally(r)
            tally.elements += 1
            if tally.seen_in != file:
                tally.seen_in = file
                tally.files += 1

    def rows(self) -> list[SummaryRow]:
        out = []
        for key in sorted(self._tallies):
            tally = self._tallies[key]
            r = tally.row
            name = r.name if r.unknown is None else UNKNOWN[r.unknown]
            deid = self._deid(*_group_element(r), r.creator) if self._deid else None
            out.append(SummaryRow(
                _tag(key, r), r.creator, name, r.dictionary_vr, tally.files, tally.elements, deid,
            ))  # fmt: skip
        return out


def _group_element(r: Explained) -> tuple[int, int]:
    return int(r.tag[:4], 16), int(r.tag[5:], 16)
