"""Naming the data elements found in DICOM data from a dictionary.

A reader of DICOM data (`dicom_file`, `dicom_json`) reports each data element it meets as an
`Occurrence`: where it is, its tag, the VR the data states and, for a private element, the creator
its block's creator element names. `Namer.name` turns one into an `Explained` row:

- a private creator element (gggg,0010-00FF) and a group length (gggg,0000) are named by the
  rule that defines them, unless the dictionary has an entry for the group length;
- any other element is looked up with `tagatlas.elements.find_element` (full element, then the
  block form, creator in any case or spacing); a public tag no entry holds is matched against
  the repeating tags the dictionary keeps as one entry ("1000xxx0");
- what is not found is marked in `unknown`: "tag", "no creator" (a private element whose block
  has no creator element), "creator" (a creator the dictionary does not know in that group) or
  "element" (a known creator without this element).

The data's VR is compared with the dictionary's only where the data states one; a VR choice such
as "US or SS" agrees with each of its VRs.
"""

from __future__ import annotations

import bisect
import os
from typing import NamedTuple

from ._dicom.model import Occurrence, creator_slot, is_creator_element, is_private_group
from ._dicom.tag import tag_text
from ._format.creator import hash_creator
from ._format.vr import UNKNOWN_VR, shown_vr
from .description import mask_bits, parse_description
from .elements import BLOCK_OFFSET, FULL_ELEMENT, find_element, same_creator
from .table import EntryTable, read_table

__all__ = ["Explained", "Namer", "default_namer"]

# Named by the rule that defines them, not by a dictionary entry.
RULE = "rule"
MASK = "mask"

_PRIVATE_CREATOR = ("PrivateCreator", "Private Creator", "LO", "1")
_GROUP_LENGTH = ("GroupLength", "Group Length", "UL", "1")

# A VR of the dictionary that says nothing to compare with.
_NO_VR = frozenset([UNKNOWN_VR, "NONE"])


class Explained(NamedTuple):
    """One data element of the data, named. `_asdict()` gives the JSON form.

    `tag` is "GGGG,EEEE"; `vr` the data's VR (None where the data states none);
    `vr_differs` is set only where the data states a VR that the dictionary's does not allow;
    `dictionary_vr` the VR the dictionary (or the rule) gives, or its VR choice ("US or SS"),
    None when unknown. `match` says how the entry was found: "full_element", "block_offset",
    "mask" or "rule"; None when `unknown` says why not. `text` is the entry's descriptive text.
    """

    path: str
    tag: str
    private: bool
    creator: str | None
    vr: str | None
    vr_differs: bool
    keyword: str
    name: str
    dictionary_vr: str | None
    vm: str
    retired: bool
    sources: tuple[str, ...]
    mask: str | None
    match: str | None
    unknown: str | None
    text: str


class _Named(NamedTuple):
    """What the dictionary says of one (group, element, creator), kept for repeated elements: the
    fields of `Explained` that do not depend on the occurrence, under the same names."""

    keyword: str = ""
    name: str = ""
    dictionary_vr: str | None = None
    vm: str = ""
    retired: bool = False
    sources: tuple[str, ...] = ()
    mask: str | None = None
    match: str | None = None
    unknown: str | None = None
    text: str = ""


def _unknown(why: str) -> _Named:
    return _Named(unknown=why)


def _by_rule(keyword: str, name: str, vr: str, vm: str) -> _Named:
    return _Named(keyword=keyword, name=name, dictionary_vr=vr, vm=vm, match=RULE)


