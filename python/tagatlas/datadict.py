"""pydicom's dictionary lookups (`pydicom.datadict`, pydicom 3.0), answered from a `.tatl` file.

A program written for pydicom changes one import and gets the same answers, without loading
pydicom's dictionary tables:

    >>> from tagatlas import datadict          # instead of: from pydicom import datadict
    >>> datadict.get_entry(0x00100010)
    ('PN', '1', "Patient's Name", '', 'PatientName')
    >>> datadict.tag_for_keyword("PatientName") == 0x00100010
    True
    >>> datadict.mask_match(0x60023000), datadict.dictionary_VR(0x60023000)
    ('60xx3000', 'OB or OW')
    >>> datadict.private_dictionary_description(0x00191012, "GEMS_ACQU_01")
    'Last pseq'

The functions take tags in every form pydicom's `Tag()` takes (an int or int subclass such as
pydicom's `BaseTag`, a (group, element) tuple or list, a hex str, a keyword), return the same
values and raise the same exception types; messages may differ. Answers come from the bundled
dictionary, or from the file chosen with `use(path)`, and from the entries a program adds with the
`add_*` functions, which are consulted first.

Where the answers differ from pydicom's, by design:

- Private creators match in any case and spacing ("gems_acqu_01", " GEMS_ACQU_01 "), as in
  `tagatlas.Dict.lookup`; pydicom needs its own spelling. Entries added with
  `add_private_dict_entries` are matched the same way.
- The bundled dictionary is newer and fuller than pydicom's tables (docs/data.md): it answers as
  the PS3.6 2026c registry; it holds the entries of DCMTK, GDCM 2026-06, PS3.15's safe private
  attributes, TCIA and dicom3tools, which pydicom does not know (`get_entry` finds them,
  `dictionary_has_tag` is True, their keywords are in `keyword_dict`); a firm name answers where
  pydicom has a placeholder ("Unknown", "?"), GDCM's newer table where it changed pydicom's older
  copy, and an exact private element ((7FE1,1060)) before pydicom's block form ((7FE1,xx60)).
  pydicom's own keys "gggg00ee" are block offsets here, so (0009,1002) finds them. Where pydicom
  spells a creator twice ("SPI RELEASE 1", "SPI Release 1") the file keeps one spelling's entries.
- A tag out of range raises ValueError or OverflowError also when it comes as an int subclass;
  pydicom takes its own `BaseTag` objects unchecked and answers a miss.
- `keyword_dict` is kept in step with the dictionary in use, but the lookups do not read it:
  changing it changes no answer (add entries with `add_dict_entries`).
- pydicom's tables themselves (`DicomDictionary`, `RepeatersDictionary`, `private_dictionaries`,
  `masks`, `REPEATER_KEYWORDS`) are not provided; reading them whole is what this module avoids.

`use(path)` chooses the dictionary file; entries added with the `add_*` functions stay across it
unless `use(path, keep_additions=False)` drops them.

Repeating tags follow pydicom: an entry whose description names a mask ("VM 1; mask 60xx3000") is
a repeater. It answers `get_entry` for the tags of its mask in even groups, but it is not in
`dictionary_has_tag` and its keyword is not in `keyword_dict`; `mask_match` matches any tag
against the masks, as pydicom does. Results are kept in small bounded caches, emptied by `use` and
by the `add_*` functions. The functions are safe to call from several threads.
"""

from __future__ import annotations

import _thread
import os

from .description import read_facts
from ._keyword_search import KeywordSearch
from ._public_index import read_keywords, read_repeaters
from ._dicom.tag import format_tag, tag_value
from ._format.vr import shown_vr
from .table import read_table

__all__ = [
    "use", "get_entry", "dictionary_has_tag", "dictionary_description", "dictionary_VR",
    "dictionary_VM", "dictionary_is_retired", "dictionary_keyword", "keyword_for_tag",
    "tag_for_keyword", "keyword_dict", "repeater_has_tag", "repeater_has_keyword", "mask_match",
    "get_private_entry", "private_dictionary_description", "private_dictionary_VR",
    "private_dictionary_VM", "add_dict_entry", "add_dict_entries", "add_private_dict_entry",
    "add_private_dict_entries", "install_in_pydicom", "uninstall_from_pydicom",
]  # fmt: skip

