"""A private creator as lookups key it: its canonical form and the index hash of that form.

A reader finds a private entry by the hash of the asked creator's canonical form, so the writer,
the readers that compare creator texts and the library must agree on the form bit for bit.
"""

from __future__ import annotations

from . import layout
from .casemap import UPPER

__all__ = ["canonicalize_creator", "hash_creator"]

# Exactly the Unicode White_Space property. str.split() would also split at U+001C..U+001F, which
# the reader keeps inside a creator, so the set is spelled out.
_WHITE_SPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + ["\u0020", "\u0085", "\u00a0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)

_FNV_OFFSET = 0x811C9DC5
_FNV_PRIME = 0x01000193


def canonicalize_creator(text: str) -> str:
    """Returns the canonical form of a creator: whitespace runs collapsed, then upper-cased.

    The form must match the reader's bit for bit, or private entries written here are never found.
    """
    pieces = []
    piece_start = None
    for i, ch in enumerate(text):
        if ch in _WHITE_SPACE:
            if piece_start is not None:
                pieces.append(text[piece_start:i])
                piece_start = None
        elif piece_start is None:
            piece_start = i
    if piece_start is not None:
        pieces.append(text[piece_start:])
    joined = " ".join(pieces)
    # ASCII letters map to ASCII capitals in every Unicode version; creators are mostly ASCII.
    if joined.isascii():
        return joined.upper()
    # The reader's own table, not str.upper(): Python's mapping follows the Unicode version of the
    # running interpreter, and a mapping that differs from the reader's gives hashes it never finds.
    # The table holds the full, unconditional mapping ("ß" -> "SS") without locale rules.
    return joined.translate(UPPER)


def hash_creator(creator: str | None) -> int:
    """Returns the index hash of a creator: 0 for None, else FNV-1a 32 of its canonical UTF-8."""
    if creator is None:
        return 0
    h = _FNV_OFFSET
    for b in canonicalize_creator(creator).encode("utf-8"):
        h = ((h ^ b) * _FNV_PRIME) & layout.U32_MAX
    return h
