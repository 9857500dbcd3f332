"""One descriptive text per attribute from the wordings of the tables that use it.

The DICOM Standard describes an attribute anew in each module or macro table that holds it, and
the wordings differ: a module adds when the attribute is required, how many Items its Sequence
holds there, or a pointer to its own section; a few tables reword the description itself. The
choice rule:

1. Each wording is cleaned to plain text (`standard_html`) and reduced to its *general part*: the
   wording without the sentences that belong to one table's use of the attribute (the list below).
2. If at least one wording's general part is non-empty, the candidates are the non-empty general
   parts; otherwise the full wordings (a text made only of such sentences is still better than
   none).
3. The candidates vote. Two candidates are the same wording when they differ only in case, in
   whitespace, or in a full stop at the end of a line. Each table votes once for each wording it
   has, so a table that holds the attribute at several places in its nesting counts once.
4. The wording with most votes wins; on a tie the shortest, then the lexicographically first.
   Except where the tables agree on the lead (a wording's first line) more than on any whole
   wording: then the lead with most votes is chosen first (on a tie the shortest, then the
   lexicographically first), and among the wordings with that lead, one that more than half of
   the lead's tables use wins, else the shortest (then the lexicographically first). That keeps
   an attribute that many tables describe with one lead sentence and a list of values of their
   own (Modality: "Type of equipment that originally acquired the data used to create the
   images in this Series.", then each module's Enumerated Values) from going to whichever table's
   whole wording happens to be shortest or used twice; the shortest wording of the lead is the
   one closest to what all of them share.
5. Of the spellings of the winning wording (which differ only in case and full stops), the text is
   the longest (the one that keeps its full stops), then the most frequent, then the
   lexicographically first.

    >>> from tagatlas.importers.standard_html import cell_blocks
    >>> choose([("patient", cell_blocks("<p>Patient's full name.</p>")),
    ...         ("study", cell_blocks("<p>Patient's full name</p><p>Required if X.</p>")),
    ...         ("macro", cell_blocks("<p>Name of the patient.</p>"))])
    Choice(text="Patient's full name.", wordings=2)

Sentences that belong to one table's use (matched at the start of a sentence, in any case):

- conditions of presence: "Required if ..." (also "Required for", "when", "unless", "only",
  "as described", "Required, if"), "May be present ...", "Shall be present ...", "Shall not be
  present ...", "Should not be included ...", "This Attribute shall not be present ...",
  "Otherwise may be present ..." (and "Otherwise, required", "Otherwise not used"),
  "If required by ...", "Used only if ...";
- the number of Items of a Sequence in that table: "One or more Items shall be included in this
  Sequence.", "Only a single Item is permitted ...", "Zero or one Item ...", and the like;
- pointers into the text around the table: a sentence starting "See" that names a Section, Note,
  Figure or section number ("See Section C.7.6.1.1.2.", "See C.8.31.1.1 for Defined Terms.",
  "See Note 2."). Most lead to the module's own section, and none means anything without the
  Standard's text at hand. A "See" naming a Part ("See PS3.4 ...") or a standard outside DICOM
  is kept: it reads the same wherever the attribute is used.

Constraints on the value ("Shall be unique within the Sequence.") are kept: they hold wherever the
attribute is used. A sentence ends at ".", "!" or "?" before a capital letter, or before a "See"
whose full stop the text lacks; dropped sentences take a list item or note with them when
nothing else is left in it.
"""

from __future__ import annotations

import re
from collections import Counter
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, replace

from .standard_html import Block, render

__all__ = ["Choice", "choose", "general_blocks", "is_table_specific", "same_wording"]

# Where a sentence ends: ".", "!" or "?" before a capital (with or without the space the
# Standard's text sometimes lacks), and before a "See" whose full stop is missing.
_SENTENCE_END = re.compile(r"(?<=[.!?])\s+(?=[A-Z(\"“])|(?<=[a-z]\.)(?=[A-Z][a-z])|\s+(?=See\s)")