# How many answers each cache keeps before it starts again from empty.
CACHE_LIMIT = 4096

_MISSING = object()


class _State:
    """One dictionary as the lookups see it: a file and the additions in front of it.

    A state is never changed once it is published in `_state`; `use` and the `add_*` functions
    make a new one and publish it with one assignment. A lookup takes `_state` once and asks that
    object only, so every answer is wholly the old dictionary's or wholly the new one's. Only the
    caches and the parts read on first need (the keyword map, the repeater masks) are filled in
    later, and they derive from the state alone.
    """

    __slots__ = ("table", "dict", "added", "added_private", "added_keywords", "keywords",
                 "repeaters", "search", "entries", "private_entries")  # fmt: skip

    def __init__(self, table, added: dict, added_private: dict, added_keywords: dict) -> None:
        self.table = table
        self.dict = table.dict
        self.added = added  # add_dict_entries: tag -> entry
        self.added_private = added_private  # (creator key, group, low byte) -> entry
        self.added_keywords = added_keywords  # keywords of `added`, in front of the file's
        self.keywords: dict[str, int] | None = None  # the file's and the added ones, once read
        self.repeaters = None  # the file's repeater masks, once read
        # Before the maps are read, a few keywords are searched one by one in the file: pydicom
        # asks the same few names for every file it reads, and reading the maps costs
        # milliseconds.
        self.search: KeywordSearch | None = None
        self.entries: dict = {}  # get_entry: tag argument -> entry
        self.private_entries: dict = {}  # get_private_entry: (tag, creator) -> entry


# Changes (making and publishing a state) happen under _lock; lookups take no lock. The Dict and
# the table of a state read one file (one descriptor), also if its path is replaced meanwhile.
_lock = _thread.RLock()
_state = _State(read_table(), {}, {}, {})  # the bundled dictionary until use() chooses another
_public_keywords: dict[str, int] | None = None  # keyword_dict once asked for; keeps its identity


def _filled(state: _State, slot: str, make):
    """The part of `state` in `slot`, made by `make(state)` on first need, once."""
    value = getattr(state, slot)
    if value is None:
        with _lock:
            value = getattr(state, slot)
            if value is None:
                value = make(state)
                setattr(state, slot, value)
    return value


def _keywords_of(state: _State) -> dict[str, int]:
    return _filled(state, "keywords", lambda s: {**read_keywords(s.table), **s.added_keywords})


def _searched(state: _State, keyword) -> tuple[int | None, bool] | None:
    """(tag, repeater) of `keyword` from a search of the file; None: ask the maps instead."""
    if type(keyword) is not str or not keyword:
        return None
    return _filled(state, "search", lambda s: KeywordSearch(s.table)).find(keyword)


def _keyword_tag(state: _State):
    """The keyword -> tag function of `tag_value` for this state; its map is read on first use."""
    keywords = state.keywords
    if keywords is not None:
        return keywords.get

    def tag_of(keyword):
        if type(keyword) is str:
            added = state.added_keywords.get(keyword)
            if added is not None:
                return added
            found = _searched(state, keyword)
            if found is not None:
                return found[0]
        return _keywords_of(state).get(keyword)

    return tag_of


def _publish(state: _State) -> None:
    """Makes `state` the one the lookups see; called under _lock.

    keyword_dict, once handed out, is brought in step: the new values are written before the
    stale keys go, so that a key present in both dictionaries is never missing meanwhile.
    """
    global _state
    if _public_keywords is not None:
        keywords = _keywords_of(state)
        _public_keywords.update(keywords)
        for keyword in [k for k in _public_keywords if k not in keywords]:
            del _public_keywords[keyword]
    _state = state


