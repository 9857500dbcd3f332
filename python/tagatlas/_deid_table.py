"""The de-identification tables shipped with the package, `data/deid.json`, read on first use.

The file holds what `importers.confidentiality` extracted from PS3.15: the action codes of Table
E.1-1a with the Standard's meaning, the option names in the table's column order, every row of
Table E.1-1 as [tag, name, retired, in IOD, basic action, {option: action}] (tag as eight hex
digits, a mask with "x", or "private" for the private attributes' rule), and the safe private
attributes of Table E.3.10-1 as [group, element, block offset, creator] (the element's low
byte when block offset is true). Builds read it to add the
facts to a dictionary without needing the DocBook; `tagatlas.deid` reads the rules from it.
"""

from __future__ import annotations

import itertools
import json
import os
from collections.abc import Iterable, Mapping

from .description import mask_bits

__all__ = ["Table", "table", "option_conflicts", "PRIVATE_RULE"]

RESOURCE = os.path.join("data", "deid.json")
PRIVATE_RULE = "private"


def option_conflicts(
    options: Iterable[Mapping[str, str]], names: tuple[str, ...]
) -> dict[tuple[str, str], int]:
    """For each pair of option names (in `names` order) whose actions differ for some attribute,
    on how many; `options` holds each attribute's {option: action}."""
    rows = list(options)
    out = {}
    for a, b in itertools.combinations(names, 2):
        n = sum(1 for o in rows if a in o and b in o and o[a] != o[b])
        if n:
            out[(a, b)] = n
    return out


class Table:
    """The shipped tables, taken apart for lookups."""

    def __init__(self, data: dict) -> None:
        self.edition: str = data["edition"]
        self.codes: dict[str, str] = data["codes"]
        self.options: tuple[str, ...] = tuple(data["options"])
        self.rows: list[list] = data["attributes"]
        # Exact tags, as (group, element) -> (basic, {option: action}).
        self.exact: dict[tuple[int, int], tuple[str, dict[str, str]]] = {}
        # Masks as (mask, value bits, care bits, basic, {option: action}).
        self.masks: list[tuple[str, int, int, str, dict[str, str]]] = []
        self.private: tuple[str, dict[str, str]] | None = None
        for tag, _name, _retired, _in_iod, basic, options in self.rows:
            if tag == PRIVATE_RULE:
                self.private = (basic, options)
            elif "x" in tag:
                self.masks.append((tag, *mask_bits(tag), basic, options))
            else:
                self.exact[(int(tag[:4], 16), int(tag[4:], 16))] = (basic, options)
        self.safe_private: list[tuple[int, int, bool, str]] = [
            tuple(s) for s in data["safe_private"]
        ]
        self.conflicts = option_conflicts((r[5] for r in self.rows), self.options)

    def rule_for(self, group: int, element: int) -> tuple[str, dict[str, str]] | None:
        """The (basic, {option: action}) of the mask holding public tag (group, element)."""
        tag = group << 16 | element
        for _mask, value, care, basic, options in self.masks:
            if (tag ^ value) & care == 0:
                return basic, options
        return None


_table: Table | None = None


def table() -> Table:
    """The package's tables, read once per process (the file never changes while it runs)."""
    global _table
    if _table is None:
        path = os.path.join(os.path.dirname(__file__), RESOURCE)
        with open(path, encoding="utf-8") as f:
            _table = Table(json.load(f))
    return _table
