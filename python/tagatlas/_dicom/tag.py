"""Tag arguments as pydicom's `Tag()` takes them, turned into one 32-bit int.

`tagatlas.datadict` accepts every form pydicom 3.0's `pydicom.tag.Tag` accepts and fails where it
fails, with the same exception types:

- an int (or int subclass, such as pydicom's `BaseTag`) or any other number: 0..0xFFFFFFFF;
- a (group, element) tuple or list of two ints, or of two hex strs;
- a hex str ("00100010", "0x10", and also "ACE", which reads as hex before it could be a keyword),
  else a keyword ("PatientName").

    >>> tag_value((0x0010, 0x0010), {}.get)
    1048592
    >>> tag_value("PatientName", {"PatientName": 0x00100010}.get)
    1048592

Errors: ValueError for a negative value, a tuple of the wrong length, a bad hex digit in a tuple,
an unknown keyword; OverflowError for a value beyond 32 bits or a group or element beyond 16 bits;
TypeError for a tuple of mixed or unsupported types, or an argument that is not a number at all.
"""

from __future__ import annotations

TYPE_CHECKING = False  # typing itself is not imported: its import costs more than a lookup
if TYPE_CHECKING:
    from collections.abc import Callable

_U16_MAX = 0xFFFF
_U32_MAX = 0xFFFF_FFFF


def tag_value(arg: object, keyword_tag: Callable[[str], int | None]) -> int:
    """The tag `arg` stands for; `keyword_tag` answers keywords (a keyword map's `get`)."""
    if type(arg) is int:
        if arg > _U32_MAX:
            raise OverflowError(f"tag {arg:#x} exceeds 32 bits")
        value = arg
    elif isinstance(arg, tuple | list):
        value = _pair_value(arg)
    elif isinstance(arg, str):
        value = _text_value(arg, keyword_tag)
    else:
        # Any number pydicom would take: compared first (TypeError for a non-number), then made
        # an int as pydicom's BaseTag(value) makes it (1.0 reads as 1).
        if arg > _U32_MAX:
            raise OverflowError(f"tag {arg!r} exceeds 32 bits")
        value = arg
    if value < 0:
        raise ValueError(f"tag {value!r} is negative")
    return int(value)


def _pair_value(pair: tuple | list) -> int:
    if len(pair) != 2:
        raise ValueError(f"a tag is an int or a (group, element) pair, not {len(pair)} values")
    group, element = pair
    if isinstance(group, str) and isinstance(element, str):
        group, element = int(group, 16), int(element, 16)
    elif not (isinstance(group, int) and isinstance(element, int)):
        raise TypeError(
            f"tag {pair!r}: group and element must both be int or both be str, "
            f"not {type(group).__name__} and {type(element).__name__}"
        )
    if group > _U16_MAX or element > _U16_MAX:
        raise OverflowError(f"tag {pair!r}: group and element are limited to 16 bits each")
    # A negative part gives a negative value, refused by the caller.
    return (group << 16) | element


def _text_value(text: str, keyword_tag: Callable[[str], int | None]) -> int:
    try:
        value = int(text, 16)
    except ValueError:
        pass
    else:
        if value > _U32_MAX:
            raise OverflowError(f"tag {text!r} exceeds 32 bits")
        return value
    # A keyword's tag is taken as the map holds it, as pydicom takes it.
    value = keyword_tag(text)
    if value is None:
        raise ValueError(f"{text!r} is neither a hex tag nor a known keyword")
    return value


def tag_text(
    group: int, element: int, block_offset: bool = False, mask: str | None = None,
    *, parentheses: bool = True,
) -> str:
    """A tag as people write it: "(0010,0010)", block offsets "(0019,xx0C)", masks "(60xx,3000)".

    A private mask such as "70xxxx04" stands for block offsets in every odd group "70xx". Without
    `parentheses` it is the tag as DICOM JSON keys and `explain`'s paths hold it: "0010,0010".
    """
    if mask is not None:
        text = f"{mask[:4]},{mask[4:]}"
    elif block_offset:
        text = f"{group:04X},xx{element:02X}"
    else:
        text = f"{group:04X},{element:04X}"
    return f"({text})" if parentheses else text


def format_tag(value: int) -> str:
    """A 32-bit tag as "(GGGG,EEEE)", as pydicom prints it."""
    return tag_text(value >> 16, value & 0xFFFF)
