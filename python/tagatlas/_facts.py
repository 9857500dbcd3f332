"""A description's facts line read without regular expressions, and repeating-tag masks as bits.

`tagatlas.description.parse_description` is the reference reading of the facts line; `read_facts`
gives the same VM, VR and mask for every description (the tests compare the two), without the
imports of that module (`re`, `dataclasses`), which would cost a program that asks for one
keyword more than its whole answer.

    >>> read_facts("VM 1-n; VR US or SS; mask 60xx3000\\nText.")
    ('1-n', 'US or SS', '60xx3000')
    >>> mask_bits("60xx3000") == (0x60003000, 0xFF00FFFF)
    True
"""

from __future__ import annotations

__all__ = ["read_facts", "mask_bits"]

_MASK_DIGITS = frozenset("0123456789ABCDEFx")
_VR_FACT = "; VR "
_MASK_FACT = "; mask "
_NO_FACTS: tuple[str, None, None] = ("", None, None)


# Dictionaries repeat a few facts lines over thousands of entries ("VM 1"): answers are kept, up to
# a bound, by description.
_MEMO_LIMIT = 4096
_memo: dict[str, tuple[str, str | None, str | None]] = {}


def read_facts(description: str) -> tuple[str, str | None, str | None]:
    """(vm, vr, mask) of a description's facts line; ("", None, None) when it has none."""
    facts = _memo.get(description)
    if facts is None:
        if len(_memo) >= _MEMO_LIMIT:
            _memo.clear()
        facts = _memo[description] = _read_facts(description)
    return facts


def _read_facts(description: str) -> tuple[str, str | None, str | None]:
    first = description.partition("\n")[0]
    if not first.startswith("VM"):
        return _NO_FACTS
    rest = first[2:]
    vm = ""
    if rest[:1] == " ":
        end = rest.find(";")
        end = len(rest) if end < 0 else end
        vm, rest = rest[1:end], rest[end:]
    vr = None
    if rest.startswith(_VR_FACT):
        end = rest.find(";", len(_VR_FACT))
        end = len(rest) if end < 0 else end
        vr, rest = rest[len(_VR_FACT) : end], rest[end:]
        if not vr:
            return _NO_FACTS
    mask = None
    if rest.startswith(_MASK_FACT):
        mask, rest = rest[len(_MASK_FACT) :], ""
        if len(mask) != 8 or not _MASK_DIGITS.issuperset(mask):
            return _NO_FACTS
    if rest:
        return _NO_FACTS
    return vm, vr, mask


def mask_bits(mask: str) -> tuple[int, int]:
    """(value, care) of a mask: a tag matches when (tag ^ value) & care == 0, as in pydicom."""
    value = int(mask.replace("x", "0"), 16)
    care = int("".join("0" if ch == "x" else "F" for ch in mask), 16)
    return value, care
