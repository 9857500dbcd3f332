"""The functions that pydicom's modules call once `install_in_pydicom()` has run.

Most are `tagatlas.datadict`'s own. The private lookups add what pydicom's callers and tests
expect of pydicom's: its message for a creator the dictionary does not know at all, and its
warning, sent through pydicom's logger, for a creator that cannot be one (a number, a list).
The `add_*` functions add to both dictionaries, so that an entry a program adds is known to
tagatlas now and to pydicom's own functions after `uninstall_from_pydicom()`.

The descriptions that pydicom prints fall back to the keyword for an entry without a name (DCMTK's
entries have keywords only), so that its printouts name every element the dictionary knows.
"""

from __future__ import annotations

from .. import datadict
from .creators import creator_known

# Bound by name in pydicom's modules; the values are tagatlas's own functions.
SAME = (
    "get_entry", "dictionary_has_tag", "dictionary_VR",
    "dictionary_VM", "dictionary_is_retired", "dictionary_keyword", "keyword_for_tag",
    "tag_for_keyword", "repeater_has_tag", "repeater_has_keyword", "mask_match",
)  # fmt: skip

_get_entry = datadict.get_entry
_get_private_entry = datadict.get_private_entry


def _dictionary_vr_fast(tag: int) -> str:
    """The VR of a public tag given as an int (pydicom's reader of implicit-VR data)."""
    return _get_entry(tag)[0]


def dictionary_description(tag) -> str:
    """The name of a public tag, its keyword when it has no name. Raises as `get_entry`."""
    entry = _get_entry(tag)
    return entry[2] or entry[4]


def get_private_entry(tag, private_creator: str) -> tuple[str, str, str, str]:
    """`tagatlas.datadict.get_private_entry` with pydicom's messages."""
    if type(private_creator) is not str:
        try:
            hash(private_creator)
        except TypeError as e:
            raise KeyError(_invalid_creator(tag, private_creator)) from e
    try:
        return _get_private_entry(tag, private_creator)
    except KeyError as e:
        if creator_known(private_creator):
            raise
        # pydicom looks the creator up before the tag and says so when it finds none.
        raise KeyError(
            f"Private creator '{private_creator}' not in the private dictionary"
        ) from e


def _invalid_creator(tag, creator: object) -> str:
    from pydicom.misc import warn_and_log
    from pydicom.tag import Tag

    message = f"{Tag(tag).private_creator} '{creator}' is not a valid private creator"
    warn_and_log(message)
    return message


def private_dictionary_description(tag, private_creator: str) -> str:
    """The name of a private tag, its keyword when it has no name. Raises as
    `get_private_entry`."""
    name = get_private_entry(tag, private_creator)[2]
    if name or not isinstance(private_creator, str):
        return name
    from .._dicom.tag import tag_value
    from ..elements import find_element

    value = tag_value(tag, datadict.tag_for_keyword)
    try:
        found = find_element(datadict._state.dict, value >> 16, value & 0xFFFF, private_creator)
    except UnicodeEncodeError:  # lone surrogates: no stored creator has them
        return name
    return found.entry["keyword"] if found is not None else name


def private_dictionary_VR(tag, private_creator: str) -> str:
    """The VR of a private tag. Raises as `get_private_entry`."""
    return get_private_entry(tag, private_creator)[0]


def private_dictionary_VM(tag, private_creator: str) -> str:
    """The VM of a private tag. Raises as `get_private_entry`."""
    return get_private_entry(tag, private_creator)[1]


def add_dict_entry(
    tag, VR: str, keyword: str, description: str, VM: str = "1", is_retired: str = ""
) -> None:
    """Adds or replaces a public entry in both dictionaries for the rest of the run."""
    add_dict_entries({tag: (VR, VM, description, is_retired, keyword)})


def add_dict_entries(new_entries_dict: dict) -> None:
    """Adds or replaces public entries in both dictionaries; ValueError for a private tag."""
    from . import rebind

    datadict.add_dict_entries(new_entries_dict)  # refuses private tags before adding any
    # What pydicom's own function does, with its keyword map, which is not in its module now.
    rebind.pydicom_datadict().DicomDictionary.update(new_entries_dict)
    rebind.pydicom_keyword_dict().update(
        {value[4]: tag for tag, value in new_entries_dict.items()}
    )


def add_private_dict_entry(
    private_creator: str, tag, VR: str, description: str, VM: str = "1"
) -> None:
    """Adds or replaces a private entry in both dictionaries for the rest of the run."""
    add_private_dict_entries(private_creator, {tag: (VR, VM, description, "")})


def add_private_dict_entries(private_creator: str, new_entries_dict: dict) -> None:
    """Adds or replaces private entries in both dictionaries; ValueError for a public tag."""
    from . import rebind

    datadict.add_private_dict_entries(private_creator, new_entries_dict)
    rebind.original("add_private_dict_entries")(private_creator, new_entries_dict)


# Bound by name in pydicom's modules in place of pydicom's functions of the same names.
OWN = {
    name: globals()[name]
    for name in (
        "_dictionary_vr_fast", "dictionary_description", "get_private_entry",
        "private_dictionary_description", "private_dictionary_VR", "private_dictionary_VM",
        "add_dict_entry", "add_dict_entries", "add_private_dict_entry", "add_private_dict_entries",
    )
}  # fmt: skip
