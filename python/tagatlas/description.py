"""The convention of a record's `description`: a line of facts, then descriptive text.

The file format has one free text per entry. tagatlas dictionaries use it for two things, so that
nothing a DICOM dictionary says about an element is lost:

- the first line holds facts: `VM {vm}`, then `; VR {text}` when the element has no single VR
  (the record's VR code is "??" then, and the text says what it is instead: "US or SS",
  "OB or OW"), then `; mask {mask}` when the entry was expanded from, or stands for, a repeating
  tag written as a hex mask with "x" for any digit ("60xx3000", "1000xxx0"), then `; guess` when
  the entry's name is a source's guess (GDCM writes them "?like this?") that no source states
  firmly (`is_guess` tells);
- the lines after it, if any, hold descriptive text ("Patient's full name.").

    >>> parse_description("VM 1-n; VR US or SS; mask 60xx3000")
    Description(vm='1-n', vr='US or SS', mask='60xx3000', text='')
    >>> format_description("1", text="Patient's full name.")
    "VM 1\\nPatient's full name."

A description without a facts line (a dictionary written by other tools) parses as text only, with
an empty VM. `read_facts` gives the facts alone, and `mask_bits`/`mask_matches` test tags against
a mask.

The module imports nothing: it is read on the way to a program's first answer (`tagatlas.datadict`
reads facts before its first keyword lookup), where importing `re` or `dataclasses` would cost more
than the answer.
"""

from __future__ import annotations

__all__ = [
    "Description", "parse_description", "format_description", "read_facts", "is_guess", "is_mask",
    "mask_bits", "mask_matches", "MASK_PATTERN",
]

_MASK_DIGITS = frozenset("0123456789ABCDEFx")
_VR_FACT = "; VR "
_MASK_FACT = "; mask "
_GUESS_FACT = "; guess"
_NO_FACTS: tuple[str, None, None] = ("", None, None)


class Description(tuple):
    """A description taken apart: (vm, vr, mask, text), facts empty or None when not stated."""

    __slots__ = ()
    _fields = ("vm", "vr", "mask", "text")

    def __new__(cls, vm: str = "", vr: str | None = None, mask: str | None = None,
                text: str = "") -> Description:  # fmt: skip
        return tuple.__new__(cls, (vm, vr, mask, text))

    vm = property(lambda self: self[0])
    vr = property(lambda self: self[1])
    mask = property(lambda self: self[2])
    text = property(lambda self: self[3])

    def __repr__(self) -> str:
        fields = ", ".join(f"{name}={value!r}" for name, value in zip(self._fields, self))
        return f"Description({fields})"


def is_mask(text: str) -> bool:
    """Whether `text` is a mask: eight hex digits (upper case), "x" standing for any digit."""
    return len(text) == 8 and _MASK_DIGITS.issuperset(text)


def _facts_line(line: str) -> tuple[str, str | None, str | None] | None:
    """(vm, vr, mask) of a facts line, or None when `line` is not one."""
    if not line.startswith("VM"):
        return None
    rest = line[2:]
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
            return None
    if rest.endswith(_GUESS_FACT):
        rest = rest[: -len(_GUESS_FACT)]
    mask = None
    if rest.startswith(_MASK_FACT):
        mask, rest = rest[len(_MASK_FACT) :], ""
        if not is_mask(mask):
            return None
    return None if rest else (vm, vr, mask)


def read_facts(description: str) -> tuple[str, str | None, str | None]:
    """(vm, vr, mask) of a description's facts line; ("", None, None) when it has none."""
    return _facts_line(description.partition("\n")[0]) or _NO_FACTS


def parse_description(description: str) -> Description:
    """Splits a record's description into its facts line and its text."""
    first, newline, rest = description.partition("\n")
    facts = _facts_line(first)
    if facts is None:
        return Description(text=description)
    return Description(*facts, rest if newline else "")


def is_guess(description: str) -> bool:
    """Whether the facts line marks the entry's name as a guess (`; guess`)."""
    first = description.partition("\n")[0]
    return first.endswith(_GUESS_FACT) and _facts_line(first) is not None


def format_description(
    vm: str = "", vr: str | None = None, mask: str | None = None, text: str = "",
    guess: bool = False,
) -> str:
    """Builds a description by the convention; "" when there is nothing to say.

    Raises ValueError for a value that would not read back the same: a line break or ";" in a
    fact, a mask that is not eight hex digits and "x".
    """
    for name, value in (("vm", vm), ("vr", vr)):
        if value is not None and ("\n" in value or ";" in value):
            raise ValueError(f"{name} {value!r} may not hold a line break or ';'")
    if vm != vm.strip() or (vr is not None and (not vr or vr != vr.strip())):
        raise ValueError(f"facts may not start or end with spaces: vm {vm!r}, vr {vr!r}")
    if mask is not None and not is_mask(mask):
        raise ValueError(f"mask {mask!r} is not eight hex digits with 'x' for any digit")
    if not (vm or vr or mask or text or guess):
        return ""
    facts = f"VM {vm}" if vm else "VM"
    if vr is not None:
        facts += f"; VR {vr}"
    if mask is not None:
        facts += f"; mask {mask}"
    if guess:
        facts += _GUESS_FACT
    return f"{facts}\n{text}" if text else facts


def mask_bits(mask: str) -> tuple[int, int]:
    """(value, care) of a mask: a tag matches when (tag ^ value) & care == 0, as pydicom tests."""
    value = int(mask.replace("x", "0"), 16)
    care = int("".join("0" if ch == "x" else "F" for ch in mask), 16)
    return value, care


def mask_matches(mask: str, group: int, element: int) -> bool:
    """Whether (group, element) is one of the mask's tags, whatever the group's parity."""
    value, care = mask_bits(mask)
    return (((group << 16) | element) ^ value) & care == 0


def __getattr__(name: str) -> object:
    # The mask as a regular expression, for callers that match with one; made on first use.
    if name == "MASK_PATTERN":
        import re

        pattern = globals()["MASK_PATTERN"] = re.compile(r"[0-9A-Fx]{8}")
        return pattern
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
