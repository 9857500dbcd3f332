"""`tagatlas explain INPUT [--json] [--private-only] [--deid [--deid-option NAME]...] [--dict FILE]`.

Names every element of DICOM data. `--deid` adds each element's de-identification action (a DEID
column, a "deid" key in JSON) and a closing summary (`_cli.deid`).

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
    p.add_argument("--deid", action="store_true",
                   help="add each element's de-identification action and a summary")  # fmt: skip
    p.add_argument("--deid-option", action="append", metavar="NAME",
                   help="a confidentiality profile option to apply (repeatable)")  # fmt: skip
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
    headers, cells, deid = [h for h, _ in COLUMNS], [_explain_row(r) for r in rows], None
    if args.deid or args.deid_option:
        from . import deid as facts

        options = facts.checked_options(args.deid_option)
        profile = facts.profile_of(namer._dict, args.dict)
        deid = facts.actions(profile, rows, options)
        headers.append("DEID")
        cells = [c + [code or ""] for c, code in zip(cells, deid)]
    if args.json:
        objects = [r._asdict() for r in rows]
        if deid is not None:
            objects = [{**o, "deid": code} for o, code in zip(objects, deid)]
        write_json(sys.stdout, objects, one_per_line=True)
        return EXIT_OK
    if not rows:
        return EXIT_OK
    lines = columns(headers, cells)
    width, out = terminal_width(), lines[:1]
    for line, row in zip(lines[1:], rows):
        out.append(line)
        if row.text:
            out += wrapped(row.text, width)
    if deid is not None:
        out += ["", *facts.summary_lines(profile, rows, deid, options)]
    write_lines(sys.stdout, out)
    return EXIT_OK
