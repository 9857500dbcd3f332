"""Naming every data element of real DICOM data: DICOM files and DICOM JSON.

    >>> from tagatlas.explain import explain
    >>> rows = explain("CT_small.dcm")                  # or a DICOM JSON file, or parsed JSON
    >>> row = next(r for r in rows if r.tag == "0019,1002")
    >>> row.creator, row.keyword, row.name, row.vr, row.dictionary_vr
    ('GEMS_ACQU_01', 'NumberOfCellsInDetector', 'Detector Channel', 'SL', 'SL')

One `Explained` row per data element, in the order of the data (File Meta Information first,
then each data set in tag order, each sequence's items right after it), with its path
("0008,1115[0].0008,1140[1].0008,1150"; in an array of DICOM JSON data sets the data set's index
comes first, "[2].0010,0010"). A private element is named with the creator its block's creator
element gives in the same item; `tagatlas.naming` says how each element is named and what
"unknown" means. `iter_explain` gives the same rows one at a time, for inputs whose rows would
not fit in memory; items nested to any depth are walked.

Only regular files are opened (a FIFO or a device is refused before it is read). DICOM files are read with pydicom, the optional `dicom` extra (`pip install 'tagatlas[dicom]'`),
with large values left in the file. A file without the 128-byte preamble and "DICM" marker is read
only when it starts like a bare data set (a tag of group 0002 or 0008, in either byte order).
DICOM JSON needs nothing beyond the standard library.
"""

from __future__ import annotations

import json
import os
from collections import deque
from collections.abc import Iterator

from ._dicom import dicom_json
from ._dicom.model import Occurrence, is_private_group
from ._dicom.regular import open_regular
from .naming import Explained, Namer, default_namer

__all__ = ["explain", "iter_explain", "Explained", "ExplainError", "NotDicomError"]

JSON = "json"
DICOM = "dicom"
BARE_DICOM = "bare dicom"

_PREAMBLE = 128
_MAGIC = b"DICM"
# A bare data set starts with (0002,xxxx) or (0008,xxxx), little or big endian.
_BARE_STARTS = (b"\x02\x00", b"\x08\x00", b"\x00\x02", b"\x00\x08")


class ExplainError(ValueError):
    """Input that is neither a readable DICOM file nor DICOM JSON; the message says why."""


class NotDicomError(ExplainError):
    """Input that is neither DICOM nor DICOM JSON at all, as opposed to a damaged DICOM file."""


def sniff(head: bytes) -> str | None:
    """What the first bytes of a file say it is: JSON, DICOM, BARE_DICOM, or None."""
    if head[_PREAMBLE : _PREAMBLE + 4] == _MAGIC:
        return DICOM
    text = head.removeprefix(b"\xef\xbb\xbf").lstrip(b" \t\r\n")
    if text[:1] in (b"{", b"["):
        return JSON
    if head[:2] in _BARE_STARTS and len(head) >= 8:
        return BARE_DICOM
    return None


def explain(
    source, dictionary: str | os.PathLike[str] | Namer | None = None, *, private_only: bool = False
) -> list[Explained]:
    """Names each data element of `source` from a dictionary (None: the bundled one).

    `dictionary` is a `.tatl` path, or a `tagatlas.naming.Namer` to reuse (it keeps what it
    looked up) when many inputs are explained.
    `source` is the path of a DICOM file or of a DICOM JSON document, a parsed DICOM JSON
    document (a dict, or a list of data sets), or a pydicom Dataset. `private_only` keeps the
    elements of private groups (private creator elements included).

    Raises OSError when the file cannot be read (a path that is not a regular file included),
    ExplainError for input that is neither DICOM nor DICOM JSON or that pydicom cannot read,
    `dicom_file.PydicomMissingError` (an ImportError) for a DICOM file without pydicom installed,
    `dicom_json.DicomJsonError` for a parsed document of the wrong shape, and what
    `tagatlas.open` raises for a dictionary that does not open.
    """
    return list(iter_explain(source, dictionary, private_only=private_only))


def iter_explain(
    source, dictionary: str | os.PathLike[str] | Namer | None = None, *, private_only: bool = False
) -> Iterator[Explained]:
    """The rows of `explain`, named one at a time as they are taken.

    The input is read and checked in this call, so each error `explain` raises comes from here
    before any row; what stays in memory while the rows are taken is the input as read, not the
    rows. A DICOM JSON document is walked once to check its shape before its rows are made.
    """
    if isinstance(dictionary, Namer):
        namer = dictionary
    else:
        namer = default_namer() if dictionary is None else Namer(dictionary)
    if isinstance(source, (str, os.PathLike)):
        found = _read_path(source, namer)
    elif isinstance(source, (dict, list)):
        found = _checked_json(source)
    elif hasattr(source, "get_item") and hasattr(source, "original_encoding"):
        from ._dicom import dicom_file

        found = dicom_file.occurrences(source, namer.is_sequence)
    else:
        raise TypeError(
            f"explain() takes a path, a DICOM JSON document or a pydicom Dataset, "
            f"not {type(source).__name__}"
        )
    name = namer.name
    if private_only:
        return (name(o) for o in found if is_private_group(o.group))
    return map(name, found)


def _checked_json(document) -> Iterator[Occurrence]:
    """The occurrences of a DICOM JSON document, after one walk that refuses a misshapen one."""
    deque(dicom_json.occurrences(document), maxlen=0)
    return dicom_json.occurrences(document)


def _read_path(path: str | os.PathLike[str], namer: Namer) -> Iterator[Occurrence]:
    shown = os.fsdecode(path)
    with open_regular(path) as f:
        head = f.read(_PREAMBLE + len(_MAGIC))
        kind = sniff(head)
        if kind == JSON:
            data = head + f.read()
    if kind == JSON:
        try:
            document = json.loads(data)
        except (ValueError, RecursionError) as e:
            raise NotDicomError(f"{shown}: not valid JSON: {e}") from None
        del data  # the text is not needed beside the document it gave
        try:
            return _checked_json(document)
        except dicom_json.DicomJsonError as e:
            raise NotDicomError(f"{shown}: not DICOM JSON: {e}") from None
    if kind is None:
        raise NotDicomError(
            f"{shown}: neither a DICOM file (no 'DICM' marker after a 128-byte preamble) "
            "nor DICOM JSON"
        )
    from ._dicom import dicom_file

    try:
        data_set = dicom_file.read(path, force=kind == BARE_DICOM)
        # Walked in full here: pydicom reads sequences left in the file only when they are
        # reached, and damage found there must fail before any row is shown.
        return iter(list(dicom_file.occurrences(data_set, namer.is_sequence)))
    except (OSError, ImportError):
        raise
    except dicom_file.DicomReadError as e:
        raise ExplainError(str(e)) from None
    except Exception as e:  # pydicom reports damage met in a sequence with many exception types
        raise ExplainError(f"{shown}: not readable as DICOM: {_one_line(e)}") from None


def _one_line(error: Exception) -> str:
    text = " ".join(str(error).split())
    return text or type(error).__name__
