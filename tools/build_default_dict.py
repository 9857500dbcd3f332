#!/usr/bin/env python3
"""Builds python/tagatlas/data/default.tatl, the dictionary shipped with the package.

Inputs: every file source of the registry (`tagatlas.importers.sources`) as vendored under
tools/sources/ (see the README there), the tables of the pydicom version pinned in
tools/requirements-data.txt, and the descriptive texts of the DICOM Standard from the
dicom-standard package pinned there; the de-identification facts of PS3.15 come from the
package's own tables (python/tagatlas/data/deid.json, tools/build_deid_data.py):

    pip install -r tools/requirements-data.txt
    python tools/build_default_dict.py          # writes it, its sources manifest, the report
    python tools/build_default_dict.py --check  # exit 1 if a rebuild would change either file

The output depends only on those inputs: the same inputs give the same bytes. Beside the file goes
its sources manifest (`default.sources.json`: each source's edition, version and input SHA-256s;
`tagatlas info` prints it as "built from:"); tools/default_dict_inputs.json records the pinned
package versions and the build report, so that a later rebuild (and the test suite) can tell a
changed input from a changed builder.
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
SOURCES_DIR = REPO / "tools" / "sources"
INPUTS = REPO / "tools" / "default_dict_inputs.json"
REQUIREMENTS = REPO / "tools" / "requirements-data.txt"


def load_checkout_package():
    """Makes `import tagatlas.X` import this checkout's pure-Python modules.

    The package's __init__ (which loads the compiled extension) is bypassed: a stand-in package
    module points at the checkout's folder. That keeps the build independent of whichever tagatlas
    is installed, and of a built extension.
    """
    package = types.ModuleType("tagatlas")
    package.__path__ = [str(PACKAGE_DIR)]
    sys.modules["tagatlas"] = package


def pinned(package: str) -> str:
    for line in REQUIREMENTS.read_text().splitlines():
        name, sep, version = line.partition("==")
        if sep and name.strip().lower() == package:
            return version.strip()
    raise SystemExit(f"{REQUIREMENTS}: no {package}==VERSION line")


def inputs(sources_dir: pathlib.Path):
    """(registry source, its vendored files) for every file source; exits when one is missing."""
    from tagatlas.importers.sources import SOURCES, default_files

    out = []
    for source in SOURCES:
        if not source.takes_files:
            continue
        files = default_files(source, sources_dir)
        if not files:
            raise SystemExit(f"{sources_dir / source.folder}: no {', '.join(source.files)}")
        out.append((source, files))
    return out


def installed(package: str, load):
    try:
        value = load()
    except ImportError:
        raise SystemExit(f"{package} is missing (pip install -r tools/requirements-data.txt)") from None
    if value.version != pinned(package):
        raise SystemExit(f"{package} {value.version} installed, {pinned(package)} pinned")
    return value


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", type=pathlib.Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    parser.add_argument("--sources", type=pathlib.Path, default=SOURCES_DIR, metavar="DIR",
                        help="the vendored sources (default: tools/sources)")  # fmt: skip
    args = parser.parse_args(argv)

    load_checkout_package()
    from tagatlas import build, writer
    from tagatlas.build_report import report_counts, report_lines
    from tagatlas.importers.pydicom_tables import load_tables
    from tagatlas.importers.sources import SOURCES
    from tagatlas.importers.standard import import_standard
    from tagatlas.manifest import encode_manifest, make_manifest, manifest_path

    files = inputs(args.sources)
    tables = installed("pydicom", load_tables)
    standard = installed("dicom-standard", import_standard)
    result = build.build(
        inputs={source.name: paths for source, paths in files},
        pydicom_tables=tables,
        standard_texts=standard.texts,
        deid=True,
    )
    data = writer.encode(result.entries)
    # Every source of the registry, in its order: the vendored files, and pydicom's version.
    paths_of = {source.name: paths for source, paths in files}
    used = [(s, paths_of.get(s.name, []), "" if s.takes_files else tables.version) for s in SOURCES]
    manifest = encode_manifest(make_manifest(used))
    beside = pathlib.Path(manifest_path(args.output))

    for line in report_lines(result):
        print(line)
    deid = result.deid
    print(f"deid facts ({deid.edition}): {deid.listed} listed entries, {deid.masked} in masks, "
          f"{deid.safe} safe private ({len(deid.safe_missing)} of Table E.3.10-1 not held)")  # fmt: skip
    if args.check:
        same = args.output.is_file() and args.output.read_bytes() == data
        same_manifest = beside.is_file() and beside.read_bytes() == manifest
        print(f"{args.output}: {'up to date' if same else 'differs from a rebuild'}")
        print(f"{beside}: {'up to date' if same_manifest else 'differs from a rebuild'}")
        return 0 if same and same_manifest else 1

    writer.write(args.output, result.entries)
    beside.write_bytes(manifest)
    record = {
        "pydicom": tables.version,
        "dicom_standard": standard.version,
        "output_sha256": hashlib.sha256(data).hexdigest(),
        "bytes": len(data),
        "entries": report_counts(result)["entries"],
        "described": sum(1 for e in result.entries if "\n" in e.description),
        "report": report_counts(result),
        "deid": {"listed": deid.listed, "masked": deid.masked, "safe_private": deid.safe},
    }
    INPUTS.write_text(json.dumps(record, indent=2) + "\n")
    print(f"wrote {args.output} ({len(data)} bytes) and {beside.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
