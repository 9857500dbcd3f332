"""The one merge of dictionary sources: one entry per lookup key, each field from its ranked source.

A lookup key is (group, element, creator hash); the element of a private entry at or below 0xFF is
a block offset, whatever the source wrote (`block_offset` is set here for any source that did not:
a file carries such an element in the creator's block, and an exact entry there is unreachable).

For each field there is one rank of sources (`Ranks`; the build's come from
`importers.sources`), and the first source in that rank whose value is *firm* gives the field:

- name: "", "?", "??" and the like, and "Unknown" are placeholders; GDCM's guesses written
  "?like this?" are not firm either. A firm name wins; failing one, a guess keeps its text and the
  facts line says `; guess`; failing that, a placeholder stays, the first in the rank of the
  pseudo-field "placeholder" (which says nothing either way; the registry keeps pydicom's, so that
  answers change only where a source says more);
- keyword: "", "?" and "Unknown" are placeholders. Names are never made from keywords, nor the
  reverse;
- VR: a single VR, or "??" with a choice ("US or SS", "NONE") in the facts line; "??" alone states
  nothing. A registry source (`Ranks.registries`) is taken as it states VR and VM on its keys;
- VM: non-empty; retired: from the first source of its rank holding the key;
- descriptive text: non-empty; mask: a public entry's from the first source of the name rank (the
  registry says what repeats), a private entry's from the first that has one (GDCM lists masked
  groups one by one, which says nothing against the mask);
- creator spelling: from the first source of the name rank; `sources` lists every source holding
  the key in that order.

Then the two forms of one private element are joined: an exact entry (gggg,10ee) and the block
entry (gggg,xxee) of the same creator answer with the firm name whichever a lookup finds first
(`elements.find_element` tries the exact one first). The exact entry takes the block entry's firm
name when it has none; the block entry takes the exact entry's only when the creator's exact
entries in that group all lie in one block, since a vendor that defines (gggg,10ee) and
(gggg,11ee) differently (PHILIPS MR/PART) gives the block form no single meaning. Exact entries are
kept: they are what a lookup finds first.

A public mask wider than the importers expand stands for its exact tags of lower-ranked sources
(as in `build`). The report (`MergeReport`) counts, per source, the entries taken, the entries it
gave at least one field of, its firm values that lost to another source's, and its placeholder or
guessed names that a firm name replaced.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field, replace

from ._format.creator import canonicalize_creator
from ._format.vr import UNKNOWN_VR
from .description import format_description, is_guess, mask_matches, parse_description
from .importers.ranges import MAX_EXPANSION, mask_spread
from .importers.result import ImportResult, entry_key
from .writer import Entry

FIELDS = ("name", "keyword", "vr", "vm", "retired", "text")
_PLACEHOLDERS = frozenset({"", "unknown"})


def is_placeholder(text: str) -> bool:
    """Whether a name or keyword says nothing: "", "Unknown", or question marks alone."""
    t = text.strip()
    return t.lower() in _PLACEHOLDERS or set(t) <= {"?"}


def is_guess_name(text: str) -> bool:
    """Whether a name is a guess written "?like this?" (GDCM's way)."""
    t = text.strip()
    return len(t) > 2 and t[0] == t[-1] == "?" and not is_placeholder(t)


def is_firm(text: str) -> bool:
    return not is_placeholder(text) and not is_guess_name(text)


@dataclass(frozen=True)
class Ranks:
    """Per field, the source names in the order their values are taken; unlisted sources follow,
    in the order of the imports. `registries` are sources whose VR and VM stand as stated."""

    public: Sequence[str] = ()
    private: Mapping[str, Sequence[str]] = field(default_factory=dict)
    registries: frozenset[str] = frozenset()


@dataclass
class SourceCounts:
    taken: int = 0  # entries the importer gave
    added: int = 0  # merged entries that have at least one field from this source
    lost: int = 0  # firm values of this source that another source's value beat
    names_replaced: int = 0  # placeholder or guessed names of this source a firm name replaced


@dataclass
class MergeReport:
    sources: dict[str, SourceCounts] = field(default_factory=dict)
    made_block_offsets: int = 0  # private entries at or below 0xFF that a source stored exactly
    names_from_other_form: int = 0  # names an exact or block entry took from the other form
    guesses: int = 0  # entries whose only name is a guess, marked `; guess`
    block_specific: int = 0  # (creator, group) pairs whose exact entries span several blocks


@dataclass
class Merged:
    entries: list[Entry]
    report: MergeReport


@dataclass
class _Held:
    source: str
    entry: Entry
    facts: tuple  # parse_description(entry.description)


def _as_block(entry: Entry) -> Entry:
    if entry.creator is not None and entry.element <= 0xFF and not entry.block_offset:
        return replace(entry, block_offset=True)
    return entry


def _order(held: list[_Held], rank: Sequence[str] | None, position: Mapping[str, int]) -> list[_Held]:
    if rank is None:
        return held
    where = {name: i for i, name in enumerate(rank)}
    return sorted(held, key=lambda h: (where.get(h.source, len(where)), position[h.source]))


def _states_vr(h: _Held) -> bool:
    return h.entry.vr != UNKNOWN_VR or h.facts.vr is not None


def _vr_of(h: _Held) -> tuple[str, str | None]:
    """The stored VR and, for "??", the choice the facts line gives."""
    return h.entry.vr, (h.facts.vr if h.entry.vr == UNKNOWN_VR else None)


class _Merger:
    def __init__(self, imports: Sequence[ImportResult], ranks: Ranks | None) -> None:
        self.ranks = ranks
        self.position = {r.source: i for i, r in enumerate(imports)}
        self.report = MergeReport({r.source: SourceCounts(len(r.entries)) for r in imports})

    def rank(self, public: bool, name: str) -> Sequence[str] | None:
        if self.ranks is None:
            return None
        return self.ranks.public if public else self.ranks.private.get(name, ())

    def pick(self, held: list[_Held], name: str, firm, value) -> tuple[_Held, object]:
        """The first firm value of a field in its rank; counts the firm values that lost."""
        ordered = _order(held, self.rank(held[0].entry.creator is None, name), self.position)
        winner = next((h for h in ordered if firm(h)), None)
        chosen = value(winner) if winner is not None else None
        if winner is not None:
            for h in ordered:
                if h is not winner and firm(h) and value(h) != chosen:
                    self.report.sources[h.source].lost += 1
        return winner, chosen

    def join(self, held: list[_Held]) -> Entry:
        public = held[0].entry.creator is None
        names = _order(held, self.rank(public, "name"), self.position)
        top = names[0]
        if len(held) == 1 and (public or is_firm(top.entry.name) or not top.entry.name):
            self.report.sources[top.source].added += 1
            return top.entry
        gave: set[str] = set()
        registry = next(
            (h for h in held if self.ranks is not None and h.source in self.ranks.registries), None
        )  # fmt: skip

        def take(name, firm, value, fallback):
            winner, chosen = self.pick(held, name, firm, value)
            if winner is None:
                return fallback
            gave.add(winner.source)
            return chosen

        name = take("name", lambda h: is_firm(h.entry.name), lambda h: h.entry.name, None)
        guess = False
        if name is None:
            ordered = _order(held, self.rank(public, "name"), self.position)
            guessed = next((h for h in ordered if is_guess_name(h.entry.name)), None)
            ordered = _order(held, self.rank(public, "placeholder"), self.position)
            kept = guessed or ordered[0]
            name = kept.entry.name
            guess = guessed is not None
            gave.add(kept.source)
        else:
            for h in held:
                if h.entry.name and not is_firm(h.entry.name) and h.entry.name != name:
                    self.report.sources[h.source].names_replaced += 1
        keyword = take("keyword", lambda h: not is_placeholder(h.entry.keyword),
                       lambda h: h.entry.keyword, None)  # fmt: skip
        if keyword is None:
            ordered = _order(held, self.rank(public, "keyword"), self.position)
            keyword = next((h.entry.keyword for h in ordered if h.entry.keyword), "")
        if registry is not None:
            vr, vm = _vr_of(registry), registry.facts.vm
            gave.add(registry.source)
        else:
            vr = take("vr", _states_vr, _vr_of, (UNKNOWN_VR, None))
            vm = take("vm", lambda h: bool(h.facts.vm), lambda h: h.facts.vm, "")
        retired = take("retired", lambda h: True, lambda h: h.entry.retired, top.entry.retired)
        text = take("text", lambda h: bool(h.facts.text), lambda h: h.facts.text, "")
        mask = top.facts.mask if public else next((h.facts.mask for h in names if h.facts.mask), None)
        for source in gave:
            self.report.sources[source].added += 1
        return replace(
            top.entry,
            keyword=keyword,
            name=name,
            vr=vr[0],
            description=format_description(vm, vr[1], mask, text, guess),
            retired=retired,
            sources=tuple(dict.fromkeys(h.source for h in names)),
        )


def _wide_mask(entry: Entry) -> str | None:
    """The mask of a public entry that stands for more tags than are stored one by one."""
    if entry.creator is not None:
        return None
    mask = parse_description(entry.description).mask
    return mask if mask is not None and mask_spread(mask) > MAX_EXPANSION else None


def _join_forms(entries: list[Entry], report: MergeReport) -> list[Entry]:
    """Shares firm names between the exact and block forms of one creator's element."""
    blocks: dict[tuple[str, int, int], int] = {}
    highs: dict[tuple[str, int], set[int]] = {}
    exact: list[int] = []
    canonical: dict[str, str] = {}
    for i, e in enumerate(entries):
        if e.creator is None:
            continue
        c = canonical.setdefault(e.creator, canonicalize_creator(e.creator))
        if e.block_offset:
            blocks[c, e.group, e.element] = i
        else:
            highs.setdefault((c, e.group), set()).add(e.element >> 8)
            exact.append(i)
    specific = {k for k, v in highs.items() if len(v) > 1}
    report.block_specific = len(specific)
    out = list(entries)
    for i in exact:
        e = entries[i]
        c = canonical[e.creator]
        j = blocks.get((c, e.group, e.element & 0xFF))
        if j is None:
            continue
        b = entries[j]
        if not is_firm(e.name) and is_firm(b.name):
            out[i] = _named(e, b.name)
            report.names_from_other_form += 1
        elif is_firm(e.name) and not is_firm(b.name) and (c, e.group) not in specific:
            out[j] = _named(out[j], e.name)
            report.names_from_other_form += 1
    return out


def _named(entry: Entry, name: str) -> Entry:
    facts = parse_description(entry.description)
    return replace(
        entry, name=name,
        description=format_description(facts.vm, facts.vr, facts.mask, facts.text),
    )  # fmt: skip


def merge_sources(imports: Sequence[ImportResult], ranks: Ranks | None = None) -> Merged:
    """Joins the importers' entries (rules in the module docstring), sorted by key.

    Without `ranks` the order of `imports` is the rank of every field.
    """
    merger = _Merger(imports, ranks)
    by_key: dict[tuple[int, int, int], list[_Held]] = {}
    wide: list[tuple[str, _Held]] = []  # masks of the sources merged so far
    public_order = list(ranks.public) if ranks is not None else []
    ordered = sorted(
        imports,
        key=lambda r: (public_order.index(r.source) if r.source in public_order else len(public_order),
                       merger.position[r.source]),
    )  # fmt: skip
    for result in ordered:
        for raw in result.entries:
            entry = _as_block(raw)
            if entry is not raw:
                merger.report.made_block_offsets += 1
            held = by_key.setdefault(entry_key(entry), [])
            if not held and entry.creator is None:
                cover = next(
                    (h for mask, h in wide if mask_matches(mask, entry.group, entry.element)), None
                )  # fmt: skip
                if cover is not None:
                    moved = replace(cover.entry, group=entry.group, element=entry.element)
                    held.append(_Held(cover.source, moved, cover.facts))
            held.append(_Held(result.source, entry, parse_description(entry.description)))
        wide += [
            (mask, _Held(result.source, e, parse_description(e.description)))
            for e in result.entries if (mask := _wide_mask(e)) is not None
        ]  # fmt: skip
    entries = [merger.join(_dedupe(held)) for _, held in sorted(by_key.items())]
    entries = _join_forms(entries, merger.report)
    merger.report.guesses = sum(1 for e in entries if is_guess(e.description))
    return Merged(entries, merger.report)


def _dedupe(held: list[_Held]) -> list[_Held]:
    """One holding per source: a source that wrote a key twice (exactly and as a block offset)
    keeps its first."""
    seen: set[str] = set()
    out = []
    for h in held:
        if h.source not in seen:
            seen.add(h.source)
            out.append(h)
    return out
