"""The VR code table of the dictionary format, kept in this one place.

The code is what a record stores; lookups report the two-letter text. Codes 0-33 are DICOM VRs
(FL is 7 and FD is 8, out of alphabetical order), code 34 is "??" for "no single VR".
"""

VR_TEXTS: tuple[str, ...] = (
    "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT",
    "OB", "OD", "OF", "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST",
    "SV", "TM", "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV", "??",
)  # fmt: skip

VR_CODES: dict[str, int] = {text: code for code, text in enumerate(VR_TEXTS)}

UNKNOWN_VR = "??"

# The DICOM VRs proper, without the placeholder.
DICOM_VRS: frozenset[str] = frozenset(VR_TEXTS[:-1])


def normalize_vr(text: str) -> str:
    """Returns `text` if it is exactly one DICOM VR, else "??".

    Sources write alternatives ("US or SS", "OB or OW") and placeholders of their own ("xs",
    "ox"); a record holds one code, so anything that is not a single VR becomes "??".
    """
    text = text.strip()
    return text if text in DICOM_VRS else UNKNOWN_VR


def shown_vr(vr: str, choice: str | None) -> str:
    """The VR to show for a record: its VR, or for "??" the choice its facts line names.

    A record holds one VR code; where the element has none, "??" is stored and the description's
    facts line says what it is instead ("US or SS", "OB or OW"). "??" stays when it says nothing.
    """
    return choice if vr == UNKNOWN_VR and choice is not None else vr
