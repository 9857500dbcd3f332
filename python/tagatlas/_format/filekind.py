"""Names for the kinds of file that tagatlas refuses to read or replace: only regular files do."""

from __future__ import annotations

import stat

_KINDS = (
    (stat.S_ISDIR, "a directory"),
    (stat.S_ISFIFO, "a FIFO"),
    (stat.S_ISSOCK, "a socket"),
    (stat.S_ISCHR, "a character device"),
    (stat.S_ISBLK, "a block device"),
    (stat.S_ISLNK, "a symbolic link"),
)


def file_kind(mode: int) -> str:
    """Names the kind of file that an `st_mode` describes: "a FIFO", "a directory", ...

    >>> file_kind(stat.S_IFIFO | 0o644)
    'a FIFO'
    """
    if stat.S_ISREG(mode):
        return "a regular file"
    for test, kind in _KINDS:
        if test(mode):
            return kind
    return "an unknown kind of file"