def use(path: str | os.PathLike[str] | None = None, *, keep_additions: bool = True) -> None:
    """Answers every later lookup from the dictionary file at `path` (the bundled one for None).

    The file is opened and validated first and raises what `tagatlas.open` raises (OSError,
    ValueError), and `tagatlas.table.DamagedDictionaryError` (a ValueError) when an entry refers
    outside the file's tables; the current dictionary stays in use then. Cached answers are
    dropped; `keyword_dict` stays the same object and is brought in step with the new file. Entries
    added with the `add_*` functions stay in front of the new file, unless `keep_additions` is
    False.

        >>> datadict.use("site.tatl")               # doctest: +SKIP
        >>> datadict.use()                          # back to the bundled dictionary
    """
    table = read_table(path)
    # Every reference of every entry, so that no later lookup meets a damaged one.
    table.check_references()
    with _lock:
        old = _state
        if keep_additions:
            state = _State(table, old.added, old.added_private, old.added_keywords)
        else:
            state = _State(table, {}, {}, {})
        _publish(state)


def _repeater_info(state: _State):
    return _filled(state, "repeaters", lambda s: read_repeaters(s.table))


def _keyword_map() -> dict[str, int]:
    global _public_keywords
    with _lock:
        if _public_keywords is None:
            _public_keywords = dict(_keywords_of(_state))
            globals()["keyword_dict"] = _public_keywords
        return _public_keywords


def __getattr__(name: str) -> object:
    # keyword_dict is read on first access, then kept as a plain module attribute.
    if name == "keyword_dict":
        return _keyword_map()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | {"keyword_dict"})


def _remember(cache: dict, key: object, entry: object) -> None:
    if len(cache) >= CACHE_LIMIT:
        cache.clear()
    cache[key] = entry


def _cache_key(tag: object) -> object:
    """The key under which an answer for `tag` may be cached, or None.

    Only ints and strs are cached: other numbers equal to an int (1.0, and complex(1, 0), which
    `Tag()` refuses) would otherwise find the int's answer.
    """
    kind = type(tag)
    if kind is int or kind is str:
        return tag
    if isinstance(tag, int):  # an int subclass such as pydicom's BaseTag is looked up as an int
        return int(tag)
    return None


# -- public entries ------------------------------------------------------------------------------


def _public_row(d, value: int) -> tuple[dict, tuple] | None:
    """The file's public entry stored at exactly this tag, and its facts (vm, vr, mask); the mask
    is None unless the entry is a repeater's."""
    row = d.lookup(value >> 16, value & 0xFFFF)
    if row is None or row["creator"]:
        return None
    return row, read_facts(row["description"])


def _public_tuple(row: dict, facts: tuple[str, str | None, str | None]) -> tuple:
    vm, choice, _ = facts
    retired = "Retired" if row["retired"] else ""
    return (shown_vr(row["vr"], choice), vm, row["name"], retired, row["keyword"])


def _find_entry(state: _State, value: int):
    added = state.added.get(value, _MISSING)
    if added is not _MISSING:
        return added
    d = state.dict
    found = _public_row(d, value)
    if found is not None:
        return _public_tuple(*found)
    if not (value >> 16) & 1:
        # A tag of a repeating group that the file does not store tag by tag: a mask too wide
        # to expand. The mask's one entry is stored at another tag of the mask.
        mask = _mask_match(state, value)
        if mask is not None:
            found = _public_row(d, _repeater_info(state).mask_tags[mask])
            if found is not None:
                return _public_tuple(*found)
    return _MISSING


def get_entry(tag) -> tuple[str, str, str, str, str]:
    """(VR, VM, name, retired, keyword) of a public tag, a repeater's for a tag of its mask.

    `retired` is "Retired" or "". Raises KeyError when the dictionary has no entry, and what
    pydicom's `Tag()` raises for a tag it does not take (ValueError, OverflowError, TypeError).

        >>> datadict.get_entry("PatientName")
        ('PN', '1', "Patient's Name", '', 'PatientName')
    """
    state = _state
    key = _cache_key(tag)
    if key is not None:
        entry = state.entries.get(key)
        if entry is not None:
            return entry
    return _get_entry(state, tag, key)


