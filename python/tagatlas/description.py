"""The convention of a record's `description`: a line of facts, then descriptive text.

The file format has one free text per entry. tagatlas dictionaries use it for two things, so that
nothing a DICOM dictionary says about an element is lost:

- the first line holds facts: `VM {vm}`, then `; VR {text}` when the element has no single VR
  (the record's VR code is "??" then, and the text says what it is instead: "US or SS",
  "OB or OW"), then `; mask {mask}` when the entry was expanded from, or stands for, a repeating
  tag written as a hex mask with "x" for any digit ("60xx3000", "1000xxx0"), then
  `; deid {code}` when the dictionary carries de-identification facts for the element, followed by
  `; {option} {code}` for each option that changes that action (`tagatlas.deid` reads them), then
  `; guess` when the entry's name is a source's guess (GDCM writes them "?like this?") that no
  source states firmly (`is_guess` tells);
- the lines after it, if any, hold descriptive text ("Patient's full name.").

    >>> parse_description("VM 1-n; VR US or SS; mask 60xx3000")
    Description(vm='1-n', vr='US or SS', mask='60xx3000', text='')
    >>> format_description("1", text="Patient's full name.")
    "VM 1\\nPatient's full name."

A description without a facts line (a dictionary written by other tools) parses as text only, with
an empty VM. `read_facts` gives the facts alone, `read_deid` the de-identification facts, and
`mask_bits`/`mask_matches` test tags against a mask.

    >>> read_deid("VM 1; deid Z; retain-patient-characteristics K")
    ('Z', (('retain-patient-characteristics', 'K'),))

The module imports nothing: it is read on the way to a program's first answer (`tagatlas.datadict`
reads facts before its first keyword lookup), where importing `re` or `dataclasses` would cost more
than the answer.
"""

from __future__ import annotations

__all__ = [
    "Description", "parse_description", "format_description", "read_facts", "is_guess", "is_mask",
    "mask_bits", "mask_matches", "MASK_PATTERN", "read_deid",
]

_MASK_DIGITS = frozenset("0123456789ABCDEFx")
_VR_FACT = "; VR "
_MASK_FACT = "; mask "
_DEID_FACT = "; deid "
_GUESS_FACT = "; guess"
_NO_FACTS: tuple[str, None, None] = ("", None, None)
# What a de-identification action code and an option name are made of ("X/Z/U*",
# "retain-safe-private"); anything else makes the line descriptive text, not facts.
_CODE_CHARS = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZ/*")
_OPTION_CHARS = frozenset("abcdefghijklmnopqrstuvwxyz-")

# (basic action, ((option, action), ...)): the de-identification facts of one entry.
Deid = tuple[str, tuple[tuple[str, str], ...]]


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


def _is_code(text: str) -> bool:
    return bool(text) and _CODE_CHARS.issuperset(text)


def _deid_facts(rest: str) -> Deid | None:
    """The de-identification facts of "; deid X; option K ..." (`rest` starts with "; deid "),
    None when it is not that."""
    basic, *pairs = rest[len(_DEID_FACT) :].split("; ")
    options = []
    for pair in pairs:
        name, _, code = pair.partition(" ")
        if not (name[:1].isalpha() and _OPTION_CHARS.issuperset(name) and _is_code(code)):
            return None
        options.append((name, code))
    return (basic, tuple(options)) if _is_code(basic) else None


def _facts_line(line: str) -> tuple[str, str | None, str | None, Deid | None] | None:
    """(vm, vr, mask, deid) of a facts line, or None when `line` is not one."""
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
        mask, rest = rest[len(_MASK_FACT) : len(_MASK_FACT) + 8], rest[len(_MASK_FACT) + 8 :]
        if not is_mask(mask):
            return None
    deid = None
    if rest.startswith(_DEID_FACT):
        deid, rest = _deid_facts(rest), ""
        if deid is None:
            return None
    return None if rest else (vm, vr, mask, deid)


def read_facts(description: str) -> tuple[str, str | None, str | None]:
    """(vm, vr, mask) of a description's facts line; ("", None, None) when it has none."""
    facts = _facts_line(description.partition("\n")[0])
    return _NO_FACTS if facts is None else facts[:3]


def read_deid(description: str) -> Deid | None:
    """(basic action, ((option, action), ...)) of a description's facts line, None when the line
    states no de-identification facts."""
    facts = _facts_line(description.partition("\n")[0])
    return None if facts is None else facts[3]


def parse_description(description: str) -> Description:
    """Splits a record's description into its facts line and its text."""
    first, newline, rest = description.partition("\n")
    facts = _facts_line(first)
    if facts is None:
        return Description(text=description)
    return Description(*facts[:3], rest if newline else "")


def is_guess(description: str) -> bool:
    """Whether the facts line marks the entry's name as a guess (`; guess`)."""
    first = description.partition("\n")[0]
    return first.endswith(_GUESS_FACT) and _facts_line(first) is not None


def format_description(
    vm: str = "", vr: str | None = None, mask: str | None = None, text: str = "",
    guess: bool = False, *, deid: Deid | None = None,
) -> str:  # fmt: skip
    """Builds a description by the convention; "" when there is nothing to say.

    Raises ValueError for a value that would not read back the same: a line break or ";" in a
    fact, a mask that is not eight hex digits and "x", an action code or option name that is
    not one (codes are capital letters, "/" and "*"; names lower-case letters and "-").
    """
    for name, value in (("vm", vm), ("vr", vr)):
        if value is not None and ("\n" in value or ";" in value):
            raise ValueError(f"{name} {value!r} may not hold a line break or ';'")
    if vm != vm.strip() or (vr is not None and (not vr or vr != vr.strip())):
        raise ValueError(f"facts may not start or end with spaces: vm {vm!r}, vr {vr!r}")
    if mask is not None and not is_mask(mask):
        raise ValueError(f"mask {mask!r} is not eight hex digits with 'x' for any digit")
    if deid is not None:
        line = _DEID_FACT + "; ".join([deid[0], *(f"{n} {c}" for n, c in deid[1])])
        if _deid_facts(line) != (deid[0], tuple(map(tuple, deid[1]))):
            raise ValueError(f"deid facts {deid!r} are not an action code and option actions")
    if not (vm or vr or mask or text or guess or deid):
        return ""
    facts = f"VM {vm}" if vm else "VM"
    if vr is not None:
        facts += f"; VR {vr}"
    if mask is not None:
        facts += f"; mask {mask}"
    if deid is not None:
        facts += line
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
