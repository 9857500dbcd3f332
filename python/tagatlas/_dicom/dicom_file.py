"""Reading the data elements of DICOM files with pydicom, the optional `dicom` extra.

`read` opens a file with values above DEFER_SIZE bytes left on disk (pixel data is not loaded,
and nothing after it is lost); `occurrences` walks a data set, its File Meta Information first,
into every sequence item, without converting the values it does not need: only sequences (to reach
their items) and private creator elements (to know their creators) are decoded.

The VR of an element is the data's where the data states one (explicit VR transfer syntaxes, the
File Meta Information) and None where the reader had to guess it (implicit VR), so that only
stated VRs are compared with the dictionary. A data set built in memory states the VRs it holds.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator

from .model import Occurrence, creator_of, is_creator_element, walk
from .tag import tag_text

__all__ = ["PydicomMissingError", "DicomReadError", "DEFER_SIZE", "read", "occurrences"]

# Values longer than this stay in the file; sequences are read from it when walked.
DEFER_SIZE = 4096

INSTALL_HINT = "reading DICOM files needs pydicom: pip install 'tagatlas[dicom]'"

# The item tag (FFFE,E000) as implicit VR little endian writes it, the encoding of a sequence's
# content wherever the data does not state its VR (implicit VR, and "UN" in explicit VR).
_ITEM_TAG = b"\xfe\xff\x00\xe0"


# The VRs of a raw element that may hold sequence items: SQ, UN, and none stated (implicit VR).
_MAY_HOLD_ITEMS = frozenset(["SQ", "UN", None])


class PydicomMissingError(ImportError):
    """pydicom, needed to read DICOM files, is not installed."""


class DicomReadError(ValueError):
    """pydicom could not read the file as DICOM; the message says why."""


def _pydicom():
    try:
        import pydicom
        import pydicom.multival  # noqa: F401  (the modules used below, imported by name)
        import pydicom.values  # noqa: F401
    except ImportError as e:
        raise PydicomMissingError(INSTALL_HINT) from e
    return pydicom


def read(path: str | os.PathLike[str], *, force: bool = False):
    """Reads a DICOM file into a pydicom data set, values above DEFER_SIZE bytes deferred.

    `force` reads a file without the 128-byte preamble and "DICM" marker (a bare data set, as old
    ACR-NEMA style files are). Raises PydicomMissingError without pydicom, OSError when the file
    cannot be read, DicomReadError when pydicom cannot parse it.
    """
    pydicom = _pydicom()
    try:
        return pydicom.dcmread(path, defer_size=DEFER_SIZE, force=force)
    except OSError:
        raise
    except Exception as e:  # pydicom reports damaged data with many exception types
        # One line whatever pydicom's message holds; a data set nested deeper than pydicom's
        # reader can recurse ends here too (RecursionError).
        reason = " ".join(str(e).split()) or type(e).__name__
        raise DicomReadError(f"{os.fsdecode(path)}: not readable as DICOM: {reason}") from e


def occurrences(
    data_set, is_sequence: Callable[[int, int, str | None], bool] = lambda g, e, c: False
) -> Iterator[Occurrence]:
    """Every data element of a pydicom data set, items after their sequence, in tag order.

    `is_sequence(group, element, creator)` says whether an element whose VR the data does not
    state, and whose value was left in the file, is a sequence to walk (a dictionary's opinion;
    elements whose value was read are recognised by their content).
    """
    pydicom = _pydicom()
    meta = getattr(data_set, "file_meta", None)
    if meta:
        yield from _walk(pydicom, meta, is_sequence)
    yield from _walk(pydicom, data_set, is_sequence)


def _walk(pydicom, top, is_sequence) -> Iterator[Occurrence]:
    return walk(_item(pydicom, top, "", is_sequence),
                lambda item, path, i: _item(pydicom, item, f"{path}[{i}].", is_sequence))


def _item(pydicom, ds, prefix: str, is_sequence) -> Iterator[tuple[Occurrence, list]]:
    """The elements of one data set or item in tag order, each with its items if a sequence.

    Creators come from this item's own creator elements: a block reserved in one item says
    nothing of the next.
    """
    raw_type = pydicom.dataelem.RawDataElement
    # Only a data set read as implicit VR holds converted elements (sequences) whose VR is the
    # reader's guess; one built in memory (None) states its VRs.
    implicit = ds.original_encoding[0] is True
    tags = sorted(map(int, ds.keys()))  # plain ints: BaseTag compares in Python code
    creators = {
        tag: _creator_text(pydicom, ds, tag)
        for tag in tags
        if is_creator_element(tag >> 16, tag & 0xFFFF)
    }
    for tag in tags:
        group, element = tag >> 16, tag & 0xFFFF
        elem = ds.get_item(tag, keep_deferred=True)
        raw = isinstance(elem, raw_type)
        stated = elem.VR if raw or not implicit else None
        creator = creator_of(group, element, creators)
        path = prefix + tag_text(group, element, parentheses=False)
        occurrence = Occurrence(path, group, element, stated, creator)
        if raw and elem.VR not in _MAY_HOLD_ITEMS:
            yield occurrence, ()  # most elements: a stated VR that is not SQ holds no items
        else:
            yield occurrence, _items(pydicom, ds, tag, elem, raw, is_sequence, creator)


def _items(pydicom, ds, tag, elem, raw: bool, is_sequence, creator) -> list:
    """The items of a sequence element, [] for any other element."""
    if not raw:
        return list(elem.value) if elem.VR == "SQ" and elem.value else []
    if elem.VR == "SQ":
        return list(ds[tag].value or [])
    if elem.VR not in (None, "UN") or elem.length in (0, 0xFFFFFFFF):
        return []
    value = elem.value
    if value is None:  # left in the file: trust the dictionary, then pydicom's reading of it
        if not is_sequence(tag >> 16, tag & 0xFFFF, creator):
            return []
        converted = ds[tag]
        return list(converted.value or []) if converted.VR == "SQ" else []
    if not value.startswith(_ITEM_TAG):
        return []
    try:
        return list(
            pydicom.values.convert_SQ(value, True, True, ds.original_character_set or None)
        )
    except Exception:  # content that only looked like items: not a sequence after all
        return []


def _creator_text(pydicom, ds, tag: int) -> str | None:
    """The creator a private creator element names, None when it names none."""
    value = ds[tag].value
    if isinstance(value, bytes):  # a "UN" the reader did not convert; creators are ASCII
        value = value.decode("latin-1")
    elif isinstance(value, (list, pydicom.multival.MultiValue)):
        value = "\\".join(str(v) for v in value)
    text = "" if value is None else str(value).strip(" \0")
    return text or None
