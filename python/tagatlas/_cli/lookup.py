"""`tagatlas lookup GGGG,EEEE [--creator TEXT] [--dict FILE] [--json]`: one element's entry.

A private data element is written in files with its full element, (0019,100C), but dictionaries
hold most private tags by their block offset, the element's low byte, because the high byte only
says which block the creator was given. So when the full element of an odd group finds nothing,
`lookup` tries the low byte, as DICOM readers do, and says which form matched: "full element
(0019,100C)", "block offset (0019,xx0C)" for an entry stored by its block offset, or "block offset
(0019,xx0C) of (0019,100C)" when the full element was given and only the block offset matched.
Without `--dict` the bundled dictionary answers; exit status 1 when no entry matches. The `deid:`
line (JSON "deid") gives the de-identification facts (`_cli.deid`).
"""

from __future__ import annotations

import argparse
import re
import sys

from .._dicom.tag import tag_text
from .._format.vr import shown_vr
from .command import EXIT_NOT_FOUND, EXIT_OK, CommandError, open_dictionary

_TAG = re.compile(r"\(?\s*([0-9A-Fa-f]{1,4})\s*,\s*([0-9A-Fa-f]{1,4})\s*\)?")


def parse_tag(text: str) -> tuple[int, int]:
    """Reads "GGGG,EEEE" (hex, parentheses optional) into (group, element)."""
    m = _TAG.fullmatch(text.strip())
    if m is None:
        raise argparse.ArgumentTypeError(f"bad tag {text!r}: expected GGGG,EEEE in hex")
    return int(m.group(1), 16), int(m.group(2), 16)


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("tag", type=parse_tag, metavar="GGGG,EEEE")
    p.add_argument("--creator", metavar="TEXT", help="private creator of the tag")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")
    p.add_argument("--json", action="store_true", help="print the entry as JSON")


def _format_entry(entry: dict, matched: str, deid: str = "unknown") -> str:
    from ..description import parse_description
    from .output import terminal_width, visible, wrapped

    facts = parse_description(entry["description"])
    tag = tag_text(entry["group"], entry["element"], entry["block_offset"])
    shown = shown_vr(entry["vr"], facts.vr)
    vr = entry["vr"] if shown == entry["vr"] else f"{entry['vr']} ({shown})"
    rows = [
        ("tag", tag),
        ("keyword", entry["keyword"]),
        ("name", entry["name"]),
        ("vr", vr),
        ("vm", facts.vm),
        ("creator", entry["creator"]),
        ("retired", "yes" if entry["retired"] else "no"),
        ("block offset", "yes" if entry["block_offset"] else "no"),
        ("sources", ", ".join(entry["sources"])),
        ("matched", matched),
        ("deid", deid),
    ]
    if facts.mask is not None:
        rows.insert(1, ("mask", tag_text(0, 0, mask=facts.mask)))
    # Texts of the dictionary file: a control character in them must not reach the terminal.
    lines = [f"{label + ':':<14}{visible(value)}".rstrip() for label, value in rows]
    if facts.text:
        # The descriptive text last, wrapped for the terminal; --json gives it whole.
        lines.append("description:")
        lines += wrapped(facts.text, terminal_width(), indent=" " * 14)
    return "\n".join(lines)


def _find(d, group: int, element: int, creator: str | None, path: str | None):
    """The entry of a data element as a file carries it (full element, then block form)."""
    from ..elements import find_element

    try:
        return find_element(d, group, element, creator)
    except BaseException as e:
        # PanicException derives from BaseException; the class is looked up only when needed.
        import tagatlas

        if isinstance(e, tagatlas.PanicException):
            where = path if path is not None else "the bundled dictionary"
            raise CommandError(f"{where} is damaged: {e}") from None
        raise


def run(args: argparse.Namespace) -> int:
    from ..elements import BLOCK_OFFSET, tries_block_form

    group, element = args.tag
    d = open_dictionary(args.dict)
    if args.creator is not None:
        try:
            args.creator.encode("utf-8")
        except UnicodeEncodeError:
            raise CommandError(f"--creator {args.creator!r} is not valid UTF-8") from None
    full = tag_text(group, element)
    found = _find(d, group, element, args.creator, args.dict)
    if found is None:
        tried = [full]
        # Private data elements live at (gggg,xxEE); dictionaries key most of them by EE alone.
        if tries_block_form(group, element, args.creator):
            tried.append(tag_text(group, element & 0xFF, True))
        creator = f" with creator {args.creator!r}" if args.creator is not None else ""
        message = f"no entry for {' or '.join(tried)}{creator}"
        if args.json:
            print("null")
            print(message, file=sys.stderr)
        else:
            print(message)
        return EXIT_NOT_FOUND
    entry = found.entry
    if found.form != BLOCK_OFFSET:
        matched = f"full element {full}"
    elif element > 0xFF:
        matched = f"block offset {tag_text(group, element & 0xFF, True)} of {full}"
    else:
        matched = f"block offset {tag_text(group, element, True)}"
    from .deid import lookup_facts, profile_of

    deid_line, deid_json = lookup_facts(profile_of(d, args.dict), entry)
    if args.json:
        from .output import write_json

        # Valid JSON whatever the output's encoding holds.
        write_json(sys.stdout, {**entry, "matched": found.form, "deid": deid_json})
    else:
        print(_format_entry(entry, matched, deid_line))
    return EXIT_OK