def _get_entry(state: _State, tag, key) -> tuple:
    value = tag_value(tag, _keyword_tag(state))
    entry = _find_entry(state, value)
    if entry is _MISSING:
        raise KeyError(f"Tag {format_tag(value)} not found in DICOM dictionary")
    # Keyed by the argument, ints and strs only: a tuple (0.0, 16) equals (0, 16) but is refused
    # by Tag().
    if key is not None:
        _remember(state.entries, key, entry)
    return entry


def dictionary_has_tag(tag) -> bool:
    """Whether `tag` is a public tag of the dictionary itself (not a repeater's; never raises)."""
    state = _state
    try:
        value = tag_value(tag, _keyword_tag(state))
    except Exception:
        return False
    if value in state.added:
        return True
    try:
        found = _public_row(state.dict, value)
    except BaseException as e:
        # A file changed on disk after `use` checked it: a damaged entry is no entry here.
        if _is_panic(e):
            return False
        raise
    return found is not None and found[1][2] is None


def _is_panic(error: BaseException) -> bool:
    import tagatlas

    return isinstance(error, tagatlas.PanicException)


def dictionary_description(tag) -> str:
    """The name of a public tag ("Patient's Name"). Raises as `get_entry`."""
    return get_entry(tag)[2]


def dictionary_VR(tag) -> str:
    """The VR of a public tag ("PN", or a choice such as "US or SS"). Raises as `get_entry`."""
    return get_entry(tag)[0]


def dictionary_VM(tag) -> str:
    """The VM of a public tag ("1", "1-n"). Raises as `get_entry`."""
    return get_entry(tag)[1]


def dictionary_is_retired(tag) -> bool:
    """Whether a public tag is retired. Raises as `get_entry`."""
    return "retired" in get_entry(tag)[3].lower()


def dictionary_keyword(tag) -> str:
    """The keyword of a public tag ("PatientName"). Raises as `get_entry`."""
    return get_entry(tag)[4]


def keyword_for_tag(tag) -> str:
    """The keyword of a public tag, "" when the dictionary has none. Bad tags raise as `Tag()`."""
    try:
        return dictionary_keyword(tag)
    except KeyError:
        return ""


def tag_for_keyword(keyword: str) -> int | None:
    """The tag of a public keyword, None when there is none (also for a repeater's keyword).

        >>> hex(datadict.tag_for_keyword("PixelData"))
        '0x7fe00010'
    """
    return _keyword_tag(_state)(keyword)


def mask_match(tag: int) -> str | None:
    """The repeater mask that `tag` matches ("60xx3000"), or None; any group, odd ones too."""
    return _mask_match(_state, tag)


def _mask_match(state: _State, tag: int) -> str | None:
    for mask, value, care in _repeater_info(state).masks:
        if (tag ^ value) & care == 0:
            return mask
    return None


def repeater_has_tag(tag: int) -> bool:
    """Whether `tag` matches a repeater mask (`mask_match` is not None)."""
    return mask_match(tag) is not None


def repeater_has_keyword(keyword: str) -> bool:
    """Whether `keyword` is a repeater's ("OverlayData")."""
    state = _state
    if state.repeaters is None:
        found = _searched(state, keyword)
        if found is not None:
            return found[1]
    try:
        return keyword in _repeater_info(state).keywords
    except TypeError:  # pydicom searches a list, where anything can be asked for
        return False


# -- private entries -----------------------------------------------------------------------------


def _creator_key(creator: object) -> object:
    if not isinstance(creator, str):
        hash(creator)  # a creator that cannot be a dict key is refused, as in pydicom
        return creator
    from ._format.creator import canonicalize_creator

    return canonicalize_creator(creator)


def _private_entry(d, group: int, element: int, creator: str):
    """The entry of a private element as files carry it (`tagatlas.elements.find_element`)."""
    from .elements import find_element

    try:
        return find_element(d, group, element, creator)
    except UnicodeEncodeError:  # lone surrogates: no stored creator has them
        return None


