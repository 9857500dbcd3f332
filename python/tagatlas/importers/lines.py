"""The lines of an importer's text file, read one at a time from a regular file.

A dictionary source is a file that someone names on the command line. Only a regular file is
read: a FIFO would block the build until a writer comes, and a device such as /dev/zero never
ends. The file is read line by line and no line may exceed `MAX_LINE` bytes, so that memory stays
bounded whatever the file holds:

    >>> for number, line in source_lines("private.dic"):   # doctest: +SKIP
    ...     print(number, line)
"""

from __future__ import annotations

import os
import stat
from collections.abc import Iterator

from .._format.filekind import file_kind
from .result import SourceError

__all__ = ["MAX_LINE", "open_regular", "source_lines"]

# Real dictionary lines are under 200 bytes; a line this long is no dictionary's.
MAX_LINE = 1 << 20

_BOM = b"\xef\xbb\xbf"


def open_regular(path: str | os.PathLike[str]):
    """Opens `path` for binary reading if it is a regular file; raises SourceError otherwise,
    without blocking on a FIFO, and OSError when it cannot be opened."""
    name = os.fsdecode(path)
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | getattr(os, "O_NOCTTY", 0)
    try:
        fd = os.open(path, flags)
    except OSError:
        # A socket cannot be opened at all; name what it is rather than the system's error.
        try:
            mode = os.stat(path).st_mode
        except OSError:
            mode = stat.S_IFREG
        if not stat.S_ISREG(mode):
            raise SourceError(f"cannot read {name}: not a regular file ({file_kind(mode)})") from None
        raise
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode):
            raise SourceError(f"cannot read {name}: not a regular file ({file_kind(mode)})")
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def source_lines(path: str | os.PathLike[str]) -> Iterator[tuple[int, str]]:
    """(line number, text) of each line of a UTF-8 text file, without its line end ("\\n").

    A byte-order mark at the start is skipped, as editors on Windows write one. Raises
    SourceError for a file that is not regular, a line over `MAX_LINE` bytes (with its number) and
    bytes that are not UTF-8 (with their offset in the file).
    """
    name = os.fsdecode(path)
    with open_regular(path) as f:
        offset = 0
        number = 0
        while True:
            raw = f.readline(MAX_LINE + 1)
            if not raw:
                return
            number += 1
            body = raw[:-1] if raw.endswith(b"\n") else raw
            if len(body) > MAX_LINE:
                raise SourceError(f"{name}:{number}: line longer than {MAX_LINE} bytes")
            start = 0
            if number == 1 and body.startswith(_BOM):
                start = len(_BOM)
            try:
                text = body[start:].decode("utf-8")
            except UnicodeDecodeError as e:
                raise SourceError(
                    f"{name}: not UTF-8 text (byte {offset + start + e.start})"
                ) from None
            offset += len(raw)
            yield number, text
