"""Finding the dictionary entry of a data element as a DICOM file carries it.

A file holds a private data element under its full tag, (0019,100C), and names its creator in
another element of the same item, (0019,0010) = "GEMS_ACQU_01", which reserves the block
(0019,10xx). Dictionaries hold most private tags by their offset in the block, the element's low
byte, (0019,xx0C). `find_element` tries the full element first, then the block form, and accepts a
private entry only when its stored creator is the asked creator up to case and spacing (the same
canonical form lookups use; `Dict.lookup` itself compares only a 32-bit hash of it).

    >>> import tagatlas
    >>> from tagatlas.elements import find_element
    >>> d = tagatlas.open_default()
    >>> found = find_element(d, 0x0019, 0x1012, "gems_acqu_01")
    >>> found.form, found.entry["keyword"], found.entry["element"]
    ('block_offset', 'LastPseq', 18)
"""

from __future__ import annotations

from collections import namedtuple

__all__ = [
    "Found", "find_element", "tries_block_form", "same_creator", "FULL_ELEMENT", "BLOCK_OFFSET",
]

FULL_ELEMENT = "full_element"
BLOCK_OFFSET = "block_offset"


# A named tuple, not a dataclass: importing dataclasses (and inspect with it) would add
# milliseconds to the first private lookup of a program, pydicom's among them.
class Found(namedtuple("Found", ["entry", "form"])):
    """An entry and the form of the tag that found it: FULL_ELEMENT when the entry is stored
    under the element as given, BLOCK_OFFSET when it is a block-offset ("xx") entry."""

    __slots__ = ()


def same_creator(stored: str, asked: str) -> bool:
    """Whether two creator texts are one creator to a lookup (equal canonical forms)."""
    if stored == asked:
        return True
    from ._format.creator import canonicalize_creator

    return canonicalize_creator(stored) == canonicalize_creator(asked)


def _checked(entry: dict | None, creator: str | None) -> dict | None:
    if entry is None or creator is None:
        return entry
    # A different creator can share the 32-bit hash; it is a different entry.
    return entry if same_creator(entry["creator"], creator) else None


def tries_block_form(group: int, element: int, creator: str | None) -> bool:
    """Whether `find_element` also tries the low byte of the element (see there)."""
    return element > 0xFF and (creator is not None or group % 2 == 1)


def find_element(d, group: int, element: int, creator: str | None = None) -> Found | None:
    """The entry for data element (group, element) of the given creator, or None.

    `d` is a `tagatlas.Dict`. Without a creator only entries without one are found. The full
    element is tried first; for an element above 0xFF of a private (odd) group, or of any group
    when a creator is given, its low byte is tried next, and only a block-offset entry is
    accepted there (a stored element at or below 0xFF that is not a block offset is another
    element, one of the creator slots (gggg,0010-00FF)).
    """
    entry = _checked(d.lookup(group, element, creator), creator)
    if entry is not None:
        return Found(entry, BLOCK_OFFSET if entry["block_offset"] else FULL_ELEMENT)
    if not tries_block_form(group, element, creator):
        return None
    entry = _checked(d.lookup(group, element & 0xFF, creator), creator)
    if entry is not None and entry["block_offset"]:
        return Found(entry, BLOCK_OFFSET)
    return None
