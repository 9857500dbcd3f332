#!/usr/bin/env python3
"""Builds python/tagatlas/data/deid.json, the de-identification tables shipped with the package.

Input: the DICOM Standard's PS3.15 as DocBook, vendored at tools/sources/ps3.15-2026c/part15.xml
(Tables E.1-1a, E.1-1 and E.3.10-1). Nothing else is needed:

    python tools/build_deid_data.py          # writes the file and prints the table's counts
    python tools/build_deid_data.py --check  # exit 1 if a rebuild would change the file

The read fails, naming the place, when the document's tables do not have the shape the reader
checks (`tagatlas.importers.confidentiality`).
"""

from __future__ import annotations

import argparse
import json
import pathlib
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent
EDITION = "2026c"
SOURCE = REPO / "tools" / "sources" / f"ps3.15-{EDITION}" / "part15.xml"
OUTPUT = REPO / "python" / "tagatlas" / "data" / "deid.json"

sys.path.insert(0, str(REPO / "tools"))
from build_default_dict import load_checkout_package  # noqa: E402


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--source", type=pathlib.Path, default=SOURCE)
    parser.add_argument("--output", type=pathlib.Path, default=OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args(argv)

    load_checkout_package()
    from tagatlas.importers.confidentiality import read_confidentiality, to_json
    from tagatlas.importers.result import SourceError
    from tagatlas.importers.safe_private import read_safe_private

    try:
        table = read_confidentiality(args.source)
        rows = read_safe_private(args.source)
        safe = [(s.group, s.element, s.block_offset, s.creator) for s in rows]
    except SourceError as e:
        raise SystemExit(str(e)) from None
    text = to_json(table, safe, edition=f"PS3.15 {EDITION}")
    counts = {**table.counts(), "safe_private": len(safe)}
    print(json.dumps(counts, indent=2))
    if args.check:
        same = args.output.is_file() and args.output.read_text(encoding="utf-8") == text
        print(f"{args.output}: {'up to date' if same else 'differs from a rebuild'}")
        return 0 if same else 1
    args.output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
