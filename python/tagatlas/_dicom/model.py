"""What a reader of DICOM data reports, and the rules of private groups it needs.

A reader of DICOM data (`dicom_file`, `dicom_json`) reports each data element it meets as an
`Occurrence`. A private element's creator is named by its block's creator element in the same
item: (gggg,0010-00FF) each reserve one block, (gggg,xx00-xxFF), the high byte of the element.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Iterator
from itertools import chain
from typing import NamedTuple

__all__ = [
    "Occurrence", "is_private_group", "is_creator_element", "creator_slot", "creator_of",
    "FIRST_CREATOR_ELEMENT", "LAST_CREATOR_ELEMENT",
]

# The creator elements of a private group, (gggg,0010-00FF). Creator element (gggg,00xx) reserves
# the block of elements (gggg,xx00-xxFF) for the creator it names.
FIRST_CREATOR_ELEMENT = 0x0010
LAST_CREATOR_ELEMENT = 0x00FF


class Occurrence(NamedTuple):
    """A data element as a reader met it.

    `vr` is the VR the data states, None where it states none (implicit VR). `creator` is, for
    a private element of a block, the text of its block's creator element in the same item (None
    when the item has none); for a private creator element, its own text; None otherwise.
    """

    path: str
    group: int
    element: int
    vr: str | None
    creator: str | None


def is_private_group(group: int) -> bool:
    """Odd groups are private, except 0001, 0003, 0005, 0007 and FFFF, which DICOM forbids."""
    return group % 2 == 1 and group > 0x0007 and group != 0xFFFF


def is_creator_element(group: int, element: int) -> bool:
    """Whether (group, element) is a creator element: (gggg,0010-00FF) of a private group."""
    return FIRST_CREATOR_ELEMENT <= element <= LAST_CREATOR_ELEMENT and is_private_group(group)


def creator_slot(element: int) -> int | None:
    """The element of the creator element that reserves the block of private `element`,
    (gggg,10EE) -> 0x0010; None for an element outside every block."""
    slot = element >> 8
    return slot if FIRST_CREATOR_ELEMENT <= slot <= LAST_CREATOR_ELEMENT else None


def creator_of(group: int, element: int, creators: dict[int, str]) -> str | None:
    """The creator of element (group, element) given the creator elements of its item (tag ->
    creator text): itself for a creator element, its block's for a private data element, None for
    a public element or a block without its creator element."""
    if not is_private_group(group):
        return None
    tag = group << 16 | element
    if tag in creators:
        return creators[tag]
    slot = creator_slot(element)
    return None if slot is None else creators.get(group << 16 | slot)


def walk(top: Iterable[tuple[Occurrence, list]],
         item: Callable[[object, str, int], Iterable[tuple[Occurrence, list]]],
         ) -> Iterator[Occurrence]:
    """Every occurrence of a data set, each sequence's items right after it, without recursion.

    `top` gives the data set's (occurrence, items) pairs, where items is the sequence's items or
    empty; `item(data, path, i)` gives them for item i of the sequence at `path`. The
    stack holds an iterator per depth, so nesting costs no Python frames whatever the depth.
    """
    stack = [iter(top)]
    while stack:
        for occurrence, items in stack[-1]:
            yield occurrence
            if items:
                path = occurrence.path
                stack.append(chain.from_iterable(
                    item(data, path, i) for i, data in enumerate(items)
                ))  # fmt: skip
                break
        else:
            stack.pop()
