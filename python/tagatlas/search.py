"""Finding dictionary entries by the words of their keyword and name.

    >>> from tagatlas.search import search
    >>> [hit.tag for hit in search(["patient", "birth", "date"])]
    ['(0010,0030)', '(0010,0033)']
    >>> [(hit.tag, hit.keyword, hit.vr) for hit in search(["overlay", "data"], private=False)]
    [('(2040,0020)', 'OverlayPixelDataSequence', 'SQ'), ('(60xx,3000)', 'OverlayData', 'OB or OW')]

An entry matches when each word occurs in its keyword or its name, ignoring case, starting where a
word of it starts (the keyword's words begin at its capitals: "birth" and "birthdate" find
PatientBirthDate, "lut" finds LUTDescriptor but not ConvolutionKernel). With `descriptions=True`
the words are also looked for in the descriptive text, the description after its facts line. Entries
expanded from one repeating tag are one hit shown with the mask, "(60xx,3000)" or "(70xx,xx04)",
not one hit per tag; a private entry stored by its block offset shows as "(0019,xx0C)". Hits come
in the order of their tags, then creators.
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterable
from typing import NamedTuple

from ._dicom.tag import tag_text
from ._format.vr import shown_vr
from .description import parse_description
from .elements import same_creator
from .table import EntryTable, read_table

__all__ = ["Hit", "search", "tag_text"]


class Hit(NamedTuple):
    """One dictionary entry, or all entries of one repeating tag (`mask` set), that matched.

    `group` and `element` are those of the first entry (the lowest tag); `vr` is the VR, or the
    VR choice of the facts line ("US or SS") where the entry has no single VR; `creator` is None
    for a public entry; `text` is the descriptive text.
    """

    tag: str
    group: int
    element: int
    creator: str | None
    keyword: str
    name: str
    vr: str
    vm: str
    mask: str | None
    retired: bool
    block_offset: bool
    sources: list[str]
    text: str


# Where a word starts: a letter or digit after anything else, a digit after a letter, a capital
# after a small letter or digit ("PatientName"), a capital before a small letter ("LUTData").
_STARTS = re.compile(r"(?<![^\W_])[^\W_]|(?<=[^\W\d_])\d|(?<=[a-z\d])[A-Z]|[A-Z](?=[a-z])")


def _holder(text: str):
    """A test of whether a needle (case-folded) occurs in `text` where a word of `text` starts;
    the text is folded once and its word starts found once, however many needles are asked."""
    low = text.casefold()
    if len(low) != len(text):
        # Folding changed the length ("ß" is "ss"): positions no longer line up with the starts.
        return low.__contains__
    starts: set[int] | None = None

    def holds(needle: str) -> bool:
        nonlocal starts
        if not needle:
            return True
        if not needle[0].isalnum():
            return needle in low  # a needle starting with punctuation starts no word
        at = low.find(needle)
        if at < 0:
            return False
        if starts is None:
            starts = {m.start() for m in _STARTS.finditer(text)}
        while at >= 0:
            if at in starts:
                return True
            at = low.find(needle, at + 1)
        return False

    return holds


def _keep(
    table: EntryTable, private: bool | None, creator: str | None, retired: bool | None
) -> list[int]:
    """Index positions that pass the filters."""
    rows: Iterable[int] = range(len(table))
    if private is not None or creator is not None:
        creators = table.creators
        if creator is not None:
            # A few hundred distinct creators over thousands of entries: compare each once.
            wanted = {c for c in set(creators) if c and same_creator(c, creator)}
            rows = [i for i in rows if creators[i] in wanted]
        elif private:
            rows = [i for i in rows if creators[i]]
        else:
            rows = [i for i in rows if not creators[i]]
    if retired is not None:
        flags = table.retired
        rows = [i for i in rows if flags[i] == retired]
    return list(rows)


def search(
    words: Iterable[str],
    *,
    private: bool | None = None,
    creator: str | None = None,
    retired: bool | None = None,
    descriptions: bool = False,
    dictionary: str | os.PathLike[str] | EntryTable | None = None,
) -> list[Hit]:
    """Entries whose keyword or name holds every word (case ignored), as a list of `Hit`.

    Filters: `private` True for private entries only, False for public ones only; `creator`
    for the entries of one private creator (any case and spacing); `retired` True for retired
    entries only, False for current ones only. `descriptions` also looks for the words in the
    descriptive text. `dictionary` is a `.tatl` path or an `EntryTable` (read once, searched
    many times); None means the bundled dictionary.

    Raises what `read_table` raises for a dictionary that does not open.
    """
    # A word given twice asks nothing new; the longest words first, as they rule out the most.
    needles = sorted({w.casefold() for w in words}, key=len, reverse=True)
    table = dictionary if isinstance(dictionary, EntryTable) else read_table(dictionary)
    rows = _keep(table, private, creator, retired)
    keywords, names = table.keywords, table.names
    texts = table.descriptions if descriptions else None

    def searched(i: int) -> tuple[str, str, str]:
        text = ""
        if texts is not None and "\n" in texts[i]:
            text = parse_description(texts[i]).text
        return keywords[i], names[i], text

    # A cheap test first, word by word over the entries still in: most entries do not hold the
    # words anywhere, so each word costs only the entries that held all words before it.
    fields = {i: searched(i) for i in rows}
    quick = {i: "\n".join(parts).casefold() for i, parts in fields.items()}
    for needle in needles:
        rows = [i for i in rows if needle in quick[i]]
        if not rows:
            break

    def holds(i: int) -> bool:
        tests = [_holder(part) for part in fields[i]]
        return all(any(test(n) for test in tests) for n in needles)

    hits: dict[tuple, Hit] = {}
    for i in rows:
        if not holds(i):
            continue
        facts = parse_description(table.descriptions[i])
        entry_creator = table.creators[i] or None
        # All entries of one repeating tag and creator are one hit, the first (lowest) standing.
        key = (facts.mask, entry_creator) if facts.mask else i
        if key in hits:
            continue
        group, element, block = table.groups[i], table.elements[i], table.block_offset[i]
        vr = table.vrs[i]
        hits[key] = Hit(
            tag=tag_text(group, element, block, facts.mask), group=group, element=element,
            creator=entry_creator, keyword=keywords[i], name=names[i],
            vr=shown_vr(vr, facts.vr), vm=facts.vm, mask=facts.mask,
            retired=table.retired[i], block_offset=block, sources=list(table.sources[i]),
            text=facts.text,
        )  # fmt: skip
    return sorted(hits.values(), key=lambda h: (h.group, h.element, (h.creator or "").upper()))
