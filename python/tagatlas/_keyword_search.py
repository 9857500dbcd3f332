"""One keyword's public entries, found without reading every keyword of a dictionary.

`tagatlas.datadict` answers `tag_for_keyword` and `repeater_has_keyword` from maps of every
keyword (`_public_index`), which take milliseconds to read. A program that asks a few keywords
(pydicom asks two or three while reading a file) need not pay that: the keyword's bytes are found
in the file's string pool, the records whose keyword starts there are the keyword's entries, and
`Dict.lookup` tells whether each is public and whether it is a repeater. A name that is no keyword
at all ("_is_implicit_VR") is not in the pool and costs one search of it.

The answers are those of the maps: the public entries that are not repeaters give the keyword's
tag (the last in tag order, as later entries win in the map), and a public repeater makes it a
repeater's keyword. After `limit` keywords the searches stop (`find` returns None) and the caller
reads the maps, whose cost is then small beside the searches already made.
"""

from __future__ import annotations

import sys
from array import array

from ._format import layout
from .description import read_facts

__all__ = ["KeywordSearch"]


def _records(table, field: str) -> memoryview:
    # In record order, not index order: a record's number is all that links its fields here.
    return layout.field_values(table.records_view, layout.RECORD_FIELDS[field], layout.RECORD_SIZE)


class KeywordSearch:
    """Keyword questions about one `EntryTable`, answered one keyword at a time."""

    __slots__ = ("table", "limit", "answers", "_offsets")

    def __init__(self, table, limit: int = 8) -> None:
        self.table = table
        self.limit = limit
        self.answers: dict[str, tuple[int | None, bool]] = {}
        self._offsets: bytes | None = None  # every record's keyword offset, on first need

    def find(self, keyword: str) -> tuple[int | None, bool] | None:
        """(tag or None, whether a repeater has it) of a non-empty `keyword`; None once `limit`
        keywords were searched (the caller reads the maps then)."""
        answer = self.answers.get(keyword)
        if answer is None:
            if len(self.answers) >= self.limit:
                return None
            answer = self.answers[keyword] = self._search(keyword)
        return answer

    def _search(self, keyword: str) -> tuple[int | None, bool]:
        try:
            needle = keyword.encode()
        except UnicodeEncodeError:  # lone surrogates: lookups read no keyword as such
            return None, False
        positions = self.table.positions_of(needle)
        if not positions:
            return None, False
        if self._offsets is None:
            # Packed, so that the records holding an offset are found by a byte search, and
            # big-endian, so that the offset's leading zero bytes, common everywhere in the array
            # and slow to search for, can be left out of the searched bytes.
            packed = array("I", _records(self.table, "keyword_offset").tobytes())
            if sys.byteorder == "little":
                packed.byteswap()
            self._offsets = packed.tobytes()
        offsets, d = self._offsets, self.table.dict
        groups, elements = _records(self.table, "group"), _records(self.table, "element")
        tag, repeater = None, False
        for position in positions:
            zeros = 4 - max(1, (position.bit_length() + 7) // 8)
            needle, at = position.to_bytes(4, "big")[zeros:], -1
            while (at := offsets.find(needle, at + 1)) >= 0:
                start = at - zeros
                if start % 4 or offsets[start:at].count(0) != zeros:
                    continue  # the bytes straddle two offsets, or the offset is larger
                record = start // 4
                group, element = groups[record], elements[record]
                row = d.lookup(group, element)
                # The lookup reads the public entry at the record's tag: it is this record when
                # the record is public and its keyword is exactly the one asked.
                if row is None or row["creator"] or row["keyword"] != keyword:
                    continue
                if read_facts(row["description"])[2] is not None:
                    repeater = True
                else:
                    value = group << 16 | element
                    tag = value if tag is None else max(tag, value)
        return tag, repeater