def _private_tuple(row: dict) -> tuple:
    vm, choice, _ = read_facts(row["description"])
    return (shown_vr(row["vr"], choice), vm, row["name"], "Retired" if row["retired"] else "")


def _find_private(state: _State, value: int, creator: object):
    """pydicom's order: the element as given, then the block form "ggggxxee", then "ggxxxxee"."""
    from .elements import BLOCK_OFFSET, FULL_ELEMENT

    group, element = value >> 16, value & 0xFFFF
    named = isinstance(creator, str)
    d = state.dict
    found = _private_entry(d, group, element, creator) if named else None
    if found is not None and found.form == FULL_ELEMENT:
        return _private_tuple(found.entry)
    if state.added_private:
        added = state.added_private.get((_creator_key(creator), group, element & 0xFF), _MISSING)
        if added is not _MISSING:
            return added
    if not named:
        return _MISSING
    if found is not None:  # a block-offset entry, under the element or its low byte
        return _private_tuple(found.entry)
    if not group & 1:
        # "ggxxxxee" stands for even groups too; the file stores it in the odd groups.
        found = _private_entry(d, group | 1, element & 0xFF, creator)
        if found is not None and found.form == BLOCK_OFFSET:
            mask = read_facts(found.entry["description"])[2]
            if mask is not None and mask[2:6] == "xxxx":
                return _private_tuple(found.entry)
    return _MISSING


def get_private_entry(tag, private_creator: str) -> tuple[str, str, str, str]:
    """(VR, VM, name, retired) of a private tag of `private_creator`.

    `tag` is the element as a file carries it ((0019,1012)) or its block form ((0019,0012));
    the creator matches in any case and spacing. Raises KeyError when the dictionary has no
    entry, and what `Tag()` raises for a bad tag.

        >>> datadict.get_private_entry(0x00191012, "GEMS_ACQU_01")
        ('SS', '1', 'Last pseq', '')
    """
    state = _state
    key = _cache_key(tag)
    if key is not None and type(private_creator) is str:
        entry = state.private_entries.get((key, private_creator))
        if entry is not None:
            return entry
    return _get_private_entry(state, tag, private_creator)


def _get_private_entry(state: _State, tag, creator) -> tuple:
    value = tag_value(tag, _keyword_tag(state))
    if not isinstance(creator, str):
        try:
            hash(creator)
        except TypeError as e:
            # pydicom looks the creator up in a dict and warns about one that cannot be a key.
            slot = (value & 0xFFFF0000) | ((value & 0xFFFF) >> 8)
            text = f"{format_tag(slot)} {creator!r} is not a valid private creator"
            import warnings

            warnings.warn(text, stacklevel=3)
            raise KeyError(text) from e
    entry = _find_private(state, value, creator)
    if entry is _MISSING:
        raise KeyError(
            f"Tag '{format_tag(value)}' not in private dictionary "
            f"for private creator '{creator}'"
        )
    if isinstance(tag, int) and type(creator) is str:
        _remember(state.private_entries, (value, creator), entry)
    return entry


def private_dictionary_description(tag, private_creator: str) -> str:
    """The name of a private tag. Raises as `get_private_entry`."""
    return get_private_entry(tag, private_creator)[2]


def private_dictionary_VR(tag, private_creator: str) -> str:
    """The VR of a private tag. Raises as `get_private_entry`."""
    return get_private_entry(tag, private_creator)[0]


def private_dictionary_VM(tag, private_creator: str) -> str:
    """The VM of a private tag. Raises as `get_private_entry`."""
    return get_private_entry(tag, private_creator)[1]


# -- additions -----------------------------------------------------------------------------------


def _is_private(tag) -> bool:
    # As pydicom's BaseTag(tag).is_private: int() of the key, then the parity of its group.
    return (int(tag) >> 16) % 2 == 1


