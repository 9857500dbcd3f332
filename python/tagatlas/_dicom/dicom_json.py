"""Reading the data elements of DICOM JSON (the JSON model of DICOMweb), without dependencies.

A document is one data set, an object keyed by tags ("00100010"), or the array of data sets a
DICOMweb server sends for a search. Each value is an object with the element's "vr" and, for a
sequence, "Value": the array of its items, each a data set again. A private creator element
(gggg,0010-00FF) holds its creator as the first entry of its "Value".

    >>> doc = {"00190010": {"vr": "LO", "Value": ["ACME 1.0"]},
    ...        "00191001": {"vr": "US", "Value": [7]}}
    >>> [(o.path, o.creator) for o in occurrences(doc)]
    [('0019,0010', 'ACME 1.0'), ('0019,1001', 'ACME 1.0')]
"""

from __future__ import annotations

import re
from collections.abc import Iterator

from .model import Occurrence, creator_of, is_creator_element, walk
from .tag import tag_text

__all__ = ["DicomJsonError", "occurrences"]

_KEY = re.compile(r"[0-9A-Fa-f]{8}")
_VR = re.compile(r"[A-Z]{2}")


class DicomJsonError(ValueError):
    """A JSON document that is not DICOM JSON; the message says where."""


def occurrences(document: object) -> Iterator[Occurrence]:
    """Every data element of a DICOM JSON document, items after their sequence, in tag order.

    For an array of data sets each path starts with the data set's index, "[2].0010,0010".
    Raises DicomJsonError, naming the place, for a structure DICOM JSON does not allow. Items are
    walked with a stack of their own, so any depth of nesting is read.
    """
    if isinstance(document, dict):
        yield from _walk(_item(document, ""))
    elif isinstance(document, list):
        for i, data_set in enumerate(document):
            if not isinstance(data_set, dict):
                raise DicomJsonError(f"[{i}]: a data set must be an object, not {_kind(data_set)}")
            yield from _walk(_item(data_set, f"[{i}]."))
    else:
        raise DicomJsonError(
            f"expected a data set (an object) or an array of data sets, not {_kind(document)}"
        )


def _walk(top: list) -> Iterator[Occurrence]:
    return walk(top, lambda item, path, i: _item(_checked(item, path, i), f"{path}[{i}]."))


def _checked(item: object, path: str, i: int) -> dict:
    if not isinstance(item, dict):
        raise DicomJsonError(f"{path}[{i}]: an item must be an object, not {_kind(item)}")
    return item


def _kind(value: object) -> str:
    return {dict: "an object", list: "an array", str: "a string", bool: "a boolean"}.get(
        type(value), "null" if value is None else "a number"
    )


def _where(prefix: str) -> str:
    return prefix[:-1] if prefix else "the data set"


def _item(data_set: dict, prefix: str) -> list[tuple[Occurrence, list | None]]:
    """The elements of one data set or item in tag order, each with its items if a sequence.

    Creators are read from this item's own creator elements only: a block reserved in one item
    says nothing of the next.
    """
    tags = []
    for key, value in data_set.items():
        if not _KEY.fullmatch(key):
            raise DicomJsonError(f"{_where(prefix)}: key {key!r} is not a tag (8 hex digits)")
        tag = int(key, 16)
        if not isinstance(value, dict):
            where = prefix + tag_text(tag >> 16, tag & 0xFFFF, parentheses=False)
            raise DicomJsonError(f"{where}: an element must be an object, not {_kind(value)}")
        tags.append((tag, value))
    tags.sort(key=lambda t: t[0])

    creators: dict[int, str | None] = {}
    for tag, value in tags:
        group, element = tag >> 16, tag & 0xFFFF
        if is_creator_element(group, element):
            creators[tag] = _creator_text(value)

    found = []
    for tag, value in tags:
        group, element = tag >> 16, tag & 0xFFFF
        path = prefix + tag_text(group, element, parentheses=False)
        vr = value.get("vr")
        if vr is not None and not (isinstance(vr, str) and _VR.fullmatch(vr)):
            raise DicomJsonError(f"{path}: vr {vr!r} is not two capital letters")
        creator = creator_of(group, element, creators)
        items = value.get("Value") if vr == "SQ" else None
        if items is not None and not isinstance(items, list):
            raise DicomJsonError(f"{path}: the Value of a sequence must be an array")
        found.append((Occurrence(path, group, element, vr, creator), items))
    return found


def _creator_text(value: dict) -> str | None:
    """The creator a creator element names, None when it names none (no or an empty Value)."""
    values = value.get("Value")
    if isinstance(values, list) and values and isinstance(values[0], str):
        text = values[0].strip(" \0")
        return text or None
    return None
