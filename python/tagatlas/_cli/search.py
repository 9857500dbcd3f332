"""`tagatlas search WORDS... [--public|--private] [--creator C] [--retired|--current]
[--descriptions] [--json] [--dict FILE]`: entries by words of their keyword or name.

Exit status 1 when no entry matches.
"""

from __future__ import annotations

import argparse
import sys

from .command import EXIT_NOT_FOUND, EXIT_OK, CommandError, dictionary_error


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("words", nargs="+", metavar="WORD", help="all must occur (case ignored)")
    which = p.add_mutually_exclusive_group()
    which.add_argument("--public", action="store_true", help="public entries only")
    which.add_argument("--private", action="store_true", help="private entries only")
    p.add_argument("--creator", metavar="C", help="entries of this private creator only")
    age = p.add_mutually_exclusive_group()
    age.add_argument("--retired", action="store_true", help="retired entries only")
    age.add_argument("--current", action="store_true", help="entries not retired only")
    p.add_argument("--descriptions", action="store_true", help="search the descriptive text too")
    p.add_argument("--json", action="store_true", help="print the matches as a JSON array")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")


def _search_rows(hits) -> list[list[str]]:
    return [
        [h.tag, h.keyword, h.name, h.vr, h.creator or "", "retired" if h.retired else ""]
        for h in hits
    ]


def run(args: argparse.Namespace) -> int:
    from ..search import search
    from .output import columns, terminal_width, wrapped, write_json, write_lines

    if args.creator is not None:
        if args.public:
            raise CommandError("--creator selects private entries; it cannot go with --public")
        try:
            args.creator.encode("utf-8")
        except UnicodeEncodeError:
            raise CommandError(f"--creator {args.creator!r} is not valid UTF-8") from None
    try:
        hits = search(
            args.words,
            private=True if args.private or args.creator is not None else
            False if args.public else None,
            creator=args.creator,
            retired=True if args.retired else False if args.current else None,
            descriptions=args.descriptions,
            dictionary=args.dict,
        )  # fmt: skip
    except (OSError, ValueError) as e:
        raise dictionary_error(e, args.dict) from None
    if not hits:
        message = f"no entry matches {' '.join(map(repr, args.words))}"
        if args.json:
            print("[]")
            print(message, file=sys.stderr)
        else:
            write_lines(sys.stdout, [message])
        return EXIT_NOT_FOUND
    if args.json:
        write_json(sys.stdout, [h._asdict() for h in hits], one_per_line=True)
        return EXIT_OK
    lines = columns(["TAG", "KEYWORD", "NAME", "VR", "CREATOR", "RETIRED"], _search_rows(hits))
    if args.descriptions:
        # The descriptive text, where there is any, under its row.
        width, out = terminal_width(), lines[:1]
        for line, hit in zip(lines[1:], hits):
            out += [line] + wrapped(hit.text, width)
        lines = out
    write_lines(sys.stdout, lines)
    return EXIT_OK
