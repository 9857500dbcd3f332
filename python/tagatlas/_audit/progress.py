"""A progress line on a terminal's stderr: files done of files found, elements, time so far.

It appears only when the stream is a terminal and the work has lasted more than DELAY seconds, so
quick runs and redirected output stay free of it; it is redrawn in place at most every STEP
seconds and erased before any other line is written and at the end.
"""

from __future__ import annotations

from time import monotonic
from typing import TextIO

__all__ = ["Progress"]

DELAY = 1.0
STEP = 0.2


class Progress:
    def __init__(self, stream: TextIO | None, *, clock=None) -> None:
        isatty = getattr(stream, "isatty", None)
        try:
            self._stream = stream if isatty is not None and isatty() else None
        except (OSError, ValueError):
            self._stream = None
        self._clock = clock or monotonic
        self._start = self._clock()
        self._drawn_at = None
        self._width = 0

    def update(self, done: int, found: int, elements: int) -> None:
        if self._stream is None:
            return
        now = self._clock()
        if now - self._start <= DELAY:
            return
        if self._drawn_at is not None and now - self._drawn_at < STEP:
            return
        self._drawn_at = now
        line = f"{done} of {found} files, {elements} elements, {now - self._start:.0f} s"
        self._write("\r" + line.ljust(self._width))
        self._width = len(line)

    def clear(self) -> None:
        """Erases the line, as before any other line is written to the stream and at the end."""
        if self._stream is not None and self._width:
            self._write("\r" + " " * self._width + "\r")
            self._width = 0
            self._drawn_at = None

    def _write(self, text: str) -> None:
        try:
            self._stream.write(text)
            self._stream.flush()
        except (OSError, ValueError):
            self._stream = None  # a terminal gone away: the work goes on without progress