_TABLE_SPECIFIC = re.compile(
    r"""
    (?:
        required,?\s+(?:if|for|when|unless|only|as\s+described)\b
      | may\s+be\s+present\b
      | (?:this\s+attribute\s+)?(?:shall|should)\s+(?:not\s+)?be\s+(?:present|included|absent)\b
      | otherwise,?\s+(?:may|shall|required|not\s+used)\b
      | if\s+required\s+by\b
      | used\s+only\s+if\b
      # the number of Items of a Sequence
      | (?:zero|one|two|only|exactly|a\s+single|at\s+least|at\s+most|no\s+more\s+than|\d+)\b
        .{0,40}?\bitems?\s*(?:shall|may|are|is)\b.{0,20}?\b(?:included|present|permitted)\b
      # a pointer into the table's own section
      | see\b(?=[^.]*?(?:\b(?:sections?|notes?|figures?)\b|\b[A-Z]\.\d))
    )
    """,
    re.IGNORECASE | re.VERBOSE,
)


def is_table_specific(sentence: str) -> bool:
    """Whether a sentence belongs to one table's use of an attribute (list in the docstring)."""
    return _TABLE_SPECIFIC.match(sentence) is not None


def _general_text(text: str) -> str:
    """The text without its table-specific sentences; what is kept keeps its own spacing."""
    kept = []
    start = 0
    for end in _SENTENCE_END.finditer(text):
        sentence = text[start : end.start()]
        if not is_table_specific(sentence):
            kept.append(sentence + end.group())
        start = end.end()
    if not is_table_specific(text[start:]):
        kept.append(text[start:])
    return "".join(kept).strip().rstrip(",;").rstrip()


def general_blocks(blocks: Sequence[Block]) -> list[Block]:
    """The blocks without their table-specific sentences; emptied paragraphs and items go.

    Defined terms are kept whole: their definitions explain values, not a table's use.
    """
    out = []
    for block in blocks:
        if block.kind == "dl":
            out.append(block)
            continue
        text = _general_text(block.text)
        if text:
            out.append(block if text == block.text else replace(block, text=text))
    return out


def same_wording(text: str) -> str:
    """The form in which wordings are compared: lower case, no line-end full stop, single spaces."""
    lines = (" ".join(line.split()).rstrip(".").rstrip() for line in text.casefold().split("\n"))
    return "\n".join(line for line in lines if line)


@dataclass(frozen=True)
class Choice:
    """The chosen text ("" when no wording has any) and how many distinct wordings competed."""

    text: str
    wordings: int


def choose(cells: Iterable[tuple[str, Sequence[Block]]]) -> Choice:
    """Chooses the text of one attribute from its table cells (rules in the module docstring).

    `cells` holds (table id, the cell's blocks from `standard_html.cell_blocks`) for each table
    row describing the attribute; the table id says which module or macro the row is from.
    """
    cells = list(cells)
    full = {(table, render(blocks)) for table, blocks in cells}
    general = {(table, render(general_blocks(blocks))) for table, blocks in cells}
    candidates = {c for c in general if c[1]} or {c for c in full if c[1]}
    if not candidates:
        return Choice("", 0)

    # One vote per table and wording; the spellings of a wording counted the same way.
    votes: Counter[str] = Counter()
    spellings: dict[str, Counter[str]] = {}
    for _, text in candidates:
        wording = same_wording(text)
        spellings.setdefault(wording, Counter())[text] += 1
    for wording in {(table, same_wording(text)) for table, text in candidates}:
        votes[wording[1]] += 1

    def spelling(wording: str) -> str:
        counts = spellings[wording]
        return min(counts, key=lambda s: (-len(s), -counts[s], s))

    def lead(wording: str) -> str:
        return wording.split("\n", 1)[0]

    # One vote per table and lead, as for wordings.
    lead_votes = Counter(first for _, first in {(t, lead(same_wording(x))) for t, x in candidates})
    top = min(lead_votes, key=lambda first: (-lead_votes[first], len(first), first))
    if lead_votes[top] <= max(votes.values()):
        best = min(votes, key=lambda w: (-votes[w], len(spelling(w)), spelling(w)))
    else:
        group = [w for w in votes if lead(w) == top]
        majority = [w for w in group if 2 * votes[w] > lead_votes[top]]
        # A table with two wordings of one lead votes for both, so two can pass half.
        best = min(majority or group, key=lambda w: (-votes[w] if majority else 0,
                                                     len(spelling(w)), spelling(w)))  # fmt: skip
    return Choice(spelling(best), len(votes))
