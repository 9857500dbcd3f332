"""`tagatlas explain INPUT [--json] [--private-only] [--dict FILE]`: every element of DICOM data.

INPUT is a DICOM file (read with pydicom, the `dicom` extra) or DICOM JSON; input that is neither,
or a DICOM file without pydicom installed, gives one line on stderr and status 2.
"""

from __future__ import annotations

import argparse
import sys

from .command import EXIT_OK, CommandError, dictionary_error

_UNKNOWN = {
    "tag": "<unknown tag>",
    "no creator": "<unknown: no creator element for its block>",
    "creator": "<unknown creator>",
    "element": "<unknown element of its creator>",
}


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("input", metavar="INPUT", help="a DICOM file or a DICOM JSON document")
    p.add_argument("--json", action="store_true", help="print one JSON object per element")
    p.add_argument("--private-only", action="store_true", help="private elements only")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")


def _notes(r) -> str:
    return ", ".join((["retired"] if r.retired else []) + (["VR differs"] if r.vr_differs else []))


# The text output's columns: each header and how it shows an `Explained` row. (--json gives
# every field of the row as it is.)
COLUMNS = (
    ("PATH", lambda r: r.path),
    ("VR", lambda r: r.vr or "-"),
    ("DICT VR", lambda r: r.dictionary_vr or "-"),
    ("KEYWORD", lambda r: r.keyword),
    ("NAME", lambda r: r.name if r.unknown is None else _UNKNOWN[r.unknown]),
    ("CREATOR", lambda r: r.creator or ""),
    ("SOURCES", lambda r: ",".join(r.sources)),
    ("NOTES", _notes),
)


def _explain_row(r) -> list[str]:
    return [show(r) for _, show in COLUMNS]


def run(args: argparse.Namespace) -> int:
    from .._dicom.dicom_file import PydicomMissingError
    from ..explain import ExplainError, explain
    from ..naming import Namer
    from .output import columns, terminal_width, wrapped, write_json, write_lines

    try:
        namer = Namer(args.dict)
    except (OSError, ValueError) as e:
        raise dictionary_error(e, args.dict) from None
    try:
        rows = explain(args.input, namer, private_only=args.private_only)
    except OSError as e:
        raise CommandError(f"cannot read {args.input}: {e.strerror or e}") from None
    except (ExplainError, PydicomMissingError) as e:
        raise CommandError(str(e)) from None
    if args.json:
        write_json(sys.stdout, [r._asdict() for r in rows], one_per_line=True)
        return EXIT_OK
    if not rows:
        return EXIT_OK
    lines = columns([header for header, _ in COLUMNS], map(_explain_row, rows))
    width, out = terminal_width(), lines[:1]
    for line, row in zip(lines[1:], rows):
        out.append(line)
        if row.text:
            out += wrapped(row.text, width)
    write_lines(sys.stdout, out)
    return EXIT_OK
