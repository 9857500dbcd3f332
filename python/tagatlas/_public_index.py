"""The public entries of a dictionary, read for the questions a tag lookup cannot answer.

`tagatlas.datadict` answers tags with `Dict.lookup`. Two questions need every public entry: which
tag has this keyword (`read_keywords`), and which repeating-tag masks the file holds
(`read_repeaters`). Both read the file's arrays in place, through strided views of an
`EntryTable`'s index and records, and avoid per-entry Python work: the entries are filtered with
`itertools.compress`, only the distinct description texts are decoded (a few hundred; the entries
of one mask share theirs), and only the keywords that are kept.

A public entry has no creator (creator hash 0 in the index). It is a repeater when its
description's facts line names a mask ("VM 1; mask 60xx3000").
"""

from __future__ import annotations

import sys
from bisect import bisect_left
from itertools import compress, repeat
from operator import lshift, not_, or_

from .description import mask_bits, read_facts

__all__ = ["Repeaters", "read_keywords", "read_repeaters"]

_MASK_FACT = b"; mask "


class Repeaters:
    """The repeater masks of a file.

    `masks`: (mask, value bits, care bits) of each mask, in the order of the first tag that holds
    it. `mask_tags`: mask -> that first tag, where the mask's entry is looked up. `keywords`: the
    repeaters' keywords.
    """

    __slots__ = ("masks", "mask_tags", "keywords")

    def __init__(self, masks: list, mask_tags: dict, keywords: frozenset) -> None:
        self.masks: list[tuple[str, int, int]] = masks
        self.mask_tags: dict[str, int] = mask_tags
        self.keywords: frozenset[str] = keywords


class _PublicRows:
    """Fields of the public entries of an `EntryTable`, in index order.

    The table's index and records are read in place (`index_values`, `record_values`, `texts`),
    which spares the full columns.
    """

    def __init__(self, table) -> None:
        self.table = table
        self.flags = bytes(map(not_, table.index_values("creator_hash")))
        offsets = self.field("description_offset")
        lengths = self.field("description_len")
        # A description is known by its offset when no two entries read different lengths there.
        by_offset = dict(zip(offsets, lengths))
        if list(map(by_offset.__getitem__, offsets)) == lengths:
            self.descriptions = offsets
            distinct = list(by_offset.items())
        else:
            self.descriptions = list(zip(offsets, lengths))
            distinct = list(dict.fromkeys(self.descriptions))
        # Only a description holding "; mask " can name one: those are found in the pool first,
        # so the thousands of descriptive texts are never decoded.
        hits = table.positions_of(_MASK_FACT)
        distinct = [
            (o, n) for o, n in distinct if (i := bisect_left(hits, o)) < len(hits) and hits[i] < o + n
        ]  # fmt: skip
        texts = table.texts("description", [o for o, _ in distinct], [n for _, n in distinct])
        keys = [pair[0] for pair in distinct] if self.descriptions is offsets else distinct
        # The mask of each description that names one.
        self.mask_of = {key: m for key, text in zip(keys, texts) if (m := read_facts(text)[2])}

    def field(self, name: str, where: bytes | None = None) -> list[int]:
        """A record field of the public entries (of those among them flagged in `where`)."""
        values = compress(self.table.record_values(name), self.flags)
        return list(values if where is None else compress(values, where))

    def tags(self, where: bytes) -> list[int]:
        """The lookup keys (group << 16 | element) of the public entries flagged in `where`."""
        groups, elements = (
            compress(compress(self.table.index_values(name), self.flags), where)
            for name in ("group", "element")
        )
        return list(map(or_, map(lshift, groups, repeat(16)), elements))

    def keywords(self, where: bytes) -> list[str]:
        offsets, lengths = self.field("keyword_offset", where), self.field("keyword_len", where)
        return self.table.texts("keyword", offsets, lengths)


def read_keywords(table) -> dict[str, int]:
    """keyword -> tag of the public entries that are not repeaters, in tag order, later entries
    winning, as pydicom makes its `keyword_dict`."""
    rows = _PublicRows(table)
    plain = bytes(map(not_, map(rows.mask_of.__contains__, rows.descriptions)))
    # Interned as pydicom's keywords are (they are literals in its source): a keyword a program
    # writes as a literal or an attribute name then matches by identity, without comparing text.
    return dict(zip(map(sys.intern, rows.keywords(plain)), rows.tags(plain)))


def read_repeaters(table) -> Repeaters:
    """The repeater masks of a `tagatlas.table.EntryTable`'s file."""
    rows = _PublicRows(table)
    row_masks = list(map(rows.mask_of.get, rows.descriptions))  # None where no repeater
    masked = bytes(map(bool, row_masks))
    names = list(compress(row_masks, masked))
    tags = rows.tags(masked)
    # Reversed, so that each mask keeps its first tag.
    first_tags = dict(zip(reversed(names), reversed(tags)))
    order = list(dict.fromkeys(names))
    return Repeaters(
        [(m, *mask_bits(m)) for m in order],
        {m: first_tags[m] for m in order},
        frozenset(rows.keywords(masked)),
    )
