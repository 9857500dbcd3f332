"""Opening an input file only when it is a regular file, without ever blocking.

A FIFO opened for reading waits for a writer and a device may never end, so an input is opened
without blocking and its kind checked on the open descriptor before anything is read.
"""

from __future__ import annotations

import errno
import os
import stat
from typing import BinaryIO

from .._format.filekind import file_kind

__all__ = ["open_regular"]

_FLAGS = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | getattr(os, "O_NOCTTY", 0)


def _refused(path, mode: int) -> OSError:
    # An OSError like the system's own, so that callers report it as they report any other.
    return OSError(errno.EINVAL, f"not a regular file ({file_kind(mode)})", os.fsdecode(path))


def open_regular(path: str | os.PathLike[str]) -> BinaryIO:
    """Opens `path` for reading in binary; raises OSError for anything but a regular file."""
    try:
        fd = os.open(path, _FLAGS)
    except OSError as e:
        # A socket cannot be opened at all: name its kind rather than the system's error.
        try:
            mode = os.stat(path).st_mode
        except OSError:
            raise e from None
        if not stat.S_ISREG(mode):
            raise _refused(path, mode) from None
        raise
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode):
            raise _refused(path, mode)
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise

