"""What the DICOM Standard's confidentiality profile does with a data element, from a dictionary.

PS3.15 Table E.1-1 gives, for each attribute it lists, the action of the Basic Application Level
Confidentiality Profile and of ten options that change it. A dictionary built with the facts
(the bundled one; `tagatlas build --deid`) records them in each entry's facts line, and marks the
safe private attributes of Table E.3.10-1:

    >>> from tagatlas import deid
    >>> deid.action(0x0010, 0x0010)                                  # Patient's Name
    'Z'
    >>> deid.action(0x0010, 0x1010, options=["retain-patient-characteristics"])  # Age
    'K'
    >>> deid.action(0x0019, 0x1023, "gems_acqu_01", options=["retain-safe-private"])
    'K'

This is the profile's instruction for one element, not a verdict that a data set is
de-identified: burned-in text, free-text values and unknown private elements still need a person.

The rules, as `action` applies them:

- a public attribute takes the action its entry's facts give, with the given options applied (an
  option's action replaces the basic one where the option has one); a public tag of one of the
  table's masks ((50xx,xxxx), (60xx,3000), (60xx,4000)) that no entry holds takes the mask's;
  a public attribute the profile does not list is None (the profile keeps it);
- every private element is "X" under the Basic Profile. With "retain-safe-private", an element
  that Table E.3.10-1 lists (its entry is marked, matched with its creator in any case and
  spacing, as `tagatlas.elements.find_element` matches) is "K" and any other "X": the table's "C"
  for private attributes means exactly this. A private creator element (gggg,0010-00FF) is "K"
  when its creator has a safe element in that group, else "X";
- a dictionary without the facts (`has_facts` False) gives None for every element.

The codes (Table E.1-1a, in the Standard's words; `CODES` holds them):

- D: replace with a non-zero length value that may be a dummy value and consistent with the VR
- Z: replace with a zero length value, or a non-zero length value that may be a dummy value and
  consistent with the VR
- X: remove Attribute, and if the Attribute is a Sequence, remove all Sequence Items and their
  contained Attributes
- K: keep (unchanged for non-Sequence Attributes, cleaned for Sequences)
- C: clean, that is replace with values of similar meaning known not to contain identifying
  information and consistent with the VR
- U: replace with a non-zero length UID that is internally consistent within a set of Instances
- Z/D: Z unless D is required to maintain IOD conformance (Type 2 versus Type 1)
- X/Z: X unless Z is required to maintain IOD conformance (Type 3 versus Type 2)
- X/D: X unless D is required to maintain IOD conformance (Type 3 versus Type 1)
- X/Z/D: X unless Z or D is required to maintain IOD conformance (Type 3 versus Type 2 versus
  Type 1)
- X/Z/U*: X unless Z or replacement of contained instance UIDs (U) is required to maintain IOD
  conformance (Type 3 versus Type 2 versus Type 1 sequences containing UID references)
"""

from __future__ import annotations

import os
from collections.abc import Iterable

from ._deid_table import table
from ._dicom.model import is_private_group
from .description import read_deid
from .elements import find_element, same_creator

__all__ = ["action", "has_facts", "Profile", "OPTIONS", "CODES", "SAFE_PRIVATE"]

SAFE_PRIVATE = "retain-safe-private"

# Declared for type checkers; read from the package's tables on first access (__getattr__).
OPTIONS: tuple[str, ...]
CODES: dict[str, str]

_KEEP = 1 << 12  # creators remembered per Profile; they come from the data


def check_options(options: Iterable[str]) -> frozenset[str]:
    """The option names as a set; ValueError for an unknown name and for two options whose
    actions differ for some attribute (the two longitudinal options; device identity and modified
    dates, where the Standard does not say which wins)."""
    if isinstance(options, str):
        raise TypeError("options is a sequence of option names, not a str")
    t = table()
    names = frozenset(options)
    for name in sorted(names):
        if name not in t.options:
            raise ValueError(
                f"unknown de-identification option {name!r}; known: {', '.join(t.options)}"
            )
    for (a, b), n in t.conflicts.items():
        if a in names and b in names:
            raise ValueError(
                f"options {a!r} and {b!r} cannot be combined: they give different actions "
                f"for {n} attributes"
            )
    return names


def _open(dictionary):
    if dictionary is None:
        from ._bundled import open_default

        return open_default()
    if isinstance(dictionary, (str, bytes, os.PathLike)):
        from ._tagatlas import open as open_dict

        return open_dict(dictionary)
    return dictionary


class Profile:
    """The facts of one dictionary (a `.tatl` path, a `Dict`, None for the bundled one), to ask
    about many elements; `action` and `has_facts` make one per call."""

    def __init__(self, dictionary=None) -> None:
        self.dict = _open(dictionary)
        self.has_facts = self._probe()
        self._safe_creators: dict[tuple[int, str], bool] = {}

    def _probe(self) -> bool:
        """Whether any entry that a build with the facts marks carries them. Patient's Name,
        in almost every dictionary, comes first, so a dictionary with the facts answers at once."""
        t, d = table(), self.dict
        tags = [(0x0010, 0x0010), *t.exact]
        for group, element in tags:
            entry = d.lookup(group, element)
            if entry is not None and read_deid(entry["description"]) is not None:
                return True
        for group, element, _block, creator in t.safe_private:
            entry = d.lookup(group, element, creator)
            if entry is not None and read_deid(entry["description"]) is not None:
                return True
        return False

    def codes(self, group: int, element: int, creator: str | None = None):
        """(basic action, {option: action}) for the element as a file carries it, with only the
        options that change the basic action; None when the profile does not list it or the
        dictionary has no facts."""
        if not self.has_facts:
            return None
        if is_private_group(group):
            return "X", ({SAFE_PRIVATE: "K"} if self._safe(group, element, creator) else {})
        entry = self.dict.lookup(group, element)
        facts = None if entry is None else read_deid(entry["description"])
        if facts is not None:
            return facts[0], dict(facts[1])
        rule = table().rule_for(group, element)
        if rule is None:
            return None
        basic, options = rule
        return basic, {name: code for name, code in options.items() if code != basic}

    def entry_codes(self, entry: dict):
        """`codes` for an entry as `Dict.lookup` gives it (a private one by its creator)."""
        if not self.has_facts:
            return None
        if entry["creator"]:
            return "X", ({SAFE_PRIVATE: "K"} if _marked_safe(entry) else {})
        facts = read_deid(entry["description"])
        if facts is not None:
            return facts[0], dict(facts[1])
        return self.codes(entry["group"], entry["element"])

    def action(
        self, group: int, element: int, creator: str | None = None, *, options: Iterable[str] = ()
    ) -> str | None:
        """The action for the element under the Basic Profile with `options`; see the module."""
        return self._apply(self.codes(group, element, creator), check_options(options))

    @staticmethod
    def _apply(codes, options: frozenset[str]) -> str | None:
        if codes is None:
            return None
        basic, changed = codes
        # Options given together agree wherever both have an action (check_options), so the
        # first that has one decides.
        return next((code for name, code in changed.items() if name in options), basic)

    def _safe(self, group: int, element: int, creator: str | None) -> bool:
        if creator is None:
            return False
        if 0x0010 <= element <= 0x00FF:
            return self._creator_has_safe(group, creator)
        if element < 0x1000:
            return False  # outside every block: not an element of the creator
        found = find_element(self.dict, group, element, creator)
        return found is not None and _marked_safe(found.entry)

    def _creator_has_safe(self, group: int, creator: str) -> bool:
        key = (group, creator)
        known = self._safe_creators.get(key)
        if known is None:
            known = False
            for low in range(0x100):
                entry = self.dict.lookup(group, low, creator)
                if (
                    entry is not None and entry["block_offset"]
                    and same_creator(entry["creator"], creator) and _marked_safe(entry)
                ):  # fmt: skip
                    known = True
                    break
            if len(self._safe_creators) >= _KEEP:
                self._safe_creators.clear()
            self._safe_creators[key] = known
        return known


def _marked_safe(entry: dict) -> bool:
    facts = read_deid(entry["description"])
    return facts is not None and (SAFE_PRIVATE, "K") in facts[1]


_bundled: Profile | None = None


def _profile(dictionary) -> Profile:
    global _bundled
    if dictionary is not None:
        return Profile(dictionary)
    if _bundled is None:
        # The bundled file never changes while a process runs.
        _bundled = Profile()
    return _bundled


def action(
    group: int, element: int, creator: str | None = None, *, options: Iterable[str] = (),
    dictionary=None,
) -> str | None:  # fmt: skip
    """The profile's action code for data element (group, element) as a file carries it.

    A private element is given as (gggg,10ee) with its block's `creator` (any case and spacing),
    a creator element (gggg,00xx) with the creator it names. `options` are option names
    (`OPTIONS`); an unknown name and two options that conflict are a ValueError. `dictionary` is
    a `.tatl` path or a `Dict`, None for the bundled one. Returns the code ("X", "Z", "X/Z/D",
    "K", "C", ...), or None for an element the profile does not list and for every element of a
    dictionary without the facts.
    """
    names = check_options(options)
    profile = _profile(dictionary)
    return profile._apply(profile.codes(group, element, creator), names)


def has_facts(dictionary=None) -> bool:
    """Whether the dictionary (a path, a `Dict`, None for the bundled one) carries the facts."""
    return _profile(dictionary).has_facts


def __getattr__(name: str) -> object:
    if name == "OPTIONS":
        return table().options
    if name == "CODES":
        return dict(table().codes)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
