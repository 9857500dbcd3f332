"""The convention of a record's `description`: a line of facts, then descriptive text.

The file format has one free text per entry. tagatlas dictionaries use it for two things, so that
nothing a DICOM dictionary says about an element is lost:

- the first line holds facts: `VM {vm}`, then `; VR {text}` when the element has no single VR
  (the record's VR code is "??" then, and the text says what it is instead: "US or SS",
  "OB or OW"), then `; mask {mask}` when the entry was expanded from, or stands for, a repeating
  tag written as a hex mask with "x" for any digit ("60xx3000", "1000xxx0");
- the lines after it, if any, hold descriptive text ("Patient's full name.").

    >>> parse_description("VM 1-n; VR US or SS; mask 60xx3000")
    Description(vm='1-n', vr='US or SS', mask='60xx3000', text='')
    >>> format_description("1", text="Patient's full name.")
    "VM 1\\nPatient's full name."

A description without a facts line (a dictionary written by other tools) parses as text only, with
an empty VM.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

__all__ = ["Description", "parse_description", "format_description", "MASK_PATTERN"]

# A repeating tag: eight hex digits, "x" standing for any digit.
MASK_PATTERN = re.compile(r"[0-9A-Fx]{8}")

_FACTS = re.compile(
    r"VM(?: (?P<vm>[^;\n]*))?"
    r"(?:; VR (?P<vr>[^;\n]+))?"
    r"(?:; mask (?P<mask>[0-9A-Fx]{8}))?"
)


@dataclass(frozen=True)
class Description:
    """A description taken apart: facts (empty or None when not stated) and the text."""

    vm: str = ""
    vr: str | None = None
    mask: str | None = None
    text: str = ""


def parse_description(description: str) -> Description:
    """Splits a record's description into its facts line and its text."""
    first, newline, rest = description.partition("\n")
    m = _FACTS.fullmatch(first)
    if m is None:
        return Description(text=description)
    return Description(m["vm"] or "", m["vr"], m["mask"], rest if newline else "")


def format_description(
    vm: str = "", vr: str | None = None, mask: str | None = None, text: str = ""
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
    if mask is not None and not MASK_PATTERN.fullmatch(mask):
        raise ValueError(f"mask {mask!r} is not eight hex digits with 'x' for any digit")
    if not (vm or vr or mask or text):
        return ""
    facts = f"VM {vm}" if vm else "VM"
    if vr is not None:
        facts += f"; VR {vr}"
    if mask is not None:
        facts += f"; mask {mask}"
    return f"{facts}\n{text}" if text else facts
