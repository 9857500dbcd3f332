"""Adding the de-identification facts to a dictionary's entries, as `tagatlas build --deid` does.

The facts come from the package's tables (`tagatlas._deid_table`, extracted from PS3.15), so a
build needs no copy of the Standard. Each public entry that Table E.1-1 lists, by its tag or by
one of the table's masks, gets `; deid {basic}` and `; {option} {action}` for each option whose
action differs from the basic one in its facts line (`tagatlas.description`); each private entry
that Table E.3.10-1 lists (in the same form, block offset or full element, creator matched in
any case and spacing) gets
`; deid X; retain-safe-private K`. Other private entries need no facts: the private attributes'
rule answers for them (`tagatlas.deid`).
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, replace

from ._deid_table import table
from ._format.creator import canonicalize_creator
from .description import format_description, is_guess, parse_description
from .writer import Entry

__all__ = ["DeidReport", "add_deid_facts"]

_SAFE = ("X", (("retain-safe-private", "K"),))


@dataclass(frozen=True)
class DeidReport:
    """How many entries got facts, and which safe private attributes the entries lack."""

    edition: str
    listed: int  # public entries listed by their own tag
    masked: int  # public entries inside one of the table's masks
    safe: int  # private entries of Table E.3.10-1
    safe_missing: tuple[tuple[int, int, bool, str], ...]  # Table E.3.10-1 rows no entry holds


def _facts(basic: str, options: dict[str, str], order: Sequence[str]):
    return basic, tuple((n, options[n]) for n in order if n in options and options[n] != basic)


def add_deid_facts(entries: Sequence[Entry]) -> tuple[list[Entry], DeidReport]:
    """The entries with the facts added to the ones the tables list, in the same order."""
    t = table()
    safe = {(g, e, b, canonicalize_creator(c)) for g, e, b, c in t.safe_private}
    found_safe: set[tuple[int, int, bool, str]] = set()
    listed = masked = 0
    out = []
    for entry in entries:
        deid = None
        if entry.creator is None:
            codes = t.exact.get((entry.group, entry.element))
            if codes is not None:
                listed += 1
            else:
                codes = t.rule_for(entry.group, entry.element)
                masked += codes is not None
            if codes is not None:
                deid = _facts(*codes, t.options)
        else:
            key = (
                entry.group, entry.element, entry.block_offset, canonicalize_creator(entry.creator)
            )  # fmt: skip
            if key in safe:
                found_safe.add(key)
                deid = _SAFE
        if deid is not None:
            f = parse_description(entry.description)
            description = format_description(
                f.vm, f.vr, f.mask, f.text, is_guess(entry.description), deid=deid
            )
            entry = replace(entry, description=description)
        out.append(entry)
    missing = tuple(
        s for s in t.safe_private if (*s[:3], canonicalize_creator(s[3])) not in found_safe
    )
    return out, DeidReport(t.edition, listed, masked, len(found_safe), missing)
