"""Expansion of repeating tags into exact tags.

A dictionary file answers a lookup with one binary search, so a repeating tag such as (60xx,3000)
is stored once per group it stands for. Sources write such tags as ranges with a parity restriction
(DCMTK) or as hex masks (pydicom); both come down to a list of values per tag part.

Some source lines are rules about whole classes of tags rather than dictionary entries: every
group length (gggg,0000) of all 65,536 groups, every private creator slot of every odd group,
pydicom's (1010,xxxx). Expanding those would multiply the file for no lookup anyone needs, so a
line that would expand to more than MAX_EXPANSION tags is skipped and reported, never written.
The largest real repeating family, a 50xx/60xx/7Fxx group or a 31xx element range, has 256 tags
at most.
"""

from __future__ import annotations

from enum import Enum

MAX_EXPANSION = 256


class Parity(Enum):
    """Which values of a range a repeating tag stands for."""

    EVEN = "e"
    ODD = "o"
    ANY = "u"


def range_values(low: int, high: int, parity: Parity) -> range:
    """Returns the values from `low` to `high` inclusive that have the given parity."""
    if low > high:
        raise ValueError(f"range {low:04X}-{high:04X} runs backwards")
    if parity is Parity.ANY:
        return range(low, high + 1)
    want = 0 if parity is Parity.EVEN else 1
    first = low if low % 2 == want else low + 1
    return range(first, high + 1, 2)


def mask_values(mask: str, parity: Parity = Parity.ANY) -> list[int]:
    """Returns the values of a 4-digit hex mask whose "x" digits stand for any hex digit.

    `parity` filters the values, as groups are: a public repeating group is always even, since odd
    groups are private.
    """
    if len(mask) != 4:
        raise ValueError(f"mask {mask!r} is not 4 hex digits")
    fixed = int(mask.replace("x", "0"), 16)
    free = [3 - i for i, ch in enumerate(mask) if ch == "x"]
    values = []
    for n in range(16 ** len(free)):
        value = fixed
        for k, digit in enumerate(free):
            value |= ((n >> (4 * k)) & 0xF) << (4 * digit)
        if parity is Parity.ANY or value % 2 == (parity is Parity.ODD):
            values.append(value)
    return sorted(values)


def mask_text(groups: tuple[int, int], elements: tuple[int, int]) -> str | None:
    """Writes a repeating tag, given as (low, high) bounds of its group and element, as one hex
    mask ("60xx3000") if it is one.

    A part is a mask when its bounds run over whole trailing hex digits ("6000-60FF" is "60xx");
    the parity of a masked group is implied (public repeating groups are even, private ones odd).
    Returns None when a part is not such a span, or when nothing repeats.
    """

    def part(low: int, high: int) -> str | None:
        if low == high:
            return f"{low:04X}"
        for free in range(1, 5):
            span = 16**free
            if low % span == 0 and high == low + span - 1:
                return f"{low:04X}"[: 4 - free] + "x" * free
        return None

    if groups[0] == groups[1] and elements[0] == elements[1]:
        return None
    g, e = part(*groups), part(*elements)
    return None if g is None or e is None else g + e


def mask_spread(mask: str) -> int:
    """How many tags an 8-digit mask stands for; a masked group counts its even (public) or odd
    (private) groups only, half of its values."""
    spread = 16 ** mask.count("x")
    return spread // 2 if "x" in mask[:4] else spread
