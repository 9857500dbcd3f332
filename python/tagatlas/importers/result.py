"""What an importer produces: one entry per lookup key, and a report of what it left out.

A source can describe one lookup key several times: a line that overrides an earlier one, an exact
tag inside a repeating range, two private creators that differ only in case or spacing (the file's
creator hash cannot tell them apart). Each importer keeps one candidate per key, choosing the way
its source's own lookup does:

1. the candidate that stands for fewer tags wins (an exact tag beats a range that contains it);
2. then the exact element beats the block-offset ("xx") form of a private element;
3. then source order decides: the later line for DCMTK, whose files let later entries override
   earlier ones; the first table entry for pydicom, whose lookups stop at the first match.

The losers are reported as skipped, not silently dropped.
"""

from __future__ import annotations

from dataclasses import dataclass, field

from .._dicom import tag as _tag
from .._format.creator import hash_creator
from ..writer import Entry

EXACT = 0
BLOCK_OFFSET = 1


class SourceError(ValueError):
    """A source file or table that cannot be read as a dictionary; the message names the place."""


@dataclass(frozen=True)
class Candidate:
    """One tag as a source line or table row describes it."""

    entry: Entry
    origin: str  # where it came from, e.g. "dicom.dic:4548"
    spread: int  # how many tags the source line stands for
    form: int = EXACT


@dataclass(frozen=True)
class Skip:
    origin: str
    reason: str


@dataclass
class ImportResult:
    """An importer's output: `entries` holds one entry per key, sorted by key."""

    source: str
    entries: list[Entry] = field(default_factory=list)
    skipped: list[Skip] = field(default_factory=list)


def entry_key(entry: Entry) -> tuple[int, int, int]:
    """The key under which a lookup finds `entry`."""
    return (entry.group, entry.element, hash_creator(entry.creator))


def tag_text(entry: Entry) -> str:
    tag = _tag.tag_text(entry.group, entry.element, entry.block_offset)
    return f"{tag} {entry.creator!r}" if entry.creator is not None else tag


def select(
    source: str, candidates: list[Candidate], skipped: list[Skip], *, later_wins: bool
) -> ImportResult:
    """Keeps the best candidate per key (rules in the module docstring)."""
    best: dict[tuple[int, int, int], tuple[tuple[int, int, int], Candidate]] = {}
    losers: list[tuple[int, Candidate, Candidate]] = []
    for seq, cand in enumerate(candidates):
        rank = (cand.spread, cand.form, -seq if later_wins else seq)
        key = entry_key(cand.entry)
        held = best.get(key)
        if held is None or rank < held[0]:
            if held is not None:
                losers.append((seq, held[1], cand))
            best[key] = (rank, cand)
        else:
            losers.append((seq, cand, held[1]))
    report = list(skipped)
    for _, loser, winner in sorted(losers, key=lambda t: t[0]):
        report.append(Skip(loser.origin, f"{tag_text(loser.entry)} shadowed by {winner.origin}"))
    entries = [cand.entry for _, (_, cand) in sorted(best.items())]
    return ImportResult(source, entries, report)
