"""Text for a terminal: aligned columns, wrapped text, and output that never fails to encode.

The command line prints texts read from dictionaries and from DICOM data: vendor strings in any
character set, control characters a damaged file may hold, lone surrogates from JSON escapes. None
of that may stop the output or drive the terminal, so `visible` shows control characters as
escapes, and `write_lines` and `write_json` escape what the stream's encoding cannot hold.

    >>> columns(["TAG", "NAME"], [["(0010,0010)", "Patient's Name"]])
    ['TAG          NAME', "(0010,0010)  Patient's Name"]
"""

from __future__ import annotations

import codecs
import contextlib
import json
import os
import re
import shutil
import sys
import textwrap
from collections.abc import Iterable, Iterator, Sequence
from typing import TextIO

__all__ = [
    "visible", "cut", "columns", "wrapped", "JsonRows", "write_lines", "write_json",
    "terminal_width", "escaping_streams", "write_or_discard", "report", "discard", "PROG",
]

PROG = "tagatlas"

# C0 and C1 controls and DEL: shown as escapes so that data cannot move the cursor or recolour.
# The bidirectional marks, embeddings, overrides and isolates too: U+202E would show the rest of
# a line, and of the lines it is printed among, reversed.
_CONTROLS = re.compile(r"[\x00-\x1f\x7f-\x9f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]")

_GAP = "  "


def visible(text: str) -> str:
    """`text` with control characters and bidirectional controls written as Python escapes
    ("\\n", "\\x1b", "\\u202e")."""
    if not _CONTROLS.search(text):
        return text
    return _CONTROLS.sub(lambda m: repr(m.group())[1:-1], text)


def cut(text: str, limit: int) -> str:
    """`text` if it has at most `limit` characters, else its start and "…" in `limit`."""
    return text if len(text) <= limit else text[: limit - 1] + "…"


def columns(
    headers: Sequence[str], rows: Iterable[Sequence[str]], limit: int | None = None
) -> list[str]:
    """The header and the rows as lines of left-aligned columns, without trailing spaces.

    With `limit`, a cell longer than `limit` characters is cut (`cut`), so that one long value
    cannot widen every line of the table.
    """
    if limit is None:
        table = [list(headers)] + [[visible(cell) for cell in row] for row in rows]
    else:
        table = [list(headers)] + [[cut(visible(cell), limit) for cell in row] for row in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(headers))]
    return [
        _GAP.join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() for row in table
    ]


def terminal_width() -> int:
    """The terminal's width in columns (80 when the output is not a terminal)."""
    return shutil.get_terminal_size().columns


def wrapped(text: str, width: int, indent: str = "    ") -> list[str]:
    """`text` wrapped to `width` columns under `indent`, paragraph by paragraph."""
    lines = []
    for paragraph in text.splitlines():
        if not paragraph.strip():
            lines.append("")
            continue
        lines += textwrap.wrap(
            visible(paragraph), max(width, len(indent) + 20),
            initial_indent=indent, subsequent_indent=indent,
        )  # fmt: skip
    return lines


def _encoding(stream: TextIO) -> str:
    encoding = getattr(stream, "encoding", None) or "utf-8"
    try:
        return codecs.lookup(encoding).name
    except LookupError:
        return "utf-8"


def write_lines(stream: TextIO, lines: Iterable[str]) -> None:
    """Writes each line, escaping (backslashreplace) what the stream's encoding cannot hold."""
    encoding = _encoding(stream)
    for line in lines:
        try:
            line.encode(encoding)
        except UnicodeEncodeError:
            line = line.encode(encoding, "backslashreplace").decode(encoding)
        stream.write(line + "\n")


def write_json(stream: TextIO, value: object, *, one_per_line: bool = False) -> None:
    """Writes `value` as JSON; a list with `one_per_line` as one item per line.

    Non-ASCII text is written as itself when the stream can hold it and as JSON escapes
    otherwise, so the output is always valid JSON with nothing lost.
    """
    encoding = _encoding(stream)

    def dump(item: object) -> str:
        text = json.dumps(item, ensure_ascii=False)
        try:
            text.encode(encoding)
        except UnicodeEncodeError:
            text = json.dumps(item)  # lone surrogates and unencodable text as \\u escapes
        return text

    if one_per_line and isinstance(value, list):
        if not value:
            stream.write("[]\n")
            return
        stream.write("[\n" + ",\n".join(dump(item) for item in value) + "\n]\n")
    else:
        stream.write(dump(value) + "\n")


def _escape(error: UnicodeError) -> tuple[str, int]:
    """Encoding error handler: text the encoding cannot hold goes out as backslash escapes.

    Undecodable bytes of arguments and paths, which Python carries as lone surrogates, go out as
    the bytes they were where the stream already did so (surrogateescape).
    """
    if isinstance(error, UnicodeEncodeError):
        with contextlib.suppress(UnicodeError):
            return codecs.lookup_error("surrogateescape")(error)
    return codecs.lookup_error("backslashreplace")(error)


_ESCAPE = "tagatlas-escape"
codecs.register_error(_ESCAPE, _escape)


@contextlib.contextmanager
def escaping_streams() -> Iterator[None]:
    """Makes stdout and stderr escape what their encoding cannot hold, for the duration."""
    changed = []
    for stream in (sys.stdout, sys.stderr):
        errors = getattr(stream, "errors", None)
        if errors in ("strict", "surrogateescape") and hasattr(stream, "reconfigure"):
            with contextlib.suppress(OSError, ValueError):
                stream.reconfigure(errors=_ESCAPE)
                changed.append((stream, errors))
    try:
        yield
    finally:
        for stream, errors in changed:
            with contextlib.suppress(OSError, ValueError):
                stream.reconfigure(errors=errors)


def write_or_discard(stream, text: str) -> None:
    """Writes to stderr; when that fails there is nowhere left to tell, so it is given up."""
    if stream is None:
        return
    try:
        stream.write(text)
        stream.flush()
    except OSError:
        discard(stream)


def report(message: str) -> None:
    """Writes one error line on stderr."""
    write_or_discard(sys.stderr, f"{PROG}: error: {message}\n")


def discard(stream) -> None:
    """Points a failed standard stream at /dev/null, so that the interpreter's last flush at exit
    does not fail again and print a traceback."""
    try:
        fd = stream.fileno()
    except (OSError, ValueError):
        return  # not backed by a descriptor (a stream replaced in-process)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(null, fd)
    finally:
        os.close(null)


class JsonRows:
    """Writes items as they come: a JSON array of one item a line, or JSON Lines (`lines`).

    The array is opened by the first item and closed by `close`, which writes "[]" when there
    was none; text is escaped as `write_json` escapes it.
    """

    def __init__(self, stream: TextIO, *, lines: bool = False) -> None:
        self._stream = stream
        self._encoding = _encoding(stream)
        self._lines = lines
        self.count = 0

    def write(self, item: object) -> None:
        text = json.dumps(item, ensure_ascii=False)
        try:
            text.encode(self._encoding)
        except UnicodeEncodeError:
            text = json.dumps(item)
        if self._lines:
            self._stream.write(text + "\n")
        else:
            self._stream.write(("[\n" if self.count == 0 else ",\n") + text)
        self.count += 1

    def close(self) -> None:
        if not self._lines:
            self._stream.write("[]\n" if self.count == 0 else "\n]\n")
