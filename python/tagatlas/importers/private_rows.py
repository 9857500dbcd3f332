"""What the private-dictionary importers share: one row of a vendor table as a candidate entry.

Sources write a choice of VRs in their own ways ("OW/OB", GDCM's `US_SS`, "US or SS"); a record
holds one VR code, so a choice is stored as "??" with the choice in the facts line, written
"OB or OW" ("OW/OB" too, as the other sources write that choice), others in the order given. An
element at or below 0xFF with a creator is a block offset: a file carries it as (gggg,xxee) in the
creator's block, never at (gggg,00ee), which is a creator slot.
"""

from __future__ import annotations

from ..description import format_description
from .._format.vr import DICOM_VRS, UNKNOWN_VR
from .._format.creator import hash_creator
from ..writer import Entry
from .ranges import Parity, mask_values
from .result import BLOCK_OFFSET, EXACT, Candidate, SourceError

# A row's VR that names no VR at all.
_NO_VR = ("", "??", "INVALID")


def vr_choice(text: str) -> tuple[str, str | None]:
    """The VR to store and, when `text` is no single VR, the choice to put in the facts line."""
    text = " ".join(text.split())
    if text in DICOM_VRS:
        return text, None
    if text.upper() in _NO_VR:
        return UNKNOWN_VR, None
    if text.upper() == "NONE":
        return UNKNOWN_VR, "NONE"
    for sep in ("/", "_"):
        parts = text.split(sep)
        if len(parts) > 1 and all(p in DICOM_VRS for p in parts):
            # OB and OW are written "OB or OW" by every other source; other choices as given.
            ordered = sorted(set(parts)) if set(parts) == {"OB", "OW"} else parts
            return UNKNOWN_VR, " or ".join(ordered)
    return UNKNOWN_VR, text.replace(";", ",")


def private_candidates(
    group_text: str,
    element: int,
    creator: str,
    *,
    origin: str,
    source: str,
    name: str = "",
    keyword: str = "",
    vr: str = "",
    vm: str = "",
    retired: bool = False,
    text: str = "",
) -> list[Candidate]:
    """Candidates for one private row: `group_text` is four hex digits or a mask ("60xx", odd
    groups); `element` is the full element, or the block offset when at or below 0xFF."""
    creator = creator.strip()
    if not creator:
        raise SourceError(f"{origin}: empty private creator")
    if hash_creator(creator) == 0:
        raise SourceError(f"{origin}: private creator {creator!r} hashes to 0, which means none")
    if "x" in group_text.lower():
        groups = mask_values(group_text.upper().replace("X", "x"), Parity.ODD)
    else:
        groups = [int(group_text, 16)]
    block = element <= 0xFF
    stored_vr, choice = vr_choice(vr)
    mask = None
    if len(groups) > 1:
        mask = group_text.upper().replace("X", "x") + (
            f"xx{element:02X}" if block else f"{element:04X}"
        )
    description = format_description(" ".join(vm.split()).replace(";", ","), choice, mask, text)
    return [
        Candidate(
            Entry(g, element, keyword, name, stored_vr, creator, description, retired, block,
                  (source,)),
            origin,
            len(groups),
            BLOCK_OFFSET if block else EXACT,
        )
        for g in groups
    ]  # fmt: skip