def add_dict_entry(
    tag, VR: str, keyword: str, description: str, VM: str = "1", is_retired: str = ""
) -> None:
    """Adds or replaces a public entry for the rest of the run (in memory; files are untouched).

        >>> datadict.add_dict_entry(0x10021001, "UL", "TestOne", "Test One")

    Raises ValueError for a private (odd-group) tag.
    """
    add_dict_entries({tag: (VR, VM, description, is_retired, keyword)})


def add_dict_entries(new_entries_dict: dict) -> None:
    """Adds or replaces public entries: {tag: (VR, VM, name, retired, keyword)}, tags as ints.

    They are answered before the file's and their keywords join `keyword_dict`. Raises
    ValueError if any tag is private, and nothing is added then.
    """
    if any([_is_private(tag) for tag in new_entries_dict]):
        raise ValueError(
            'Private tags cannot be added using "add_dict_entries" - '
            'use "add_private_dict_entries" instead'
        )
    # Everything is read from the arguments before anything changes: an entry that cannot be
    # read (no keyword at [4]) raises and adds nothing.
    added = dict(new_entries_dict)
    keywords = {value[4]: tag for tag, value in added.items()}
    with _lock:
        old = _state
        state = _State(old.table, {**old.added, **added}, old.added_private,
                       {**old.added_keywords, **keywords})  # fmt: skip
        if old.keywords is not None:
            state.keywords = {**old.keywords, **keywords}
        state.repeaters = old.repeaters
        _publish(state)


def add_private_dict_entry(
    private_creator: str, tag, VR: str, description: str, VM: str = "1"
) -> None:
    """Adds or replaces a private entry of `private_creator` for the rest of the run.

    The entry stands for the element's low byte in any block ((gggg,xxee)), as in pydicom.
    Raises ValueError for a public (even-group) tag.
    """
    add_private_dict_entries(private_creator, {tag: (VR, VM, description, "")})


def add_private_dict_entries(private_creator: str, new_entries_dict: dict) -> None:
    """Adds or replaces private entries: {tag: (VR, VM, name, retired)} of one creator.

    They are answered after an exact element of the file and before its block forms, as
    pydicom's order of keys puts them. Raises ValueError if any tag is public.
    """
    if not all([_is_private(tag) for tag in new_entries_dict]):
        raise ValueError(
            "Non-private tags cannot be added using "
            "'add_private_dict_entries()' - use 'add_dict_entries()' instead"
        )
    blocks = {(tag >> 16, tag & 0xFF): value for tag, value in new_entries_dict.items()}
    key = _creator_key(private_creator)
    added = {(key, group, low): value for (group, low), value in blocks.items()}
    with _lock:
        old = _state
        state = _State(old.table, old.added, {**old.added_private, **added}, old.added_keywords)
        state.keywords, state.repeaters = old.keywords, old.repeaters
        _publish(state)


# -- pydicom -------------------------------------------------------------------------------------


def install_in_pydicom() -> None:
    """Makes pydicom itself answer its dictionary questions from tagatlas, for the whole process.

    pydicom's `datadict` functions, its `keyword_dict` and the copies of them that pydicom's
    modules imported by name (`dataset`, `dataelem`, `filereader`, `hooks`, `fileutil`, ...)
    become this module's; pydicom modules imported later get them too. pydicom then reads
    implicit-VR files with the VRs of every element this dictionary knows and names those
    elements in its printouts. pydicom's tables (`DicomDictionary`, `private_dictionaries`, ...)
    stay as they are. Private lookups keep pydicom's messages and warnings; `add_*` calls add to
    both dictionaries. Calling it again changes nothing.

        >>> from tagatlas import datadict
        >>> datadict.install_in_pydicom()           # doctest: +SKIP

    Raises ImportError when pydicom is not installed (the `dicom` extra: pip install
    'tagatlas[dicom]').
    """
    from ._pydicom import install

    install()


def uninstall_from_pydicom() -> None:
    """Gives pydicom its own dictionary functions and `keyword_dict` back, wherever a pydicom
    module holds tagatlas's; does nothing when they were not installed."""
    from ._pydicom import uninstall

    uninstall()
