"""The public entries of a dictionary, read once for the questions a tag lookup cannot answer.

`tagatlas.datadict` answers tags with `Dict.lookup`. Two questions need every public entry: which
tag has this keyword (`tag_for_keyword`), and which repeating-tag masks the file holds
(`mask_match`, `repeater_has_keyword`). `read_public` answers both from one pass over an
`EntryTable`'s columns, done without per-entry Python work where it can be: only the distinct
description texts are decoded (a few hundred; masked entries share theirs), and only the keywords
of entries that are not repeaters.

A public entry is a repeater when its description's facts line names a mask ("VM 1; mask
60xx3000").
"""

from __future__ import annotations

from itertools import compress, repeat
from operator import lshift, not_, or_

from ._facts import mask_bits, read_facts

__all__ = ["PublicIndex", "read_public"]


class PublicIndex:
    """What `read_public` reads.

    `keywords`: keyword -> tag of the entries that are not repeaters, later entries (in tag order)
    winning, as pydicom's `keyword_dict` is made. `masks`: (mask, value bits, care bits) of each
    repeater mask, in the order of the first tag that holds it. `mask_tags`: mask -> that first
    tag, where the mask's entry can be looked up. `repeater_keywords`: the repeaters' keywords.
    """

    __slots__ = ("keywords", "masks", "mask_tags", "repeater_keywords")

    def __init__(self, keywords, masks, mask_tags, repeater_keywords) -> None:
        self.keywords: dict[str, int] = keywords
        self.masks: list[tuple[str, int, int]] = masks
        self.mask_tags: dict[str, int] = mask_tags
        self.repeater_keywords: frozenset[str] = repeater_keywords


def _record_column(table, field: str) -> list[int]:
    # The table's raw record fields, in index order: offsets and lengths let the texts of only
    # some rows be decoded.
    return table._record_column(field)


def read_public(table) -> PublicIndex:
    """Reads the keyword map and the repeater masks of a `tagatlas.table.EntryTable`."""
    # A public entry has no creator; the index gives it creator hash 0.
    public = list(map(not_, map(or_, table.creator_hashes, _record_column(table, "creator_len"))))

    def rows(column: list) -> list:
        return list(compress(column, public))

    groups = rows(table.key_groups)
    elements = rows(table.key_elements)
    keyword_offsets = rows(_record_column(table, "keyword_offset"))
    keyword_lengths = rows(_record_column(table, "keyword_len"))
    descriptions = list(
        zip(
            rows(_record_column(table, "description_offset")),
            rows(_record_column(table, "description_len")),
        )
    )

    # Masked entries share a few description texts: decode each distinct text once.
    distinct = list(dict.fromkeys(descriptions))
    texts = table._texts("description", [o for o, _ in distinct], [n for _, n in distinct])
    mask_by_text = {pair: m for pair, text in zip(distinct, texts) if (m := read_facts(text)[2])}
    row_masks = list(map(mask_by_text.get, descriptions))  # None for an entry that is no repeater
    plain = list(map(not_, row_masks))

    tags = map(or_, map(lshift, compress(groups, plain), repeat(16)), compress(elements, plain))
    names = table._texts(
        "keyword", list(compress(keyword_offsets, plain)), list(compress(keyword_lengths, plain))
    )
    keywords = dict(zip(names, tags))

    masked_rows = list(compress(range(len(row_masks)), row_masks))
    masked = [row_masks[i] for i in masked_rows]
    # Reversed, so that each mask keeps its first row.
    first_row = dict(zip(reversed(masked), reversed(masked_rows)))
    order = list(dict.fromkeys(masked))
    masks = [(m, *mask_bits(m)) for m in order]
    mask_tags = {m: groups[first_row[m]] << 16 | elements[first_row[m]] for m in order}
    repeater_pairs = list(
        dict.fromkeys(zip([keyword_offsets[i] for i in masked_rows],
                          [keyword_lengths[i] for i in masked_rows]))
    )  # fmt: skip
    repeater_keywords = frozenset(
        table._texts("keyword", [o for o, _ in repeater_pairs], [n for _, n in repeater_pairs])
    )
    return PublicIndex(keywords, masks, mask_tags, repeater_keywords)