class Namer:
    """Names occurrences from one dictionary (a `.tatl` path, None for the bundled one).

    What it finds is kept per (group, element, creator), up to KEEP keys, so elements that
    repeat in many items and files are looked up once; reuse a Namer for many inputs (`explain`
    shares one for the bundled dictionary, see `default_namer`). Raises what `tagatlas.open`
    raises for a dictionary that does not open.
    """

    KEEP = 1 << 16

    def __init__(self, dictionary: str | os.PathLike[str] | None = None) -> None:
        if dictionary is None:
            from ._bundled import open_default

            self._dict = open_default()
        else:
            from ._tagatlas import open as open_dict

            self._dict = open_dict(dictionary)
        self._path = dictionary
        self._columns: EntryTable | None = None
        self._known: dict[tuple[int, int, str | None], _Named] = {}
        self._group_masks: dict[int, list[tuple[int, int, bool, dict]]] = {}
        self._creator_groups: dict[tuple[int, str], bool] = {}

    def name(self, occurrence: Occurrence) -> Explained:
        path, group, element, vr, creator = occurrence
        private = is_private_group(group)
        named = self._known.get((group, element, creator))
        if named is None:
            named = self._named(group, element, creator, private)
        dictionary_vr = named.dictionary_vr
        return Explained(
            path=path, tag=tag_text(group, element, parentheses=False), private=private,
            creator=creator if private else None, vr=vr,
            vr_differs=vr is not None and vr != dictionary_vr and _differs(vr, dictionary_vr),
            keyword=named.keyword, name=named.name, dictionary_vr=dictionary_vr, vm=named.vm,
            retired=named.retired, sources=named.sources, mask=named.mask, match=named.match,
            unknown=named.unknown, text=named.text,
        )  # fmt: skip

    def is_sequence(self, group: int, element: int, creator: str | None) -> bool:
        """Whether the dictionary gives (group, element) of `creator` the VR SQ."""
        return self._named(group, element, creator, is_private_group(group)).dictionary_vr == "SQ"

    def _named(self, group: int, element: int, creator: str | None, private: bool) -> _Named:
        key = (group, element, creator)
        named = self._known.get(key)
        if named is None:
            named = self._look_up(group, element, creator, private)
            if len(self._known) >= self.KEEP:
                self._known.clear()  # data full of odd tags must not grow it without bound
            self._known[key] = named
        return named

    @property
    def _table(self) -> EntryTable:
        """The dictionary's index as columns, read on first need (masks, creators of a group)."""
        if self._columns is None:
            self._columns = read_table(self._path)
        return self._columns

    # -- the dictionary -------------------------------------------------------------------------

    def _look_up(self, group: int, element: int, creator: str | None, private: bool) -> _Named:
        if is_creator_element(group, element):
            return _by_rule(*_PRIVATE_CREATOR)
        if private and creator_slot(element) is not None:
            if creator is None:
                return _unknown("no creator")
            if not _encodable(creator):
                # Text no dictionary can hold (a lone surrogate from a JSON escape) names no
                # creator of any dictionary; the lookup would refuse to encode it.
                return _unknown("creator")
            found = find_element(self._dict, group, element, creator)
            if found is not None:
                return _from_entry(found.entry, found.form)
            return _unknown("element" if self._knows_creator(group, creator) else "creator")
        # Without a creator find_element is one lookup; made directly, as most elements are public.
        entry = self._dict.lookup(group, element)
        if entry is not None:
            return _from_entry(entry, BLOCK_OFFSET if entry["block_offset"] else FULL_ELEMENT)
        if element == 0x0000:
            return _by_rule(*_GROUP_LENGTH)
        if not private:
            entry = self._masked(group, element)
            if entry is not None:
                return _from_entry(entry, MASK)
        return _unknown("tag")

    def _group_range(self, group: int) -> tuple[int, int]:
        groups = self._table.key_groups
        return bisect.bisect_left(groups, group), bisect.bisect_right(groups, group)

    def _masked(self, group: int, element: int) -> dict | None:
        """The public entry kept for a repeating tag that holds (group, element), or None.

        Such an entry is stored at the first tag of its mask that no exact entry holds, in the
        same group for the masks dictionaries keep this way ("1000xxx0", "1010xxxx"); masks of
        the group number are expanded, one entry per group, and found by the lookup itself.
        """
        masks = self._group_masks.get(group)
        if masks is None:
            masks = []
            lo, hi = self._group_range(group)
            hashes, elements = self._table.creator_hashes, self._table.key_elements
            for i in range(lo, hi):
                if hashes[i] != 0:
                    continue
                entry = self._dict.lookup(group, elements[i])
                mask = parse_description(entry["description"]).mask if entry else None
                if mask is not None:
                    masks.append((*mask_bits(mask), "x" in mask[:4], entry))
            self._group_masks[group] = masks
        tag = group << 16 | element
        for value, care, group_masked, entry in masks:
            # A masked group stands for even groups only, in a public tag.
            if (tag ^ value) & care == 0 and not (group_masked and group % 2):
                return entry
        return None

    def _knows_creator(self, group: int, creator: str) -> bool:
        """Whether any entry of `group` belongs to `creator` (any case and spacing)."""
        key = (group, creator)
        known = self._creator_groups.get(key)
        if known is None:
            wanted = hash_creator(creator)
            lo, hi = self._group_range(group)
            hashes, elements = self._table.creator_hashes, self._table.key_elements
            known = False
            for i in range(lo, hi):
                if hashes[i] == wanted:
                    # The hash may be shared by another creator: compare the texts.
                    entry = self._dict.lookup(group, elements[i], creator)
                    if entry is not None and same_creator(entry["creator"], creator):
                        known = True
                        break
            if len(self._creator_groups) >= self.KEEP:
                self._creator_groups.clear()  # creators come from the data: keep it bounded
            self._creator_groups[key] = known
        return known


def _from_entry(entry: dict, form: str) -> _Named:
    vm, choice, mask, text = parse_description(entry["description"])
    vr = shown_vr(entry["vr"], choice)
    return _Named(
        keyword=entry["keyword"], name=entry["name"],
        dictionary_vr=None if vr == UNKNOWN_VR else vr, vm=vm, retired=entry["retired"],
        sources=tuple(entry["sources"]), mask=mask, match=form, text=text,
    )  # fmt: skip


def _encodable(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def _differs(stated: str | None, dictionary_vr: str | None) -> bool:
    if stated is None or dictionary_vr is None or dictionary_vr in _NO_VR:
        return False
    if stated == dictionary_vr:
        return False
    return stated not in dictionary_vr.split(" or ")


_default: Namer | None = None


def default_namer() -> Namer:
    """The process's one Namer on the bundled dictionary, made on first use.

    The bundled file never changes while a process runs, so what one call finds serves the
    next. Sharing it between threads is safe: its caches are dicts that only ever gain entries
    (or are cleared whole), each entry computed from the immutable dictionary, so a racing
    thread at worst looks a tag up twice.
    """
    global _default
    if _default is None:
        _default = Namer()
    return _default
