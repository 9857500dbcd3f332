"""`tagatlas explain INPUT... [--json|--jsonl] [--summary] [--private-only]
[--deid [--deid-option NAME]...] [--dict FILE]`.

Names every element of DICOM data: DICOM files (read with pydicom, the `dicom` extra) and DICOM
JSON, given as files or as folders, which are walked (`tagatlas._audit` says what is read and what
skipped). With several inputs or a folder each row says its file (a FILE column, a "file" key).
Rows are written as they are made: text one file at a time, its columns at most COLUMN_LIMIT
characters wide (a longer value is cut with "…"; JSON keeps it whole), JSON as one array, JSON
Lines one object a line. `--summary` writes one row per attribute over all inputs instead, then the
counts. `--deid` adds each element's de-identification action (a DEID column, a "deid" key) and a
closing summary of the actions (`_cli.deid`). A progress line shows on stderr when it is a terminal
and the work lasts over a second.

Exit status: 0; 1 when a file found in a folder could not be read; 2, with one line on stderr for
each, when a file given could not be explained (missing, not a regular file, neither DICOM nor
DICOM JSON, damaged), and, stopping at once, for a dictionary that does not open or is damaged
and for DICOM files without pydicom installed.
"""

from __future__ import annotations

import argparse
import os
import sys

from .command import CommandError, dictionary_error

COLUMN_LIMIT = 64

HEADERS = ["PATH", "VR", "DICT VR", "KEYWORD", "NAME", "CREATOR", "SOURCES", "NOTES"]
SUMMARY_HEADERS = ["TAG", "CREATOR", "NAME", "VR", "FILES", "ELEMENTS", "DEID"]


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("inputs", nargs="+", metavar="INPUT",
                   help="a DICOM file, a DICOM JSON document, or a folder of them")  # fmt: skip
    form = p.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the rows as one JSON array")
    form.add_argument("--jsonl", action="store_true", help="print one JSON object a line")
    p.add_argument("--summary", action="store_true",
                   help="one row per attribute over all inputs, then the counts")  # fmt: skip
    p.add_argument("--private-only", action="store_true", help="private elements only")
    p.add_argument("--deid", action="store_true",
                   help="add each element's de-identification action and a summary")  # fmt: skip
    p.add_argument("--deid-option", action="append", metavar="NAME",
                   help="a confidentiality profile option to apply (repeatable)")  # fmt: skip
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")


def _explain_row(r) -> list[str]:
    from .._audit.summary import UNKNOWN

    notes = (["retired"] if r.retired else []) + (["VR differs"] if r.vr_differs else [])
    return [
        r.path, r.vr or "-", r.dictionary_vr or "-", r.keyword,
        r.name if r.unknown is None else UNKNOWN[r.unknown],
        r.creator or "", ",".join(r.sources), ", ".join(notes),
    ]  # fmt: skip


def run(args: argparse.Namespace) -> int:
    from .._audit.progress import Progress
    from .._audit.run import Audit
    from .._dicom.dicom_file import PydicomMissingError
    from ..naming import Namer
    from .output import report

    try:
        namer = Namer(args.dict)
    except (OSError, ValueError) as e:
        raise dictionary_error(e, args.dict) from None
    actions = _actions(args, namer)
    several = len(args.inputs) > 1 or any(os.path.isdir(p) for p in args.inputs)
    progress = Progress(sys.stderr)
    audit = Audit(namer, private_only=args.private_only, report=report, progress=progress)
    files = audit.files(args.inputs)
    try:
        if args.summary:
            _summary(audit, files, args, actions)
        elif args.json or args.jsonl:
            _json(audit, files, several, args.jsonl, actions)
        else:
            _text(files, several, actions)
    except PydicomMissingError as e:
        raise CommandError(str(e)) from None
    except BaseException as e:
        # PanicException derives from BaseException; the class is looked up only when needed.
        import tagatlas

        if isinstance(e, tagatlas.PanicException):
            where = args.dict if args.dict is not None else "the bundled dictionary"
            raise CommandError(f"{where} is damaged: {e}") from None
        raise
    finally:
        progress.clear()
    return audit.status


def _actions(args, namer):
    """The de-identification actions asked for, or None."""
    if not (args.deid or args.deid_option):
        return None
    from . import deid as facts

    options = facts.checked_options(args.deid_option)
    return facts.Actions(facts.profile_of(namer._dict, args.dict), options)


def _text(files, several: bool, actions) -> None:
    from .output import columns, terminal_width, visible, wrapped, write_lines

    width = terminal_width()
    headers = [*HEADERS, "DEID"] if actions is not None else HEADERS
    first = True
    for path, rows in files:
        # One table a file: its rows are all the memory that columns need.
        cells, texts = [], []
        for r in rows:
            row = _explain_row(r)
            if actions is not None:
                row.append(actions.code(r) or "")
            cells.append(row)
            texts.append(r.text)
        if not cells:
            continue
        lines = columns(headers, cells, COLUMN_LIMIT)
        if several:
            # The file as given, never cut: it is the same on every line of its table.
            shown = visible(path)
            lines = [f"{'FILE'.ljust(len(shown))}  {lines[0]}",
                     *(f"{shown}  {line}" for line in lines[1:])]  # fmt: skip
        out = lines[:1] if first else ["", *lines[:1]]
        first = False
        for line, text in zip(lines[1:], texts):
            out.append(line)
            if text:
                out += wrapped(text, width)
        write_lines(sys.stdout, out)
    if actions is not None:
        write_lines(sys.stdout, ["", *actions.summary_lines()])


def _json(audit, files, several: bool, lines: bool, actions) -> None:
    from .output import JsonRows

    out = JsonRows(sys.stdout, lines=lines)
    for path, rows in files:
        for r in rows:
            item = {"file": path, **r._asdict()} if several else r._asdict()
            if actions is not None:
                item["deid"] = actions.code(r)
            out.write(item)
    if out.count or audit.status != 2:
        # An input given that could not be read leaves nothing, not an empty array, as before.
        out.close()


def _summary(audit, files, args, actions) -> None:
    from .._audit.summary import Summary
    from .output import JsonRows, columns, write_json, write_lines

    summary = Summary(None if actions is None else actions.action)
    for _, rows in files:
        if actions is not None:
            rows = _counting(rows, actions)
        summary.add_file(rows)
    rows = summary.rows()
    c = audit.counts
    counts = {"files_read": c.read, "skipped": c.skipped, "failed": c.failed,
              "elements": c.elements}  # fmt: skip
    if actions is not None:
        counts["private_kept"], counts["private_removed"] = actions.private_kept_removed()
    if args.jsonl:
        out = JsonRows(sys.stdout, lines=True)
        for row in rows:
            out.write(row._asdict())
        out.write({"counts": counts})
        return
    if args.json:
        write_json(sys.stdout, {"rows": [row._asdict() for row in rows], "counts": counts})
        return
    headers = SUMMARY_HEADERS if actions is not None else SUMMARY_HEADERS[:-1]
    cells = [[r.tag, r.creator or "", r.name, r.vr or "-", str(r.files), str(r.elements),
              r.deid or ""][: len(headers)] for r in rows]  # fmt: skip
    lines = columns(headers, cells, COLUMN_LIMIT) if cells else []
    lines.append(f"files: {c.read} read, {c.skipped} skipped, {c.failed} failed; "
                 f"elements: {c.elements}")  # fmt: skip
    if actions is not None:
        lines += actions.summary_lines()
    write_lines(sys.stdout, lines)


def _counting(rows, actions):
    for r in rows:
        actions.code(r)
        yield r
